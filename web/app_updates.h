#pragma once

#include <stddef.h>

#include "runtime/iomux.h"
#include "runtime/istd_list.h"

class AppUpdatesFilterY;
class AppUpdatesFilters;
class AppUpdatesUser;

// Base of every update: a change that the filters of one group are asked
// about. Owned by the distribution from AppUpdates::StartUpdate on; deleted
// once it has passed every filter and no queued entry refers to it.
class AppUpdate : public istd::listElement {
public:
    // With a user name the update reaches only that user's filters of the
    // group (none, when the user has none).
    AppUpdate(AppUpdatesFilters* group, const char* user);
    AppUpdate(const AppUpdate&) = delete;
    AppUpdate& operator=(const AppUpdate&) = delete;
    ~AppUpdate() override;

    AppUpdatesFilters* Group() const { return group; }
    AppUpdatesUser* User() const { return user; }
    unsigned QueuedCount() const { return queued; }
    // Bits of what the update is about: a filter whose Gate shares none
    // with it cannot take it and is passed over without a Test.
    virtual unsigned long long Gate() const { return ~0ULL; }

private:
    friend class AppUpdates;
    friend class AppUpdatesQueued;

    AppUpdatesFilters* group;
    AppUpdatesUser* user = nullptr;
    unsigned queued = 0;
};

// One update waiting for one filter of a session that has an update in
// flight: an element of the session's queue and of the filter's list.
class AppUpdatesQueued : public istd::listElement {
public:
    AppUpdatesQueued(AppUpdate* update, AppUpdatesFilterY* filter);
    AppUpdatesQueued(const AppUpdatesQueued&) = delete;
    AppUpdatesQueued& operator=(const AppUpdatesQueued&) = delete;
    // The last entry of an update that has left the FIFO deletes the update.
    ~AppUpdatesQueued() override;

    AppUpdate* Update() const { return update; }
    AppUpdatesFilterY* Filter() const { return filter; }
    static AppUpdatesQueued* OfFilterLink(istd::listElement* link);
    // Out of the filter's list: the filter may go while the entry is sent.
    void DetachFilter();

private:
    class FilterLink : public istd::listElement {
    public:
        explicit FilterLink(AppUpdatesQueued* entry) : entry(entry) {}
        AppUpdatesQueued* entry;
    };

    AppUpdate* update;
    AppUpdatesFilterY* filter;
    FilterLink filterLink;
};

// The instance side of update distribution: the sessions, and the FIFO of
// updates handed out one after another, each to its group's filters in list
// order, a few filters per deferred call so that no call runs long.
class AppUpdates : public UIoExec {
public:
    // A call ends after this many filters that took the update (sent or
    // queued it), or after TESTS_PER_CALL filters tested (a test costs a
    // hundredth of a send), or after SLOTS_PER_CALL filters of the group
    // passed over by their Gate, which cost a few nanoseconds each.
    static const unsigned FILTERS_PER_CALL = 10;
    static const unsigned TESTS_PER_CALL = 500;
    static const unsigned SLOTS_PER_CALL = 16384;

    explicit AppUpdates(IIoMux* iomux);
    // Sessions are gone by now; updates still waiting are dropped.
    ~AppUpdates() override;

    // Takes the update over; distribution starts on a later loop pass.
    void StartUpdate(AppUpdate* update);
    // Deletes the updates nobody has been given yet: an owner whose filter
    // groups go before this object calls it first (the updates refer to them).
    void DropPending();
    void IoExec(void* param) override;

    unsigned PendingUpdates() const { return fifo.size(); }
    unsigned SessionCount() const { return sessions.size(); }

private:
    friend class AppUpdatesSession;
    friend class AppUpdatesFilterY;

    // One slice of the head update: false when it has passed every filter.
    bool PassUser(AppUpdate* update);
    bool PassGroup(AppUpdate* update);
    // Sends or queues the update when the filter's session takes updates and
    // the filter takes this one; true then.
    bool Offer(AppUpdatesFilterY* filter, AppUpdate* update);
    void Finish(AppUpdate* update);
    // Where the head update resumes, moved on when that filter goes.
    void FilterGone(AppUpdatesFilterY* filter);

    IIoMux* iomux;
    istd::list sessions;
    istd::list fifo;
    // Where the head update resumes: a filter of its user's block, or a slot
    // of its group.
    AppUpdatesFilterY* cursor = nullptr;
    size_t scan = 0;
    // The head update has been handed to some filters already; the cursor
    // may be null then because the filter it named went away.
    bool resuming = false;
    // The head update's Gate.
    unsigned long long gate = ~0ULL;
    unsigned long long nextSessionId = 1;
};

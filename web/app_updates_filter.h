#pragma once

#include <stddef.h>

#include "runtime/btree.h"
#include "runtime/istd_list.h"

#include <vector>

class AppUpdate;
class AppUpdates;
class AppUpdatesFilterY;
class AppUpdatesFilters;
class AppUpdatesSession;

// The filters of one user within one group. Those filters lie next to each
// other in the group's list, newest first, so an update for one user walks
// only them. Filters and updates of the user each hold a reference; the entry
// goes when the last one lets go.
class AppUpdatesUser : public btree {
public:
    AppUpdatesUser(const AppUpdatesUser&) = delete;
    AppUpdatesUser& operator=(const AppUpdatesUser&) = delete;
    // User names are SIP names, which the database compares without regard
    // to ASCII letter case; so does this tree.
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    const char* Name() const { return name; }
    // Null while only updates refer to the entry.
    AppUpdatesFilterY* First() const { return first; }

private:
    friend class AppUpdatesFilters;
    friend class AppUpdatesFilterY;
    explicit AppUpdatesUser(const char* name);
    ~AppUpdatesUser() override;

    char* name;
    AppUpdatesFilterY* first = nullptr;
    unsigned references = 0;
};

// One kind of update and the filters that watch for it, in distribution
// order. A group carries updates of one type only: its filters take what
// they are given as that type.
class AppUpdatesFilters {
public:
    AppUpdatesFilters() {}
    AppUpdatesFilters(const AppUpdatesFilters&) = delete;
    AppUpdatesFilters& operator=(const AppUpdatesFilters&) = delete;
    // The filters belong to sessions, which delete them before the group goes.
    ~AppUpdatesFilters();

    AppUpdatesFilterY* First() const;
    unsigned Count() const { return filters.size(); }
    AppUpdatesUser* FindUser(const char* name) const;

    // The user's entry with one more reference, made when it is new.
    AppUpdatesUser* TakeUser(const char* name);
    void ReleaseUser(AppUpdatesUser* user);

private:
    friend class AppUpdates;
    friend class AppUpdatesFilterY;

    // A filter and its Gate as last read, 0 while it is to be read.
    struct Slot {
        AppUpdatesFilterY* filter;
        unsigned long long gate;
    };
    void Vacate(size_t slot);
    void ScanEnded();
    void CompactIfSparse();

    istd::list filters;
    btree* users = nullptr;
    // Every filter in the order of registration, for the updates of the whole
    // group: most filters cannot take an update, and passing over them in this
    // array costs a fraction of reading each one's list entry, which lies
    // somewhere in the heap. Gone filters leave empty slots; the array closes
    // them up when they are many, never while an update is being handed out.
    std::vector<Slot> slots;
    size_t vacant = 0;
    bool scanning = false;
};

// Base of every filter: one session's wish to hear of updates of one group,
// optionally limited to the updates of one user. Registered on construction,
// unregistered on deletion; a filter whose name is taken replaces the
// session's filter of that name in the same group.
class AppUpdatesFilterY : public istd::listElement, public btree {
public:
    // name is the client's "src" (copied, may be null); user binds the
    // filter to that user's updates and to its block in the group.
    AppUpdatesFilterY(AppUpdatesFilters* group, AppUpdatesSession* session, const char* name, const char* user);
    // A filter of no session, unnamed, that the service keeps for itself.
    // It takes the place of a filter whose session receives no more updates
    // (same group and user, right after it), so that an update being
    // distributed reaches exactly one of the two. Its Send is called as soon
    // as Test accepts, never queued.
    explicit AppUpdatesFilterY(const AppUpdatesFilterY* place);
    AppUpdatesFilterY(const AppUpdatesFilterY&) = delete;
    AppUpdatesFilterY& operator=(const AppUpdatesFilterY&) = delete;
    // Entries queued for this filter are discarded: they never send.
    ~AppUpdatesFilterY() override;

    // Ordered by (name, group); unnamed filters never collide.
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    // Both run on the loop from the distribution or from the session's send
    // result. Send either sends through the session's SendUpdate or does
    // nothing. Neither may delete a session; Send may delete filters.
    virtual bool Test(AppUpdate* update) = 0;
    virtual void Send(AppUpdate* update) = 0;
    // Bits of the updates the filter may take (AppUpdate::Gate); every bit
    // set is always right. Read once into the group's array and kept there
    // until GateChanged, so that the many filters an update cannot reach
    // cost no more than their slot.
    virtual unsigned long long Gate() { return ~0ULL; }
    // What Gate returns has changed: it is read again for the next update.
    void GateChanged();

    AppUpdatesFilterY* Next() const { return static_cast<AppUpdatesFilterY*>(goNext()); }
    const char* Name() const { return name; }
    AppUpdatesFilters* Group() const { return group; }
    // Null for a filter the service keeps for itself.
    AppUpdatesSession* Session() const { return session; }
    AppUpdatesUser* User() const { return user; }
    unsigned QueuedCount() const { return queued.size(); }
    // The updates queued for this filter, oldest first.
    std::vector<AppUpdate*> QueuedUpdates() const;

    // Lookup key of the session's filter tree.
    struct Key {
        const char* name;
        const AppUpdatesFilters* group;
    };

private:
    friend class AppUpdates;
    friend class AppUpdatesFilters;
    friend class AppUpdatesQueued;
    void Register(const char* userName);

    char* name;
    AppUpdatesFilters* group;
    AppUpdatesSession* session;
    AppUpdates* updates;
    AppUpdatesUser* user = nullptr;
    // Index in the group's slots; NO_SLOT once a filter in its place took it.
    static const size_t NO_SLOT = ~size_t(0);
    size_t slot = NO_SLOT;
    // AppUpdatesQueued entries waiting to be sent through this filter.
    istd::list queued;
};

// A filter of updates of type T; the concrete filter defines the typed pair.
template <class T>
class AppUpdatesFilter : public AppUpdatesFilterY {
public:
    AppUpdatesFilter(AppUpdatesFilters* group, AppUpdatesSession* session, const char* name, const char* user)
        : AppUpdatesFilterY(group, session, name, user)
    {
    }
    explicit AppUpdatesFilter(const AppUpdatesFilterY* place) : AppUpdatesFilterY(place) {}
    bool Test(AppUpdate* update) final { return Test(static_cast<T*>(update)); }
    void Send(AppUpdate* update) final { Send(static_cast<T*>(update)); }
    virtual bool Test(T* update) = 0;
    virtual void Send(T* update) = 0;
};

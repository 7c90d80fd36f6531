#pragma once

#include "runtime/task.h"
#include "web/app_updates.h"

class IDatabase;
class MessageContent;
class TaskReadDn;

// Updates share their message instead of copying it per session: each takes
// a share (useCount) and whoever gives up the last share deletes the
// content. A creator that hands content to updates therefore lets go of it
// and does not delete it; one that keeps using it holds a share of its own
// and gives it up with MessageContentRelease.
void MessageContentRelease(MessageContent* content);

// A posted (or liked) message, for the message filters.
class MessagesUpdateMessage : public AppUpdate, public UTask {
public:
    // sessionId and src name the request that caused the update, so that its
    // own filter of that name is spared; src may be null.
    MessagesUpdateMessage(AppUpdatesFilters* messageFilters, unsigned long long sessionId, const char* src,
                          unsigned long long timestamp, MessageContent* message, bool liked);
    ~MessagesUpdateMessage() override;

    // For a post: looks the author's display name up, then starts the
    // update on hub. Without a database or an author it is started at once;
    // a failed look-up starts it without the name. The update belongs to the
    // distribution from this call on. A like goes to StartUpdate directly.
    void Start(AppUpdates* hub, IDatabase* database);

    unsigned long long SessionId() const { return sessionId; }
    const char* Src() const { return src; }
    unsigned long long Timestamp() const { return timestamp; }
    MessageContent* Message() const { return message; }
    bool Liked() const { return liked; }
    const char* Dn() const { return dn; }

private:
    // NEW until Start; LOOKING_UP while the name is read; then the update
    // belongs to the distribution.
    enum State { NEW, LOOKING_UP, STARTED };
    void SetState(State next);
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void Looked(const char* name);

    State state = NEW;
    unsigned long long sessionId;
    char* src;
    unsigned long long timestamp;
    MessageContent* message;
    bool liked;
    char* dn = nullptr;
    AppUpdates* hub = nullptr;
    TaskReadDn* lookup = nullptr;
};

// A change of the unread state of a message, for the read filters: change
// positive for one more unread, negative for one more read, 0 when count is
// the absolute number that applies.
class MessagesUpdateRead : public AppUpdate {
public:
    // With a user, only that user's read filters hear of it.
    MessagesUpdateRead(AppUpdatesFilters* readFilters, MessageContent* message, int change, unsigned count = 0,
                       const char* user = nullptr);
    ~MessagesUpdateRead() override;

    MessageContent* Message() const { return message; }
    int Change() const { return change; }
    unsigned Count() const { return count; }

protected:
    // For an update that is its own message, set afterwards with
    // SetOwnMessage: no share is taken of it.
    MessagesUpdateRead(AppUpdatesFilters* readFilters, const char* user);
    void SetOwnMessage(MessageContent* own) { message = own; }
    void SetCount(unsigned value) { count = value; }

private:
    MessageContent* message;
    int change;
    unsigned count;
    bool shared;
};

#pragma once

#include "runtime/task.h"
#include "web/app_updates.h"

class IDatabase;
class MessageContent;
class TaskReadDn;

// A posted (or liked) message, for the message filters.
class MessagesUpdateMessage : public AppUpdate, public UTask {
public:
    // sessionId and src name the request that caused the update, so that its
    // own filter of that name is spared; src may be null.
    MessagesUpdateMessage(AppUpdatesFilters* messageFilters, unsigned long long sessionId, const char* src,
                          unsigned long long timestamp, MessageContent* message, bool liked);
    ~MessagesUpdateMessage() override;

    // For a post: looks the author's display name up, then starts the
    // update on hub. With the name known already (the author's own session
    // knows it), without a database or without an author it is started at
    // once; a failed look-up starts it without the name. The update belongs
    // to the distribution from this call on. A like goes to StartUpdate directly.
    void Start(AppUpdates* hub, IDatabase* database, const char* knownDn = nullptr);

    unsigned long long SessionId() const { return sessionId; }
    const char* Src() const { return src; }
    unsigned long long Timestamp() const { return timestamp; }
    MessageContent* Message() const { return message; }
    unsigned long long Gate() const override;
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

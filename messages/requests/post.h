#pragma once

#include "messages/requests/messages_request.h"

class TaskDeleteMessage;
class TaskStoreMessage;
class TaskUpdateMessage;

// Requests that change messages: posting a new one, editing and deleting
// one's own. Each replies with "error": true when its task failed.

// "Post": stores the message; once the reply has left, announces it to the
// message filters of every session and to the unread filters.
class Post : public MessagesRequest {
public:
    // Takes over the store task, which holds the message and its arguments.
    Post(MessagesRequestContext* context, TaskStoreMessage* store);
    ~Post() override;
    void Begin() override;

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void Done(bool failed);
    void AfterReply() override;

    TaskStoreMessage* store;
    bool stored = false;
};

// "Update": new text, notifications and tags, by the author only.
class Update : public MessagesRequest {
public:
    // Takes over the update task; id is the message's, for the reply.
    Update(MessagesRequestContext* context, unsigned long long id, TaskUpdateMessage* update);
    ~Update() override;
    void Begin() override;

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void Done(bool failed);

    unsigned long long id;
    TaskUpdateMessage* update;
};

// "Delete": the message and everything that replies to it, by the author only.
class Delete : public MessagesRequest {
public:
    Delete(MessagesRequestContext* context, unsigned long long id);
    ~Delete() override;
    void Begin() override;

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void Done(bool failed);

    TaskDeleteMessage* remove = nullptr;
    unsigned long long id;
};

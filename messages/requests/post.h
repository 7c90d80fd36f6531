#pragma once

#include <string>
#include <vector>

#include "messages/requests/messages_request.h"

class TaskDeleteMessage;
class TaskStoreMessage;
class TaskUpdateMessage;

// Requests that change messages: posting a new one, editing and deleting
// one's own. Each replies with "error": true when its task failed.

// "Post": stores the message; once the reply has left, announces it to the
// message filters of every session and to the unread filters, and has the
// files of its "attach" fetched (unless they are being fetched already).
class Post : public MessagesRequest {
public:
    // Takes over the store task, which holds the message and its arguments.
    // bases: where the session reaches the instance, its address
    // ("http://HOST/WEBPATH") and its web path; the buffers it was handed
    // under them are read from the instance's tables, not fetched.
    Post(MessagesRequestContext* context, TaskStoreMessage* store, std::vector<std::string> bases);
    ~Post() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;
    void AfterReply() override;

    TaskStoreMessage* store;
    std::vector<std::string> bases;
};

// "Update": new text, notifications and tags, by the author only.
class Update : public MessagesRequest {
public:
    // Takes over the update task; id is the message's, for the reply.
    Update(MessagesRequestContext* context, unsigned long long id, TaskUpdateMessage* update);
    ~Update() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

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
    void Done(ITask* task, bool failed) override;

    TaskDeleteMessage* remove = nullptr;
    unsigned long long id;
};

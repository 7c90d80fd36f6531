#pragma once

#include <string>
#include <vector>

#include "messages/requests/messages_request.h"

class TaskChatRecipients;
class TaskDeleteMessage;
class TaskStoreMessage;
class TaskUpdateMessage;

// Requests that change messages: posting a new one, editing and deleting
// one's own. Each replies with "error": true when its task failed.

// "Post": stores the message; once the reply has left, announces it to the
// message filters of every session and to the unread filters, and has the
// files of its "attach" fetched (unless they are being fetched already).
// A chat message that a person (not the app object) writes into the own
// topic with "deliver": true is also delivered before the reply: a copy goes into the topic of
// each notified person and of each member of a notified group, as the app
// object would write it, so that people chat from any client; the copies
// are announced with the message and get its files. A copy that cannot be
// stored is left out.
class Post : public MessagesRequest {
public:
    // Takes over the store task, which holds the message and its arguments.
    // bases: where the session reaches the instance, its address
    // ("http://HOST/WEBPATH") and its web path; the buffers it was handed
    // under them are read from the instance's tables, not fetched.
    // deliver: the message is a person's chat message in the own topic.
    Post(MessagesRequestContext* context, TaskStoreMessage* store, std::vector<std::string> bases, bool deliver);
    ~Post() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;
    void TaskProgress(ITask* task, unsigned progress) override;
    void AfterReply() override;
    void DeliverNext();
    void Posted(bool failed);

    TaskStoreMessage* store;
    std::vector<std::string> bases;
    bool deliver;
    TaskChatRecipients* recipients = nullptr;
    // The copies of a chat message, stored one after another.
    std::vector<TaskStoreMessage*> copies;
    size_t delivered = 0;
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
    void AfterReply() override;

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
    void AfterReply() override;

    TaskDeleteMessage* remove = nullptr;
    unsigned long long id;
};

#pragma once

#include "messages/readable_topics.h"
#include "messages/requests/row_requests.h"

class IDatabase;
class MessageContent;
class TaskLike;

// "Like" and "UnLike": the session's user likes a message or takes the like
// back. A like is announced to the liked-message filters of every session
// once its reply has left, with the message as the client described it.
class Like : public MessagesRequest {
public:
    // Takes a share of the content to announce (null: nothing to announce).
    // Only a message of the readable topics can be liked.
    Like(MessagesRequestContext* context, unsigned long long id, MessageContent* content,
         const MessagesReadableTopics& readable)
        : Like(context, id, content, readable, true)
    {
    }
    ~Like() override;
    void Begin() override;

protected:
    Like(MessagesRequestContext* context, unsigned long long id, MessageContent* content,
         const MessagesReadableTopics& readable, bool like);

private:
    void Done(ITask* task, bool failed) override;
    void AfterReply() override;

    unsigned long long id;
    MessageContent* content;
    MessagesReadableTopics readable;
    bool like;
    TaskLike* task = nullptr;
};

class UnLike : public Like {
public:
    UnLike(MessagesRequestContext* context, unsigned long long id)
        : Like(context, id, nullptr, MessagesReadableTopics(), false)
    {
    }
};

// "Likes": who liked a message, latest first, one "Like" each, then the reply.
class Likes : public ReadRows {
public:
    // Only likes of a message of the readable topics are listed.
    Likes(MessagesRequestContext* context, unsigned long long id, IDatabase* database,
          const MessagesReadableTopics& readable);

    // One page holds at most this many likes.
    static const unsigned PAGE_SIZE = 100;

private:
    void Describe(IDataSet* row, MessagesReply& out) override;

    unsigned long long id;
};

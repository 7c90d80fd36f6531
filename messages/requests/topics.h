#pragma once

#include "messages/requests/row_requests.h"

class MessagesSession;
class TaskWriteTopic;
class json_io;

// Topics and who may use them, for administrators: "WriteTopic" creates, renames
// or deletes a topic or sub-topic, "ReadTopicAccess" lists and "WriteTopicAccess"
// adds or removes access rows.

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateWriteTopic(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadTopicAccess(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateWriteTopicAccess(MessagesSession& session, json_io& msg, unsigned short base);

// "WriteTopic": once the topic is written, the session's own topics follow
// the change, so that the administrator can post to a new topic at once.
class WriteTopic : public WriteRow {
public:
    WriteTopic(MessagesRequestContext* context, TaskWriteTopic* write);

private:
    void Written() override;

    TaskWriteTopic* topic;
};

// "ReadTopicAccess": one "TopicAccess" per access row of a topic.
class ReadTopicAccess : public ReadRows {
public:
    ReadTopicAccess(MessagesRequestContext* context, MessagesTaskRows* rows)
        : ReadRows(context, rows, "TopicAccess", "ReadTopicAccessResult")
    {
    }

private:
    void Describe(IDataSet* row, MessagesReply& out) override;
};

// "WriteTopicAccess": grants a topic or takes a grant back. Sessions that
// are open keep their topics; the change shows at their users' next login.
class WriteTopicAccess : public WriteRow {
public:
    WriteTopicAccess(MessagesRequestContext* context, MessagesTaskWrite* write)
        : WriteRow(context, write, false, "WriteTopicAccessResult", false)
    {
    }
};

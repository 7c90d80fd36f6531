#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// Topics and who may use them, for administrators: "WriteTopic" creates, renames
// or deletes a topic or sub-topic, "ReadTopicAccess" lists and "WriteTopicAccess"
// adds or removes access rows.

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateWriteTopic(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadTopicAccess(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateWriteTopicAccess(MessagesSession& session, json_io& msg, unsigned short base);

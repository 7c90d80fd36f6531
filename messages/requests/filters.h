#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// Saved filters of a user and tag names: "ReadFilters", "WriteFilter", "ReadTags".

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateReadFilters(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateWriteFilter(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadTags(MessagesSession& session, json_io& msg, unsigned short base);

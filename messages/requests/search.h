#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// Full-text search of the messages a user may read: "Search".

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateSearch(MessagesSession& session, json_io& msg, unsigned short base);

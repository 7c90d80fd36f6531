#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// One row of the session API: a message type, whether only an administrator
// may send it (for anybody else it is unknown), and the factory that turns
// the message into a request. A factory that returns null has done all
// there is to do (or refused the message silently): the session takes the
// next message at once.
struct MessagesDispatchRow {
    const char* mt;
    bool adminOnly;
    MessagesRequest* (*create)(MessagesSession& session, json_io& msg, unsigned short base);
};

// The row for mt that the session may use, or null: an unknown message,
// which gets no reply.
const MessagesDispatchRow* MessagesDispatchFind(const char* mt, bool admin);

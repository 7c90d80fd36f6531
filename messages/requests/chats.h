#pragma once

#include <string>

#include "messages/requests/row_requests.h"

class MessagesSession;
class TaskDeleteChat;
class TaskReadChat;
class json_io;

// One-to-one and group chats: "ReadChat", "DeleteChat", "ReadChats".
//
// A chat lives in a user's own topic: the type-1 discussions there whose
// messages notify the partner, a user or a group. Each side keeps its own
// copy: a message between ann and bob is posted into ann's topic notifying
// bob and into bob's topic notifying ann, with the writer as author (a user
// posts into the own topic; the app object posts for users into any). A
// group chat's messages notify the group, one copy in each member's topic.
//
// A session reads and deletes the chats of its own user only, as nobody
// else's personal topic is its to post to either; the app object, which
// acts for its users, reaches every user's. A chat request for a topic the session may not use, or naming
// none, is answered with "error": true and does nothing.

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateReadChat(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateDeleteChat(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadChats(MessagesSession& session, json_io& msg, unsigned short base);

// Where the file links of a chat row point and whom they name: the
// instance's address as the client reached it, the session's number, and
// the user session (number and key) or, without one, the session's key.
struct ChatLinks {
    std::string address;
    unsigned long long session = 0;
    unsigned long long userSession = 0;
    unsigned long long key = 0;
};

// "ReadChat": a page of one chat, newest first, as "ReadChatInd" rows (none
// with "noind"); what the user had not read is marked read. The reply
// follows an announcement of the user's unread chat count.
class ReadChat : public MessagesRequest {
public:
    // Takes over the task; topic is the chat's topic.
    ReadChat(MessagesRequestContext* context, TaskReadChat* read, const char* topic, const ChatLinks& links);
    ~ReadChat() override;
    void Begin() override;

private:
    void TaskProgress(ITask* task, unsigned progress) override;
    void Done(ITask* task, bool failed) override;

    TaskReadChat* read;
    std::string topic;
    ChatLinks links;
};

// "DeleteChat": the user's copy of one chat goes; the partner's stays.
class DeleteChat : public MessagesRequest {
public:
    DeleteChat(MessagesRequestContext* context, TaskDeleteChat* remove, const char* topic);
    ~DeleteChat() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

    TaskDeleteChat* remove;
    std::string topic;
};

// "ReadChats": one "ReadChatsInd" per chat partner of a user, latest first.
class ReadChats : public ReadRows {
public:
    ReadChats(MessagesRequestContext* context, MessagesTaskRows* rows, bool unread)
        : ReadRows(context, rows, "ReadChatsInd", "ReadChatsResult"), unread(unread)
    {
    }

private:
    void Describe(IDataSet* row, MessagesReply& out) override;

    bool unread;
};

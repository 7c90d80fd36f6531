#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// One-to-one and group chats: "ReadChat", "DeleteChat", "ReadChats".

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateReadChat(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateDeleteChat(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadChats(MessagesSession& session, json_io& msg, unsigned short base);

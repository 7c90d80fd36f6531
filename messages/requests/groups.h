#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// Groups and their members: "WriteGroup", "ReadGroups", "ReadMembers", "WriteMember".

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateWriteGroup(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadGroups(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadMembers(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateWriteMember(MessagesSession& session, json_io& msg, unsigned short base);

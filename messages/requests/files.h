#pragma once

class MessagesRequest;
class MessagesSession;
class json_io;

// Files of messages and upload buffers: "Attachments" lists a message's
// files with their download links, "CreateFileBuffer" makes a buffer a
// client uploads into before it posts.

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateAttachments(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateCreateFileBuffer(MessagesSession& session, json_io& msg, unsigned short base);

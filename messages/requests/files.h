#pragma once

#include <string>
#include <vector>

#include "messages/requests/messages_request.h"

class MessagesSession;
class TaskAttachments;
class TaskCreateFileBuffer;
class json_io;

// Files of messages and upload buffers: "Attachments" lists a message's
// files with their download links, "CreateFileBuffer" makes a buffer a
// client uploads into before it posts.

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateAttachments(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateCreateFileBuffer(MessagesSession& session, json_io& msg, unsigned short base);

// "Attachments": one reply whose "files" hold each file's id, name and a
// link relative to the web path that carries this session's number and key.
// A message the session may not read has no files; so has one when the
// database fails (the reply comes all the same).
class Attachments : public MessagesRequest {
public:
    // Takes the task.
    Attachments(MessagesRequestContext* context, TaskAttachments* task);
    ~Attachments() override;
    void Begin() override;

    // One reply lists at most this many files.
    static const unsigned PAGE_SIZE = 100;

private:
    struct File {
        unsigned long long id;
        std::string name, url;
    };
    void TaskProgress(ITask* task, unsigned progress) override;
    void Done(ITask* task, bool failed) override;

    TaskAttachments* task;
    std::vector<File> files;
};

// "CreateFileBuffer": a new buffer named after "name"; the reply gives its
// "id", the "url" to upload to and download from, the session's "host" and
// the "req" path below it; "error": true when it could not be made.
class CreateFileBuffer : public MessagesRequest {
public:
    // Takes the task. Address: where the client reaches the instance
    // ("http://host/path"); webPath: the instance's path alone.
    CreateFileBuffer(MessagesRequestContext* context, TaskCreateFileBuffer* task, const std::string& address,
                     const std::string& webPath, const std::string& host);
    ~CreateFileBuffer() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

    TaskCreateFileBuffer* task;
    std::string address, webPath, host;
};

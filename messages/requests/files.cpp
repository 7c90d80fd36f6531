#include "messages/requests/files.h"

#include "database/data_set.h"
#include "json/json_io.h"
#include "messages/http/url_text.h"
#include "messages/messages.h"
#include "messages/messages_session.h"
#include "messages/readable_topics.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_attachments.h"
#include "messages/tasks/task_create_file_buffer.h"

MessagesRequest* CreateAttachments(MessagesSession& s, json_io& msg, unsigned short base)
{
    // The app object reads every topic.
    MessagesReadableTopics readable = s.IsAppObject() ? MessagesReadableTopics() : MessagesReadableTopics(s);
    unsigned long long id = (unsigned long long)(long long)msg.get_int(base, "id");
    return new Attachments(&s, new TaskAttachments(s.RequestDatabase(), id, Attachments::PAGE_SIZE, readable));
}

MessagesRequest* CreateCreateFileBuffer(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new CreateFileBuffer(&s, new TaskCreateFileBuffer(s.RequestDatabase(), msg.get_string(base, "name")),
                                s.WebAddress(), s.instance->WebPath(), s.Host() ? s.Host() : "");
}

Attachments::Attachments(MessagesRequestContext* context, TaskAttachments* task)
    : MessagesRequest(context), task(task)
{
}

Attachments::~Attachments()
{
    delete task;
}

void Attachments::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    task->Start(this);
}

void Attachments::TaskProgress(ITask*, unsigned)
{
    // Nobody reads the rest once the client has gone.
    if (context->RequestSessionClosed()) {
        task->Stop();
        return task->Next();
    }
    IDataSet* row = task->Row();
    File f;
    f.id = row->GetULong64Value("id");
    f.name = row->GetStringValue("name");
    // The name is one segment of the link, whatever it holds; the download decodes it.
    f.url = "files/" + std::to_string(f.id) + "/" + MessagesUrlEncode(f.name) +
            "?session=" + std::to_string(context->RequestSessionNumber()) +
            "&key=" + std::to_string(context->RequestKey());
    files.push_back(std::move(f));
    task->Next();
}

void Attachments::Done(ITask*, bool)
{
    MessagesReply reply("AttachmentsResult", Src());
    json_io& msg = reply.Json();
    unsigned short list = msg.add_array(reply.Base(), "files");
    // The ids' texts live until the reply has been encoded.
    std::vector<char> numbers(files.size() * 24 + 1);
    char* tmp = numbers.data();
    for (const File& f : files) {
        unsigned short entry = msg.add_object(list, nullptr);
        msg.add_ulong64(entry, "id", f.id, tmp);
        msg.add_string(entry, "url", f.url.c_str());
        msg.add_string(entry, "name", f.name.c_str());
    }
    Reply(msg);
}

CreateFileBuffer::CreateFileBuffer(MessagesRequestContext* context, TaskCreateFileBuffer* task,
                                   const std::string& address, const std::string& webPath, const std::string& host)
    : MessagesRequest(context), task(task), address(address), webPath(webPath), host(host)
{
}

CreateFileBuffer::~CreateFileBuffer()
{
    delete task;
}

void CreateFileBuffer::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    task->Start(this);
}

void CreateFileBuffer::Done(ITask* done, bool failed)
{
    MessagesReply reply("CreateFileBufferResult", Src());
    if (!done || failed) {
        reply.Bool("error", true);
        return Reply(reply.Json());
    }
    std::string path = "/buffer/" + std::to_string(task->Id()) + "/" + task->Key() + "/";
    // The name is the one part that may hold what a URL cannot; "req" keeps it as it is.
    std::string url = address + path + MessagesUrlEncode(task->Name());
    std::string req = webPath + path + task->Name();
    reply.String("url", url.c_str());
    reply.String("host", host.c_str());
    reply.String("req", req.c_str());
    reply.Ulong64("id", task->Id());
    Reply(reply.Json());
}

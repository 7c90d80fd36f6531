#include "messages/http/file_buffers.h"

#include "messages/messages.h"
#include "messages/tasks/task_read_file_buffer.h"
#include "messages/tasks/task_write_file_buffer.h"

MessagesFileBufferPost::MessagesFileBufferPost(Messages* instance, IDatabase* database, unsigned long long id,
                                               const std::string& key)
    : MessagesUpload(instance, WSP_CANCEL_NOT_FOUND), database(database), id(id), key(key)
{
}

void MessagesFileBufferPost::Accepted(IWebserverPost* post)
{
    post->SetTransferInfo(WSP_RESPONSE_NO_TYPE, 0, 0, nullptr);
    post->SetHeaderField("Access-Control-Allow-Origin", "*");
}

IDbFilesPut* MessagesFileBufferPost::Open()
{
    auto* write = new TaskWriteFileBuffer(instance->GetIoMux(), database, id, key.c_str(), &instance->statements);
    write->Start(this);
    return write;
}

ITask* MessagesFileBufferPost::Discard(IDbFilesPut*)
{
    auto* drop = new TaskDeleteFileBuffer(database, id);
    drop->Start(this);
    return drop;
}

MessagesFileBufferGet::MessagesFileBufferGet(Messages* instance, IDatabase* database, unsigned long long id,
                                             const std::string& key)
    : MessagesDownload(instance, WSP_CANCEL_NOT_FOUND), database(database), id(id), key(key)
{
}

void MessagesFileBufferGet::Accepted(IWebserverGet* get)
{
    get->SetTransferInfo(WSP_RESPONSE_BINARY, WS_SIZE_CHUNKED, 0, nullptr);
}

IDbFilesGet* MessagesFileBufferGet::Open()
{
    auto* read = new TaskReadFileBuffer(instance->GetIoMux(), database, id, key.c_str(), &instance->statements);
    read->Start(this);
    return read;
}

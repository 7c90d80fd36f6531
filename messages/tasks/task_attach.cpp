#include "messages/tasks/task_attach.h"

#include <curl/curl.h>
#include <iconv.h>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "dbfiles/dbfiles.h"
#include "messages/http/file_route.h"
#include "messages/messages_common.h"
#include "messages/tasks/task_read_file_buffer.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

namespace {
// The store keeps names as VARCHAR(256); 255 bytes always fit.
const size_t MAX_NAME = 255;
const char* const BLANKS = " \t\r\n";
const char BUFFER_PATH[] = "/buffer/";

// The database takes only well-formed UTF-8, and a control character has no
// business in a file name.
bool PrintableUtf8(const std::string& s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == (iconv_t)-1) return false;
    std::vector<char> out(s.size() * 4 + 4);
    char* in = const_cast<char*>(s.data());
    char* to = out.data();
    size_t inLeft = s.size(), outLeft = out.size();
    bool ok = iconv(cd, &in, &inLeft, &to, &outLeft) != (size_t)-1 && !inLeft;
    iconv_close(cd);
    return ok;
}

// Cut on a character boundary.
std::string Cut(const std::string& s)
{
    if (s.size() <= MAX_NAME) return s;
    size_t n = MAX_NAME;
    while (n && (s[n] & 0xC0) == 0x80) n--;
    return s.substr(0, n);
}

// "attached" separates files by blanks and readers URL-decode the name.
std::string Escaped(const std::string& s)
{
    char* e = curl_easy_escape(nullptr, s.data(), (int)s.size());
    std::string escaped(e ? e : "");
    curl_free(e);
    return escaped;
}
}  // namespace

std::string TaskAttach::FileName(const char* url)
{
    std::string text(url);
    text = text.substr(0, text.find_first_of("?#"));
    size_t scheme = text.find("://");
    size_t path = text.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    std::string segment = path == std::string::npos ? "" : text.substr(text.rfind('/') + 1);
    int length = 0;
    char* d = curl_easy_unescape(nullptr, segment.data(), (int)segment.size(), &length);
    std::string decoded(d ? d : "", d ? size_t(length) : 0);
    curl_free(d);
    for (const std::string& candidate : {decoded, segment}) {
        std::string name = Cut(candidate);
        if (!name.empty() && PrintableUtf8(name)) return name;
    }
    return "file";
}

TaskAttach::TaskAttach(MessagesCommon* instance, IInstanceLog* log, unsigned long long id, const char* attach,
                       std::vector<std::string> bases)
    : instance(instance), log(log), id(id), attach(attach ? attach : ""), bases(std::move(bases))
{
}

TaskAttach::~TaskAttach()
{
    delete client;
    delete reader;
    delete put;
    delete del;
}

int TaskAttach::btree_compare(void* key)
{
    unsigned long long k = *static_cast<unsigned long long*>(key);
    return k < id ? -1 : k > id ? 1 : 0;
}

int TaskAttach::btree_compare(btree* other)
{
    return btree_compare(&static_cast<TaskAttach*>(other)->id);
}

void TaskAttach::SetState(State nextState)
{
    auto in = [this](std::initializer_list<State> from) {
        return std::find(from.begin(), from.end(), state) != from.end();
    };
    bool ok;
    switch (nextState) {
    case CONNECTING: ok = in({IDLE, CONNECTING, RECEIVING, CLOSING, DISCARDING}); break;
    case RECEIVING: ok = in({CONNECTING, WRITING}); break;
    // A buffer's first block comes with its opening.
    case OPENING: ok = in({CONNECTING, RECEIVING}); break;
    case WRITING: ok = in({OPENING, RECEIVING}); break;
    case CLOSING: ok = in({CONNECTING, RECEIVING, OPENING, WRITING}); break;
    case DISCARDING: ok = in({RECEIVING, CONNECTING, CLOSING}); break;
    case UPDATING: ok = in({IDLE, CONNECTING, RECEIVING, CLOSING, DISCARDING}); break;
    case DONE: ok = state != DONE; break;
    default: ok = false; break;
    }
    ASSERT(ok, "TaskAttach::SetState impossible transition");
    state = nextState;
}

bool TaskAttach::Unchanged() const
{
    return database && store && instance->UsableDatabase() == database && instance->GetDbFiles() == store;
}

bool TaskAttach::Usable() const
{
    return !IsStopRequested() && Unchanged();
}

void TaskAttach::Start(UTask* owner)
{
    user = owner;
    database = instance->UsableDatabase();
    store = instance->GetDbFiles();
    client = IHTTPClient::Create(instance->GetIoMux(), this, log);
    instance->GetIoMux()->SetExec(this, nullptr);
}

void TaskAttach::Stop()
{
    ITask::Stop();
    // A block is asked for or a connection made: the client breaks that off,
    // so the fetch ends at once. A buffer's statement cannot be withdrawn; its
    // reader ends at its next report, as any other step under way does.
    if ((state == CONNECTING || state == RECEIVING) && !reader) Abandon();
}

void TaskAttach::IoExec(void*)
{
    NextUrl();
}

void TaskAttach::NextUrl()
{
    if (!Usable()) return Finish();
    next = attach.find_first_not_of(BLANKS, next);
    if (next == std::string::npos) return Finish();
    if (files == MAX_FILES) {
        if (log) log->Log(LOG_HTTP_CLIENT, "TaskAttach(%08x)::NextUrl message:%llu more than %u files, the rest is left",
                          (unsigned)(size_t)this, id, MAX_FILES);
        return Finish();
    }
    size_t end = attach.find_first_of(BLANKS, next);
    url = attach.substr(next, end == std::string::npos ? std::string::npos : end - next);
    next = end == std::string::npos ? attach.size() : end;
    files++;
    name = FileName(url.c_str());
    Open();
}

bool TaskAttach::OwnBuffer(std::string& resource) const
{
    for (const std::string& base : bases) {
        if (url.compare(0, base.size(), base)) continue;
        resource = url.substr(base.size());
        if (!resource.compare(0, sizeof(BUFFER_PATH) - 1, BUFFER_PATH)) return true;
    }
    return false;
}

void TaskAttach::Open()
{
    std::string resource;
    if (!OwnBuffer(resource)) {
        SetState(CONNECTING);
        return client->Connect(url.c_str(), nullptr, nullptr, 0);
    }
    // Read as our own GET of that path would read it.
    MessagesFileRoute route = MessagesRouteRequest(WS_REQUEST_GET, resource.c_str());
    if (route.kind != MessagesFileRoute::BUFFER_GET) {
        if (log) log->Log(LOG_HTTP_CLIENT, "TaskAttach(%08x)::Open message:%llu %s: no buffer path",
                          (unsigned)(size_t)this, id, name.c_str());
        return NextUrl();
    }
    SetState(CONNECTING);
    reader = new TaskReadFileBuffer(instance->GetIoMux(), database, route.id, route.key.c_str(), &instance->statements);
    reader->Start(this);
}

void TaskAttach::Receive()
{
    SetState(RECEIVING);
    if (reader) reader->Read(false);
    else client->Recv();
}

void TaskAttach::HTTPClientConnectComplete(IHTTPClient*)
{
    client->SetRequestType(HTTP_GET, 0, nullptr);
    client->Send(nullptr, 0);
    Receive();
}

void TaskAttach::HTTPClientRecvResult(IHTTPClient*, const unsigned char* buffer, size_t length, bool last)
{
    Block(buffer, length, last);
}

void TaskAttach::Block(const unsigned char* data, size_t length, bool last)
{
    block = data;
    blockLength = length;
    blockLast = last;
    if (!Usable()) return Abandon();
    if (put) return Write();
    // The file is made only once there is content: a URL that fails at once
    // leaves nothing behind.
    SetState(OPENING);
    put = store->Put(this, name.c_str(), id, false);
}

void TaskAttach::Write()
{
    SetState(WRITING);
    put->Write(block, (unsigned)blockLength, blockLast);
}

void TaskAttach::TaskProgress(ITask* task, unsigned)
{
    if (task == reader) {
        const unsigned char* data;
        unsigned length;
        reader->Get(data, length);
        return Block(data, length, false);
    }
    if (task != put) return;
    if (!Usable()) return Abandon();
    if (state == OPENING) return Write();
    Receive();
}

void TaskAttach::TaskComplete(ITask* task)
{
    if (task == del) return Discarded();
    // The buffer has no further chunk: what was written is the whole file.
    if (task == reader) return Block(nullptr, 0, true);
    if (!attached.empty()) attached += ' ';
    attached += std::to_string(put->Get()) + "/" + Escaped(name);
    delete put;
    put = nullptr;
    Close();
}

void TaskAttach::TaskFailed(ITask* task)
{
    if (task == del) return Discarded();
    if (task == reader) {
        if (log) log->Log(LOG_HTTP_CLIENT, "TaskAttach(%08x)::TaskFailed message:%llu %s: no buffer with that key",
                          (unsigned)(size_t)this, id, name.c_str());
        delete reader;
        reader = nullptr;
        return Closed();
    }
    if (log) log->Log(LOG_HTTP_CLIENT, "TaskAttach(%08x)::TaskFailed message:%llu storing %s failed",
                      (unsigned)(size_t)this, id, name.c_str());
    Abandon();
}

void TaskAttach::DropPut()
{
    // Only an idle put (or one that has failed) is dropped.
    if (!put) return;
    discard = put->Get();
    delete put;
    put = nullptr;
}

void TaskAttach::Abandon()
{
    DropPut();
    Close();
}

void TaskAttach::Close()
{
    SetState(CLOSING);
    if (!reader) return client->Shutdown();
    // It holds a chunk, or has ended: none of its statements is outstanding.
    delete reader;
    reader = nullptr;
    Closed();
}

void TaskAttach::HTTPClientShutdown(IHTTPClient* c, httpclient_shutdown_reason_t reason)
{
    if (state != CLOSING && log)
        log->Log(LOG_HTTP_CLIENT, "TaskAttach(%08x)::HTTPClientShutdown message:%llu %s: %s status:%u",
                 (unsigned)(size_t)this, id, name.c_str(), HTTPClientShutdownReasonName(reason), c->GetStatus());
    Closed();
}

void TaskAttach::Closed()
{
    // Not asked to close: the source failed, and the URL with it.
    if (state != CLOSING) DropPut();
    if (discard) return Discard();
    NextUrl();
}

void TaskAttach::Discard()
{
    unsigned long long file = discard;
    discard = 0;
    // A store that has gone takes the partial file's repair into its next start.
    if (!Unchanged()) return NextUrl();
    SetState(DISCARDING);
    del = store->Del(this, file);
}

void TaskAttach::Discarded()
{
    delete del;
    del = nullptr;
    NextUrl();
}

void TaskAttach::Finish()
{
    // What was stored is listed even when the task was stopped, while the
    // database still takes it.
    if (!attached.empty() && Unchanged()) {
        SetState(UPDATING);
        return database->ExecSQL(this, DB_EXEC_FETCH_ALL, "UPDATE messages SET attached=%s WHERE id=%llu",
                                 attached.c_str(), id);
    }
    End(!Usable());
}

void TaskAttach::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    End(false);
}

void TaskAttach::DatabaseError(IDatabase*, db_error_t error)
{
    if (log) log->Log(LOG_HTTP_CLIENT, "TaskAttach(%08x)::DatabaseError message:%llu error:%d", (unsigned)(size_t)this,
                      id, (int)error);
    End(true);
}

void TaskAttach::End(bool failed)
{
    SetState(DONE);
    if (failed) Failed();
    else Complete();
}

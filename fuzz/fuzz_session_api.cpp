// Every request of the session API, with mutated members, into logged-in
// sessions of a real instance on the test database (MESSAGES_PG_INFO, as the
// tests get it). Without that variable the instance has no database and
// every request fails at once, which still runs the dispatch and the replies.
//
// The instance and up to three sessions live for the process: a login costs
// several database round trips, and most inputs are a few cheap requests.
// Every RECYCLE inputs an administrator resets the database and the
// sessions log in anew, so that neither the process nor the database grows
// without bound.
//
// An input is a sequence of up to 8 requests, each of three bytes and its members:
//   A  the "mt": A % (N + 1) indexes requestTypes, whose N names are
//      followed by a raw name (a length byte and that many bytes)
//   B  bits 0-1 the session (0 "ann", a user; 1 "svc", the app object;
//      2 "adm", an administrator; 3 "ann" again); bit 2 the next request
//      goes out without waiting for this one; bit 3 the websocket ends right
//      after the message; bits 4-5 "src": none, "a", "b" or "c"; bit 6 the
//      "mt" comes last; bit 7 the message is wrapped for "api" "Fz"
//   C  the number of members, C & 15
// A member is a name byte (names[n % count], or 255: a raw name) and a value:
// a byte with the kind in bits 0-2 and an argument in bits 3-7:
//   0 bytes of the input (argument: length, 31: a 2-byte length follows)
//   1 a string of specialStrings     2 a long string (sizes, then a byte for the character)
//   3 an integer of integers (0: the last "id" the service sent)
//   4 another number of otherNumbers 5 true, false or null
//   6 an object of argument & 7 members   7 an array of argument & 7 values
// FUZZ_API_PRINT=1 prints each message sent and received, for reading a crash.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "fuzz/fake_websocket.h"
#include "messages/messages.h"
#include "messages/messages_service.h"
#include "messages/messages_session.h"
#include "messages/requests/dispatch.h"
#include "net/socket.h"
#include "runtime/io_mux.h"
#include "service/app_args.h"
#include "tests/support/pg_test.h"
#include "web/webserver_plugin.h"

namespace {

// The dispatch table's messages in its order; fuzz/request_types_match.sh
// compares the two lists.
const char* const requestTypes[] = {
    "Post",
    "Update",
    "Delete",
    "Discussion",
    "SetFilter",
    "GetMore",
    "SetUnreadFilter",
    "SetRead",
    "Like",
    "UnLike",
    "Likes",
    "Attachments",
    "PbxInfo",
    "RegisterResult",
    "ReadFilters",
    "WriteFilter",
    "ReadTags",
    "ReadTopics",
    "WriteTopic",
    "ReadTopicAccess",
    "WriteTopicAccess",
    "ReadChat",
    "DeleteChat",
    "ReadChats",
    "WriteGroup",
    "ReadGroups",
    "ReadMembers",
    "WriteMember",
    "CreateFileBuffer",
    "Session",
    "SessionClose",
    "DatabaseReset",
    "Search",
};
const unsigned TYPES = sizeof(requestTypes) / sizeof(requestTypes[0]);
const unsigned RESET = 31;

// Every member name the requests and filters read, and a few they must ignore.
const char* const names[] = {
    "id",       "text",     "topic",  "user",     "dn",      "count",  "sip",    "addsTo",  "session", "grp",
    "filter",   "type",     "topics", "repliesTo", "op",     "name",   "more",   "liked",   "filters", "discussion",
    "author",   "admin",    "unread", "timestamp", "tdn",    "tag",    "seq",    "read",    "older",   "noind",
    "member",   "like",     "guid",   "groups",   "filterSrc", "deliver", "attach", "tags", "notify",  "authors",
    "notifies", "apps",     "appobj", "src",      "mt",      "api",    "",       "ID",
};
const unsigned NAMES = sizeof(names) / sizeof(names[0]);

// Names the sessions know, LIKE and escape characters, broken and 4-byte
// UTF-8, NUL, and URLs of the instance's own buffers.
const std::string specialStrings[] = {
    "",
    "ann",
    "svc",
    "adm",
    "team",
    "team?sub",
    "ops",
    "ann@example.com",
    "svc~admin",
    "g1",
    "%",
    "_",
    "\\",
    "\"",
    "'",
    "a%b_c\\",
    "\xF0\x9F\x92\xAC",
    "\xF0\x9F\x92",
    "\xC3\x28",
    std::string("a\0b", 3),
    "http://h/messages/buffer/1/1/f",
    "/messages/buffer/1/1/f x",
    "or",
    "and",
    "1",
    "-1",
    "18446744073709551616",
    "' OR 1=1 --",
    "team?",
    "?",
    "ann svc",
    "\xEF\xBF\xBF\xED\xA0\x80",
};
const unsigned SPECIALS = sizeof(specialStrings) / sizeof(specialStrings[0]);

const char* const integers[] = {
    nullptr, "0", "1", "-1", "2", "100", "255", "65536",
    "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295", "4294967296", "9007199254740993",
    "9223372036854775807", "9223372036854775808", "-9223372036854775808", "-9223372036854775809",
    "18446744073709551615", "18446744073709551616", "99999999999999999999999999999", "-0", "007",
};
const unsigned INTEGERS = sizeof(integers) / sizeof(integers[0]);

const char* const otherNumbers[] = {"1.5", "-1.5", "0.0", "1e308", "1e999", "-1e999", "1e-400", "3.0e2", "0.1", "1E2"};
const unsigned OTHERS = sizeof(otherNumbers) / sizeof(otherNumbers[0]);

const size_t sizes[] = {255, 256, 257, 1537, 4096, 16384, 32767, 65536};
const char* const longCharacters[] = {"x", "%", "\"", "\\", "\xC3\xA9", "\xF0\x9F\x92\xAC", "\x01", " "};

// Not much oftener: a PostgreSQL connection keeps the plans of the foreign-key
// checks of dropped tables for its life, and every change of the schema goes
// through all of them, so each reset is slower than the one before. At every
// 1024 inputs the database took most of the time within half an hour.
const unsigned RECYCLE = 16384;
// A database answer takes milliseconds; a session busy this long never ends.
const long long STUCK_MS = 10000;
// Dropping and creating every table of a database the fuzzer has filled took
// over 10 s on a machine at load 10; a reset that hangs still trips this.
const long long RESET_STUCK_MS = 60000;

bool printing = getenv("FUZZ_API_PRINT") != nullptr;
unsigned long long lastId = 1;

// The generator below is not the code under test: without coverage its
// branches neither cost a callback per byte nor count as new features.
#define GENERATOR __attribute__((no_sanitize("coverage")))

// The bytes of one input, read front to back; zeros once they run out.
class Input {
public:
    Input(const uint8_t* data, size_t size) : p(data), end(data + size) {}
    GENERATOR bool Empty() const { return p == end; }
    GENERATOR unsigned Byte() { return p < end ? *p++ : 0; }
    GENERATOR std::string Bytes(size_t n)
    {
        n = std::min(n, (size_t)(end - p));
        std::string s((const char*)p, n);
        p += n;
        return s;
    }

private:
    const uint8_t* p;
    const uint8_t* end;
};

GENERATOR void Quoted(std::string& out, const std::string& s)
{
    out.reserve(out.size() + s.size() + 2);
    out += '"';
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        }
        else if (c < 0x20) {
            char u[8];
            snprintf(u, sizeof(u), "\\u%04x", c);
            out += u;
        }
        else out += (char)c;
    }
    out += '"';
}

void Value(Input& in, std::string& out, unsigned depth);

GENERATOR void Members(Input& in, std::string& out, unsigned count, unsigned depth)
{
    for (unsigned i = 0; i < count && !in.Empty(); i++) {
        if (i) out += ',';
        unsigned n = in.Byte();
        Quoted(out, n == 255 ? in.Bytes(in.Byte()) : names[n % NAMES]);
        out += ':';
        Value(in, out, depth);
    }
}

GENERATOR void Value(Input& in, std::string& out, unsigned depth)
{
    unsigned k = in.Byte();
    unsigned arg = k >> 3;
    switch (k & 7) {
    case 0: {
        size_t n = arg < 31 ? arg : in.Byte() | in.Byte() << 8;
        Quoted(out, in.Bytes(n));
        break;
    }
    case 1: Quoted(out, specialStrings[arg % SPECIALS]); break;
    case 2: {
        std::string s;
        const char* c = longCharacters[in.Byte() % 8];
        size_t n = sizes[arg % 8], l = strlen(c);
        s.reserve(n);
        while (s.size() + l <= n) s.append(c, l);
        Quoted(out, s);
        break;
    }
    case 3:
        if (arg % INTEGERS) out += integers[arg % INTEGERS];
        else out += std::to_string(lastId);
        break;
    case 4: out += otherNumbers[arg % OTHERS]; break;
    case 5: out += arg % 3 == 0 ? "true" : arg % 3 == 1 ? "false" : "null"; break;
    case 6:
        out += '{';
        if (depth < 4) Members(in, out, arg & 7, depth + 1);
        out += '}';
        break;
    default:
        out += '[';
        for (unsigned i = 0; depth < 4 && i < (arg & 7) && !in.Empty(); i++) {
            if (i) out += ',';
            Value(in, out, depth + 1);
        }
        out += ']';
        break;
    }
}

// The webserver's side of a session's websocket; it notes the ids the
// service hands out, so that later requests can name what exists.
class Websocket : public FakeWebsocket {
public:
    using FakeWebsocket::FakeWebsocket;
    void Send(const void* data, size_t len, bool text) override
    {
        std::string s((const char*)data, len);
        if (printing) fprintf(stderr, "  < %.300s\n", s.c_str());
        size_t at = s.find("\"id\":");
        if (at != std::string::npos) {
            unsigned long long id = strtoull(s.c_str() + at + 5, nullptr, 10);
            if (id) lastId = id;
        }
        FakeWebsocket::Send(data, len, text);
    }
};

// The instance's webserver link: it keeps the session being offered.
class Plugin : public IWebserverPlugin {
public:
    void SendCertificate(const char*, unsigned char*, unsigned, const char*, UWebserverPlugin*) override {}
    void HttpListen(const char*, UWebserverPlugin*, const char*, const char*, const char*) override {}
    void HttpListen(const char*, UWebserverPlugin*, bool, const char*) override {}
    void PassthroughListen(const char*, UWebserverPlugin*) override {}
    void WebsocketListen(const char*, UWebserverPlugin*) override {}
    void SetAuthConfig(const char*, const char*, const char*) override {}
    void SetAuthConfig(const char*, bool) override {}
    void Cancel(wsr_cancel_type_t) override {}
    void Redirect(const char*) override {}
    bool BuildRedirect(const char*, const char*, unsigned) override { return false; }
    void Accept(UWebserverGet*) override {}
    void Accept(UWebserverPost*) override {}
    void Accept(UWebserverPut*) override {}
    void Accept(UWebserverPassthrough*) override {}
    void Accept(UWebserverPropfind*) override {}
    void Accept(UWebserverMove*) override {}
    void Accept(UWebserverMkCol*) override {}
    void Accept(UWebserverCopy*) override {}
    void Accept(UWebserverDelete*) override {}
    void Accept(UWebserverLock*) override {}
    void Accept(UWebserverUnlock*) override {}
    void Accept(UWebserverProppatch*) override {}
    void Accept(UWebserverOptions*) override {}
    void WebsocketAccept(UWebsocket* user) override { offered = user; }
    void RequestUserPasswordResult(unsigned, const char*, const char*) override {}
    void Close() override {}
    UWebsocket* offered = nullptr;
};

class PluginProvider : public IWebserverPluginProvider {
public:
    IWebserverPlugin* CreateWebserverPlugin(IIoMux*, ISocketProvider*, UWebserverPlugin*, const char*, const char*,
                                            IInstanceLog*) override
    {
        return created = new Plugin;
    }
    Plugin* created = nullptr;
};

struct Slot {
    const char* sip;
    const char* info;
    Websocket* ws;
    unsigned long long id;
};

Slot slots[] = {
    {"ann", R"({"apps":[{"name":"team"},{"name":"ops@example.com~x"}],"groups":["g1"]})", nullptr, 0},
    {"svc", R"({"appobj":"svc","appdn":"Service"})", nullptr, 0},
    {"adm", R"({"appobj":"svc~admin","groups":["g1"]})", nullptr, 0},
};
const unsigned SLOTS = sizeof(slots) / sizeof(slots[0]);

IoMux* mux;
Plugin* webserver;
Messages* instance;
PgTestDatabase* database;
// Sessions whose websocket has ended and that wait for their request.
std::vector<unsigned long long> leaving;
unsigned inputs;

long long NowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// The webserver ends the slot's websocket; the session goes once its request has.
void End(Slot& s)
{
    if (!s.ws) return;
    Websocket* ws = s.ws;
    s.ws = nullptr;
    leaving.push_back(s.id);
    ws->End();
}

// The webserver's part of a loop pass: every send confirmed, every close completed.
void Serve()
{
    for (bool again = true; again;) {
        again = false;
        for (Slot& s : slots) {
            if (!s.ws) continue;
            if (s.ws->closing) {
                End(s);
                continue;
            }
            if (s.ws->unconfirmed) {
                s.ws->Confirm();
                again = true;
            }
        }
    }
    leaving.erase(std::remove_if(leaving.begin(), leaving.end(),
                                 [](unsigned long long id) { return !instance->FindSession(id); }),
                  leaving.end());
}

bool Idle(const Slot& s)
{
    return !s.ws || s.ws->recvPending;
}

bool AllIdle()
{
    for (const Slot& s : slots)
        if (!Idle(s)) return false;
    return leaving.empty();
}

// Runs the loop until `done`; a session that stays busy is a fault of the service.
void Pump(const std::function<bool()>& done, long long stuckMs = STUCK_MS)
{
    // A pass waits a millisecond at most, so a longer gap is the process
    // being stopped (the long runs are paused while the machine measures):
    // it counts as one second, not as the session's.
    long long busy = 0, last = NowMs();
    for (Serve(); !done(); Serve()) {
        long long now = NowMs();
        busy += std::min(now - last, 1000LL);
        last = now;
        if (busy > stuckMs) {
            fprintf(stderr, "a session stayed busy for %lld ms\n", stuckMs);
            __builtin_trap();
        }
        mux->RunOnce(1);
    }
}

void Deliver(Websocket* ws, const std::string& text)
{
    if (printing) fprintf(stderr, "> %.300s\n", text.c_str());
    ws->Deliver(text.data(), text.size(), true, false);
}

// A new session in the slot through the real login; it returns once the
// user's topics are read.
void Login(Slot& s)
{
    instance->WebserverPluginWebsocketListenResult(webserver, "/messages", "/messages", "h");
    auto* session = static_cast<MessagesSession*>(static_cast<AppWebsocket*>(webserver->offered));
    s.ws = new Websocket(session, false);
    s.id = session->SessionId();
    session->WebsocketAcceptComplete(s.ws);
    Deliver(s.ws, R"({"mt":"AppChallenge"})");
    std::string digest = Hex(std::string("a:example.com:") + s.sip + ":g:D:" + s.info + ":" + s.ws->challenge + ":pw");
    Deliver(s.ws, std::string(R"({"mt":"AppLogin","app":"a","domain":"example.com","sip":")") + s.sip +
                      R"(","guid":"g","dn":"D","digest":")" + digest + R"(","info":)" + s.info + "}");
    Pump([&] { return Idle(s); });
}

// Every RECYCLE inputs: an empty database and new sessions.
void Recycle()
{
    if (database) {
        if (!slots[2].ws) Login(slots[2]);
        Deliver(slots[2].ws, R"({"mt":"DatabaseReset"})");
        Pump(AllIdle, RESET_STUCK_MS);
    }
    for (Slot& s : slots) End(s);
    Pump(AllIdle);
}

GENERATOR std::string Request(Input& in, unsigned a, unsigned b)
{
    std::string mt;
    Quoted(mt, a % (TYPES + 1) == TYPES ? in.Bytes(in.Byte()) : requestTypes[a % (TYPES + 1)]);
    std::string members;
    Members(in, members, in.Byte() & 15, 0);
    std::string text = "{";
    if (b & 0x80) text += R"("api":"Fz",)";
    if (b & 0x30) text += std::string(R"("src":")") + (char)('a' + ((b >> 4) & 3) - 1) + "\",";
    if (b & 0x40) text += members + (members.empty() ? "" : ",") + "\"mt\":" + mt;
    else text += "\"mt\":" + mt + (members.empty() ? "" : ",") + members;
    return text + "}";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (const char* mt : requestTypes)
        if (!MessagesDispatchFind(mt, true)) {
            fprintf(stderr, "\"%s\" is not in the dispatch table\n", mt);
            abort();
        }
    if (strcmp(requestTypes[RESET], "DatabaseReset")) abort();
    // Dropped at exit before the connection library's own exit handlers,
    // which the first connection registers, have taken its TLS away.
    auto* db = new PgTestDatabase;
    if (db->Create()) {
        database = db;
        atexit([] { delete database; });
    }
    else {
        fprintf(stderr, "no test database (%s): the instance runs without one\n", db->Error().c_str());
        delete db;
    }

    mux = static_cast<IoMux*>(IIoMux::Create());
    static AppServiceArgs serviceArgs;
    serviceArgs.serviceId = "messages";
    auto* plugins = new PluginProvider;
    auto* service = new MessagesService(mux, CreateLocalSocketProvider(), CreateTCPSocketProvider(), plugins,
                                        CreatePostgreSQLDatabaseProvider(),
                                        CreateDbFilesProvider(), &serviceArgs);
    static AppInstanceArgs args;
    static std::string address = database ? database->Address() : "127.0.0.1:1";
    args.SetDefaults();
    args.appDomain = "example.com";
    args.appPassword = "pw";
    if (database) {
        args.dbName = database->Name();
        args.dbUser = database->User();
        args.dbPassword = database->Password();
    }
    args.dbHost = address.c_str();
    service->AppStart(&args);
    instance = static_cast<Messages*>(service->FindInstance(args.appName, args.appDomain));
    instance->logFlags = 0;
    webserver = plugins->created;
    if (database) Pump([] { return instance->AcceptsWebsockets(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (++inputs % RECYCLE == 0) Recycle();
    Input in(data, size);
    for (unsigned requests = 0; requests < 8 && !in.Empty(); requests++) {
        unsigned a = in.Byte(), b = in.Byte();
        Slot* s = &slots[(b & 3) % SLOTS];
        // A reset drops every table and takes long: the administrator's comes
        // only from Recycle, and the fuzzer's goes to a user, who may not.
        if (a % (TYPES + 1) == RESET && s == &slots[2]) s = &slots[0];
        std::string text = Request(in, a, b);
        if (!s->ws) Login(*s);
        Pump([&] { return Idle(*s); });
        if (!s->ws) Login(*s);
        Deliver(s->ws, text);
        if (b & 8) End(*s);
        if (!(b & 4)) Pump(AllIdle);
    }
    Pump(AllIdle);
    return 0;
}

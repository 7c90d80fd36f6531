// Decode with a few lookups, and build plus encode, of one chat message of
// about 1 KiB, next to RapidJSON's in-situ parser and its Writer doing the
// same work in the same run. Both sides parse a fresh copy of the text on
// every iteration, since both decode in place.
// The peer gets the same SSE2 baseline that our reader uses for strings.
#define RAPIDJSON_SSE2
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "json/json_io.h"

namespace {

const unsigned short NONE = json_io::NONE;

struct person {
    const char* sip;
    const char* dn;
    unsigned long long time;
};
struct attachment {
    const char* name;
    const char* type;
    unsigned size;
    const char* url;
};

// The message that a reader of a busy topic receives for every post.
struct message {
    const char* mt = "ReadMessagesResult";
    const char* src = "feed-3";
    const char* api = "Messages";
    unsigned long long id = 1048576123, parent = 1048576001, root = 1048570000;
    const char* topic = "product-launch";
    const char* sip = "alice.miller";
    const char* dn = "Alice Miller";
    unsigned long long time = 1712345678901, edited = 1712345699000;
    bool deleted = false, read = true;
    int unread = -3;
    const char* text = "Hi team, the release candidate is up on staging. Please check the \"upload\" flow and the "
                       "new filters before Friday.\nKnown issues: search is slow on large topics, and the badge "
                       "count lags by a few seconds.\n\tThanks! \xe2\x80\x94 Alice";
    const char* tags[3] = {"release", "staging", "qa"};
    person notify[2] = {{"bob.jones", "Bob Jones", 0}, {"carol.white", "Carol White", 0}};
    person liked[3] = {{"dave.brown", "Dave Brown", 1712345680000},
                       {"erin.green", "Erin Green", 1712345681000},
                       {"frank.black", "Frank Black", 1712345682000}};
    attachment files[2] = {{"release-notes.pdf", "application/pdf", 482133, "/files/1048576123/0"},
                           {"screenshot.png", "image/png", 120544, "/files/1048576123/1"}};
};

const message msg;

unsigned short build(json_io& j, char* tmp)
{
    unsigned short o = j.add_object(NONE, nullptr);
    j.add_string(o, "mt", msg.mt);
    j.add_string(o, "src", msg.src);
    j.add_string(o, "api", msg.api);
    unsigned short m = j.add_object(o, "msg");
    j.add_ulong64(m, "id", msg.id, tmp);
    j.add_ulong64(m, "parent", msg.parent, tmp);
    j.add_ulong64(m, "root", msg.root, tmp);
    j.add_string(m, "topic", msg.topic);
    j.add_string(m, "sip", msg.sip);
    j.add_string(m, "dn", msg.dn);
    j.add_ulong64(m, "time", msg.time, tmp);
    j.add_ulong64(m, "edited", msg.edited, tmp);
    j.add_bool(m, "deleted", msg.deleted);
    j.add_bool(m, "read", msg.read);
    j.add_int(m, "unread", msg.unread, tmp);
    j.add_string(m, "text", msg.text);
    unsigned short a = j.add_array(m, "tags");
    for (const char* t : msg.tags) j.add_string(a, nullptr, t);
    a = j.add_array(m, "notify");
    for (const person& p : msg.notify) {
        unsigned short e = j.add_object(a, nullptr);
        j.add_string(e, "sip", p.sip);
        j.add_string(e, "dn", p.dn);
    }
    a = j.add_array(m, "liked");
    for (const person& p : msg.liked) {
        unsigned short e = j.add_object(a, nullptr);
        j.add_string(e, "sip", p.sip);
        j.add_string(e, "dn", p.dn);
        j.add_ulong64(e, "time", p.time, tmp);
    }
    a = j.add_array(m, "attachments");
    for (const attachment& f : msg.files) {
        unsigned short e = j.add_object(a, nullptr);
        j.add_string(e, "name", f.name);
        j.add_string(e, "type", f.type);
        j.add_unsigned(e, "size", f.size, tmp);
        j.add_string(e, "url", f.url);
    }
    return j.encode();
}

template <class W> void build(W& w)
{
    w.StartObject();
    w.Key("mt");
    w.String(msg.mt);
    w.Key("src");
    w.String(msg.src);
    w.Key("api");
    w.String(msg.api);
    w.Key("msg");
    w.StartObject();
    w.Key("id");
    w.Uint64(msg.id);
    w.Key("parent");
    w.Uint64(msg.parent);
    w.Key("root");
    w.Uint64(msg.root);
    w.Key("topic");
    w.String(msg.topic);
    w.Key("sip");
    w.String(msg.sip);
    w.Key("dn");
    w.String(msg.dn);
    w.Key("time");
    w.Uint64(msg.time);
    w.Key("edited");
    w.Uint64(msg.edited);
    w.Key("deleted");
    w.Bool(msg.deleted);
    w.Key("read");
    w.Bool(msg.read);
    w.Key("unread");
    w.Int(msg.unread);
    w.Key("text");
    w.String(msg.text);
    w.Key("tags");
    w.StartArray();
    for (const char* t : msg.tags) w.String(t);
    w.EndArray();
    w.Key("notify");
    w.StartArray();
    for (const person& p : msg.notify) {
        w.StartObject();
        w.Key("sip");
        w.String(p.sip);
        w.Key("dn");
        w.String(p.dn);
        w.EndObject();
    }
    w.EndArray();
    w.Key("liked");
    w.StartArray();
    for (const person& p : msg.liked) {
        w.StartObject();
        w.Key("sip");
        w.String(p.sip);
        w.Key("dn");
        w.String(p.dn);
        w.Key("time");
        w.Uint64(p.time);
        w.EndObject();
    }
    w.EndArray();
    w.Key("attachments");
    w.StartArray();
    for (const attachment& f : msg.files) {
        w.StartObject();
        w.Key("name");
        w.String(f.name);
        w.Key("type");
        w.String(f.type);
        w.Key("size");
        w.Uint(f.size);
        w.Key("url");
        w.String(f.url);
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    w.EndObject();
}

const std::string& text()
{
    static std::string t = [] {
        static char out[4096], scratch[1024];
        json_io j(out);
        return std::string(out, build(j, scratch));
    }();
    return t;
}

// What a request handler reads: the header, the message's identity and
// text, and one walk over a nested array of objects.
unsigned long long lookups(const json_io& j)
{
    unsigned short o = j.get_object(NONE, nullptr);
    unsigned long long sum = strlen(j.get_string(o, "mt")) + strlen(j.get_string(o, "src"));
    unsigned short m = j.get_object(o, "msg");
    sum += j.get_ulong64(m, "id") + j.get_ulong64(m, "time") + j.get_bool(m, "read");
    sum += strlen(j.get_string(m, "topic")) + strlen(j.get_string(m, "text"));
    unsigned short files = j.get_array(m, "attachments"), last = 0, f;
    while ((f = j.get_object(files, last)) != NONE) sum += j.get_unsigned(f, "size");
    return sum;
}

// In-situ parse into pools on the stack, the peer without any heap use.
using pooled_document =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<>, rapidjson::MemoryPoolAllocator<>>;

template <class D> unsigned long long lookups(const D& d)
{
    unsigned long long sum = d["mt"].GetStringLength() + d["src"].GetStringLength();
    const auto& m = d["msg"];
    sum += m["id"].GetUint64() + m["time"].GetUint64() + m["read"].GetBool();
    sum += m["topic"].GetStringLength() + m["text"].GetStringLength();
    for (const auto& f : m["attachments"].GetArray()) sum += f["size"].GetUint();
    return sum;
}

void decode_json_io(benchmark::State& state)
{
    const std::string& t = text();
    char work[4096];
    for (auto _ : state) {
        memcpy(work, t.c_str(), t.size() + 1);
        json_io j(work);
        if (!j.decode()) abort();
        benchmark::DoNotOptimize(lookups(j));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)t.size());
}

void decode_rapidjson_insitu(benchmark::State& state)
{
    const std::string& t = text();
    char work[4096];
    for (auto _ : state) {
        memcpy(work, t.c_str(), t.size() + 1);
        char values[32768], stack[4096];
        rapidjson::MemoryPoolAllocator<> valueAllocator(values, sizeof(values));
        rapidjson::MemoryPoolAllocator<> stackAllocator(stack, sizeof(stack));
        pooled_document d(&valueAllocator, sizeof(stack), &stackAllocator);
        if (d.ParseInsitu(work).HasParseError()) abort();
        benchmark::DoNotOptimize(lookups(d));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)t.size());
}

void encode_json_io(benchmark::State& state)
{
    char out[4096], scratch[1024];
    size_t bytes = 0;
    for (auto _ : state) {
        json_io j(out);
        bytes += build(j, scratch);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed((int64_t)bytes);
}

void encode_rapidjson_writer(benchmark::State& state)
{
    rapidjson::StringBuffer s(nullptr, 4096);
    size_t bytes = 0;
    for (auto _ : state) {
        s.Clear();
        rapidjson::Writer<rapidjson::StringBuffer> w(s);
        build(w);
        bytes += s.GetSize();
        benchmark::DoNotOptimize(s.GetString());
    }
    state.SetBytesProcessed((int64_t)bytes);
}

// Both sides must have read and written the same message.
void check(benchmark::State& state)
{
    std::string a = text(), b = text();
    json_io j(&a[0]);
    rapidjson::Document d;
    if (!j.decode() || d.ParseInsitu(&b[0]).HasParseError() || lookups(j) != lookups(d)) abort();
    rapidjson::StringBuffer s;
    rapidjson::Writer<rapidjson::StringBuffer> w(s);
    build(w);
    if (text() != s.GetString()) abort();
    for (auto _ : state) {}
    state.counters["bytes"] = (double)text().size();
}

}  // namespace

BENCHMARK(check)->Iterations(1);
BENCHMARK(decode_json_io);
BENCHMARK(decode_rapidjson_insitu);
BENCHMARK(encode_json_io);
BENCHMARK(encode_rapidjson_writer);

BENCHMARK_MAIN();

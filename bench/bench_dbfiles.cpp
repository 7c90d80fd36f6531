// A 32 MiB file written into and read back from the database file store in
// 64000-byte chunks, next to the same chunks inserted and selected as bytea
// through libpq directly, one statement per chunk, in the same run. The store
// runs on a driver that sends %du parameters binary and on one that sends
// them as hex text.
//   bench_dbfiles PG_ENV [ROUNDS]
// PG_ENV is the pg.env of scripts/pg-test.sh (scripts/bench-dbfiles.sh starts
// a server and runs this). Each round runs every variant once, in turn; the
// best round of each is printed.
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "runtime/instance_log.h"
#include "runtime/io_mux.h"

namespace {

const size_t FILE_SIZE = 32u << 20;
const unsigned CHUNK = 64000;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Rate(double seconds)
{
    return FILE_SIZE / seconds / 1e6;
}

std::map<std::string, std::string> ReadEnv(const char* path)
{
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

[[noreturn]] void Fail(const std::string& what)
{
    fprintf(stderr, "bench_dbfiles: %s\n", what.c_str());
    exit(1);
}

// The store on the service's own loop and driver.
class StoreBench : public UDatabase, public UTask {
public:
    StoreBench(std::map<std::string, std::string>& env, const std::string& content, db_bytes_params_t bytesParams)
        : content(content), mux(true, 0), log(0)
    {
        provider = CreatePostgreSQLDatabaseProvider(bytesParams);
        filesProvider = CreateDbFilesProvider();
        db = provider->CreateDatabase(&mux, this, &log);
        db->Connect(env["PG_ADDRESS"].c_str(), env["PG_DATABASE"].c_str(), env["PG_USER"].c_str(),
                    env["PG_PASSWORD"].c_str());
        RunUntil([&] { return connected; });
    }
    ~StoreBench() override
    {
        delete store;
        db->Shutdown();
        RunUntil([&] { return shutDown; });
        delete db;
        delete filesProvider;
        delete provider;
    }
    void Start(const unsigned char* key)
    {
        delete store;
        store = filesProvider->CreateDbFiles(&mux, &log, key);
        ITask* start = store->Start(this, db, nullptr);
        Await();
        delete start;
    }
    // Seconds for the whole put, from the Put call to its completion.
    double Put(unsigned long long& id)
    {
        Clock::time_point start = Clock::now();
        IDbFilesPut* put = store->Put(this, ("bench" + std::to_string(++files)).c_str(), 1, false);
        size_t written = 0;
        onProgress = [&] {
            unsigned n = (unsigned)std::min<size_t>(CHUNK, FILE_SIZE - written);
            const unsigned char* data = (const unsigned char*)content.data() + written;
            written += n;
            put->Write(data, n, written == FILE_SIZE);
        };
        Await();
        double s = Seconds(start);
        id = put->Get();
        delete put;
        return s;
    }
    double Get(unsigned long long id)
    {
        Clock::time_point start = Clock::now();
        IDbFilesGet* get = store->Get(this, id, 0, true);
        std::string back;
        back.reserve(FILE_SIZE);
        onProgress = [&] {
            const unsigned char* data;
            unsigned length;
            get->Get(data, length);
            back.append((const char*)data, length);
            get->Read(false);
        };
        Await();
        double s = Seconds(start);
        delete get;
        if (back != content) Fail("the store read back other content");
        return s;
    }
    void Del(unsigned long long id)
    {
        ITask* del = store->Del(this, id);
        Await();
        delete del;
    }

private:
    void Await()
    {
        ended = false;
        RunUntil([&] { return ended; });
        if (failed) Fail(std::string("a store task failed: ") + db->GetLastErrorMessage());
        onProgress = nullptr;
    }
    void RunUntil(const std::function<bool()>& done)
    {
        while (!done()) mux.RunOnce(1000);
    }
    void TaskComplete(ITask*) override { ended = true; }
    void TaskFailed(ITask*) override { ended = failed = true; }
    void TaskProgress(ITask*, unsigned) override { onProgress(); }
    void DatabaseConnectComplete(IDatabase*) override { connected = true; }
    void DatabaseShutdown(IDatabase*, db_error_t reason) override
    {
        if (!connected) Fail(std::string("no connection: ") + DbErrorName(reason));
        shutDown = true;
    }
    void DatabaseError(IDatabase*, db_error_t error) override { Fail(DbErrorName(error)); }

    const std::string& content;
    IoMux mux;
    IInstanceLog log;
    IDatabaseProvider* provider;
    IDbFilesProvider* filesProvider;
    IDatabase* db;
    IDbFiles* store = nullptr;
    std::function<void()> onProgress;
    unsigned files = 0;
    bool connected = false, shutDown = false, ended = false, failed = false;
};

// The same chunks through libpq, blocking, with prepared statements: bytea
// in binary form both ways (the cheapest a client can do), or in the hex
// text form both ways (the driver's default form).
class RawBench {
public:
    RawBench(std::map<std::string, std::string>& env, const std::string& content, bool binary)
        : content(content), binary(binary)
    {
        std::string conninfo = "host=" + env["PG_HOST"] + " port=" + env["PG_PORT"] + " user=" + env["PG_USER"] +
                               " password=" + env["PG_PASSWORD"] + " dbname=" + env["PG_DATABASE"] + " sslmode=disable";
        conn = PQconnectdb(conninfo.c_str());
        if (PQstatus(conn) != CONNECTION_OK) Fail(PQerrorMessage(conn));
        PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
        // The store's table, with its storage, index and reference.
        Exec("CREATE TABLE IF NOT EXISTS raw_files (id BIGSERIAL PRIMARY KEY)");
        Exec("CREATE TABLE IF NOT EXISTS raw_data (id BIGSERIAL PRIMARY KEY NOT NULL, data BYTEA, "
             "file BIGINT REFERENCES raw_files(id) ON DELETE CASCADE)");
        Exec("ALTER TABLE raw_data ALTER COLUMN data SET STORAGE EXTERNAL");
        Exec("CREATE INDEX IF NOT EXISTS raw_data_file ON raw_data USING btree (file)");
        Check(PQprepare(conn, "insert", "INSERT INTO raw_data (data, file) VALUES ($1, $2)", 0, nullptr));
        Check(PQprepare(conn, "select", "SELECT data, id FROM raw_data WHERE file=$1 AND id>=$2 ORDER BY id ASC LIMIT 1",
                        0, nullptr));
    }
    ~RawBench() { PQfinish(conn); }

    double Insert()
    {
        std::string file = Value("INSERT INTO raw_files DEFAULT VALUES RETURNING id");
        Clock::time_point start = Clock::now();
        std::string hex;
        for (size_t at = 0; at < FILE_SIZE; at += CHUNK) {
            size_t n = std::min<size_t>(CHUNK, FILE_SIZE - at);
            const char* values[2] = {content.data() + at, file.c_str()};
            int lengths[2] = {(int)n, 0};
            int formats[2] = {1, 0};
            if (!binary) {
                hex = Hex(content.data() + at, n);
                values[0] = hex.c_str();
                formats[0] = 0;
            }
            Check(PQexecPrepared(conn, "insert", 2, values, lengths, formats, 0));
        }
        double s = Seconds(start);
        fileId = file;
        return s;
    }
    double Select()
    {
        Clock::time_point start = Clock::now();
        std::string back;
        back.reserve(FILE_SIZE);
        std::string next = "0";
        for (;;) {
            const char* values[2] = {fileId.c_str(), next.c_str()};
            PGresult* r = PQexecPrepared(conn, "select", 2, values, nullptr, nullptr, binary ? 1 : 0);
            if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail(PQresultErrorMessage(r));
            if (PQntuples(r) == 0) {
                PQclear(r);
                break;
            }
            unsigned long long id;
            if (binary) {
                back.append(PQgetvalue(r, 0, 0), PQgetlength(r, 0, 0));
                uint32_t half[2];
                memcpy(half, PQgetvalue(r, 0, 1), 8);
                id = (unsigned long long)ntohl(half[0]) << 32 | ntohl(half[1]);
            }
            else {
                size_t n;
                unsigned char* data = PQunescapeBytea((const unsigned char*)PQgetvalue(r, 0, 0), &n);
                back.append((const char*)data, n);
                PQfreemem(data);
                id = strtoull(PQgetvalue(r, 0, 1), nullptr, 10);
            }
            PQclear(r);
            next = std::to_string(id + 1);
        }
        double s = Seconds(start);
        if (back != content) Fail("libpq read back other content");
        Exec("DELETE FROM raw_files WHERE id=" + fileId);
        return s;
    }

private:
    static std::string Hex(const char* data, size_t n)
    {
        static const char digits[] = "0123456789abcdef";
        std::string h(2 * n + 2, '\0');
        h[0] = '\\';
        h[1] = 'x';
        for (size_t i = 0; i < n; i++) {
            h[2 + 2 * i] = digits[(unsigned char)data[i] >> 4];
            h[3 + 2 * i] = digits[(unsigned char)data[i] & 0xf];
        }
        return h;
    }
    void Check(PGresult* r)
    {
        ExecStatusType s = PQresultStatus(r);
        if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) Fail(PQresultErrorMessage(r));
        PQclear(r);
    }
    void Exec(const std::string& sql) { Check(PQexec(conn, sql.c_str())); }
    std::string Value(const std::string& sql)
    {
        PGresult* r = PQexec(conn, sql.c_str());
        if (PQresultStatus(r) != PGRES_TUPLES_OK) Fail(PQresultErrorMessage(r));
        std::string v = PQgetvalue(r, 0, 0);
        PQclear(r);
        return v;
    }

    const std::string& content;
    bool binary;
    PGconn* conn;
    std::string fileId;
};

struct Best {
    double put = 0, get = 0;
    void Take(double putSeconds, double getSeconds)
    {
        put = std::max(put, Rate(putSeconds));
        get = std::max(get, Rate(getSeconds));
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s PG_ENV [ROUNDS]\n", argv[0]);
        return 2;
    }
    auto env = ReadEnv(argv[1]);
    if (env["PG_ADDRESS"].empty()) Fail(std::string("no connection info in ") + argv[1]);
    unsigned rounds = argc == 3 ? (unsigned)strtoul(argv[2], nullptr, 10) : 5;

    // Incompressible content, as most attachments are.
    std::string content(FILE_SIZE, '\0');
    unsigned long long x = 88172645463325252ull;
    for (size_t i = 0; i < FILE_SIZE; i++) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        content[i] = (char)(x >> 24);
    }
    static const unsigned char key[32] = {7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2,
                                          8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1};

    StoreBench store(env, content, DB_BYTES_PARAMS_BINARY);
    StoreBench storeText(env, content, DB_BYTES_PARAMS_TEXT);
    RawBench rawBinary(env, content, true);
    RawBench rawText(env, content, false);
    Best plain, crypted, hexText, binary, text;
    for (unsigned r = 0; r < rounds; r++) {
        unsigned long long id;
        store.Start(nullptr);
        double put = store.Put(id);
        plain.Take(put, store.Get(id));
        store.Del(id);
        put = rawBinary.Insert();
        binary.Take(put, rawBinary.Select());
        store.Start(key);
        put = store.Put(id);
        crypted.Take(put, store.Get(id));
        store.Del(id);
        put = rawText.Insert();
        text.Take(put, rawText.Select());
        storeText.Start(nullptr);
        put = storeText.Put(id);
        hexText.Take(put, storeText.Get(id));
        storeText.Del(id);
    }
    printf("32 MiB in 64000-byte chunks, one statement per chunk, best of %u rounds (MB/s):\n", rounds);
    printf("  %-44s %8s %8s\n", "", "put", "get");
    printf("  %-44s %8.1f %8.1f\n", "store, %du binary", plain.put, plain.get);
    printf("  %-44s %8.1f %8.1f\n", "store, %du binary, with key (AES-256-GCM)", crypted.put, crypted.get);
    printf("  %-44s %8.1f %8.1f\n", "store, %du hex text (the default)", hexText.put, hexText.get);
    printf("  %-44s %8.1f %8.1f\n", "libpq, bytea binary both ways", binary.put, binary.get);
    printf("  %-44s %8.1f %8.1f\n", "libpq, bytea hex text both ways", text.put, text.get);
    printf("  %-44s %8.2f %8.2f\n", "store binary / libpq binary", plain.put / binary.put, plain.get / binary.get);
    printf("  %-44s %8.2f %8.2f\n", "store hex text / libpq hex text", hexText.put / text.put, hexText.get / text.get);
    return 0;
}

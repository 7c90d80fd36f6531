// Two statements of the messaging core through the database driver, as text
// (ExecSQL/InsertSQL with a format, what the service does) and prepared once
// and executed with parameters: the message insert of a post that adds to a
// discussion, and the unread count of a user under the default filter of two
// topics, whose text is the same for every user but for the parameters.
// Statements run one after the other, each after the previous one's result,
// as they do inside a post or a request.
//   bench_statements insert|count text|prepared COUNT [SIP] [TOPIC1] [TOPIC2]
//   bench_statements count-text [SIP] [TOPIC1] [TOPIC2]   (prints the text the count runs as)
// The server is named by PG_ADDRESS, PG_DATABASE, PG_USER and PG_PASSWORD in
// the environment (the variables of scripts/pg-test.sh's pg.env); its
// database holds the history of scripts/bench-messaging.sh. Prints
// "statement=S path=P count=N seconds=T per_ms=M" (for the count also "unread=U").
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "database/database.h"
#include "database/sql_text.h"
#include "runtime/instance_log.h"
#include "runtime/iomux.h"

namespace {

// The service's statements (messages/tasks/task_store_message_confidently.cpp,
// task_unread_count.cpp with the filter of two topics written out).
const char* const INSERT_MESSAGE =
    "WITH d AS (UPDATE discussions SET time=EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000 WHERE id=%llu) INSERT INTO "
    "messages (adds_to,replies_to,author,text,guid) VALUES(%llu,%llu,(SELECT id FROM objects WHERE "
    "LOWER(sip)=LOWER(%s)),%s,%s)";
const char* const UNREAD_COUNT =
    "SELECT COUNT(*) AS count,(SELECT COALESCE(MAX(id),0) FROM messages) AS seen FROM discussions AS discussion JOIN "
    "objects AS topic ON discussion.topic = topic.id "
    "JOIN messages m ON m.adds_to = discussion.id WHERE type IS NULL AND m.author<>(SELECT id FROM objects WHERE "
    "LOWER(sip)=LOWER(%s)) AND m.id NOT IN (SELECT message FROM message_read WHERE object=(SELECT id FROM objects "
    "WHERE LOWER(sip)=LOWER(%s)) AND message>=(SELECT COALESCE(MIN((SELECT MIN(x.id) FROM messages x WHERE "
    "x.adds_to=discussion.id AND x.replies_to IS NULL)),0) FROM discussions AS discussion WHERE type IS NULL AND "
    "discussion.time > (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) - (60*60*24*30)) * 1000)) AND discussion.time > "
    "(EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) - "
    "(60*60*24*30)) * 1000 AND ((discussion.topic=(SELECT id FROM objects WHERE sip=%s) OR "
    "discussion.topic=(SELECT id FROM objects WHERE sip=%s)))";
const char* const TEXT = "Benchmark statement: the quick brown fox jumps over the lazy dog.";

class StatementBench : public UDatabase {
public:
    StatementBench(IIoMux* mux, bool insert, bool prepared, unsigned count, const char* sip, const char* topic1,
                   const char* topic2)
        : mux(mux), insert(insert), prepared(prepared), count(count), sip(sip), topic1(topic1), topic2(topic2)
    {
    }

    void DatabaseConnectComplete(IDatabase*) override
    {
        // The insert adds to the discussions of the history, each after its root message.
        if (insert)
            db->ExecSQL(this, DB_EXEC_FETCH_ALL,
                        "SELECT adds_to,id FROM messages WHERE replies_to IS NULL ORDER BY adds_to LIMIT 2000");
        else Prepare();
    }

    void Prepare()
    {
        if (!prepared) return Begin();
        // A prepared insert returns its id itself.
        db->PrepareStatement(this, insert ? (std::string(INSERT_MESSAGE) + " RETURNING id").c_str() : UNREAD_COUNT);
    }

    void DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* s) override
    {
        statement = s;
        Begin();
    }

    void Begin()
    {
        start = std::chrono::steady_clock::now();
        Execute();
    }

    void Execute()
    {
        if (insert) {
            auto& d = discussions[done % discussions.size()];
            if (statement) {
                statement->SetParam(0, d.first);
                statement->SetParam(1, d.first);
                statement->SetParam(2, d.second);
                statement->SetParam(3, sip);
                statement->SetParam(4, TEXT);
                statement->SetParam(5, (const char*)nullptr);
                db->InsertSQL(this, statement);
            }
            else {
                db->InsertSQL(this, INSERT_MESSAGE, d.first, d.first, d.second, sip, TEXT, (const char*)nullptr);
            }
            return;
        }
        if (statement) {
            statement->SetParam(0, sip);
            statement->SetParam(1, sip);
            statement->SetParam(2, topic1);
            statement->SetParam(3, topic2);
            db->ExecSQL(this, DB_EXEC_FETCH_ALL, statement);
        }
        else {
            db->ExecSQL(this, DB_EXEC_FETCH_ALL, UNREAD_COUNT, sip, sip, topic1, topic2);
        }
    }

    void DatabaseExecSQLResult(IDatabase*, IDataSet* ds) override
    {
        if (insert && discussions.empty()) {
            for (; ds && !ds->Eot(); ds->Next()) discussions.emplace_back(ds->GetULong64Value("adds_to"), ds->GetULong64Value("id"));
            delete ds;
            if (discussions.empty()) {
                fprintf(stderr, "bench_statements: no discussions to add to\n");
                failed = true;
                return db->Shutdown();
            }
            return Prepare();
        }
        if (ds && !ds->Eot()) unread = ds->GetULong64Value("count");
        delete ds;
        Executed();
    }

    void DatabaseInsertSQLResult(IDatabase*, unsigned long long id) override
    {
        if (!id) failed = true;
        Executed();
    }

    void Executed()
    {
        if (++done < count && !failed) return Execute();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        delete statement;
        statement = nullptr;
        db->Shutdown();
    }

    void DatabaseError(IDatabase*, db_error_t error) override
    {
        fprintf(stderr, "bench_statements: %s: %s\n", DbErrorName(error), db->GetLastErrorMessage());
        failed = true;
        db->Shutdown();
    }

    void DatabaseShutdown(IDatabase*, db_error_t) override { mux->Shutdown(); }

    IIoMux* mux;
    IDatabase* db = nullptr;
    IPreparedStatement* statement = nullptr;
    bool insert, prepared;
    unsigned count;
    const char *sip, *topic1, *topic2;
    std::vector<std::pair<unsigned long long, unsigned long long>> discussions;
    unsigned done = 0;
    unsigned long long unread = 0;
    std::chrono::steady_clock::time_point start;
    double seconds = 0;
    bool failed = false;
};

const char* Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && !strcmp(argv[1], "count-text")) {
        static char text[10000];
        const char* sip = argc > 2 ? argv[2] : "reader";
        SqlText(text, sizeof(text)).Print(UNREAD_COUNT, sip, sip, argc > 3 ? argv[3] : "team", argc > 4 ? argv[4] : "team-b");
        puts(text);
        return 0;
    }
    if (argc < 4 || (strcmp(argv[1], "insert") && strcmp(argv[1], "count")) ||
        (strcmp(argv[2], "text") && strcmp(argv[2], "prepared"))) {
        fprintf(stderr, "usage: %s insert|count text|prepared COUNT [SIP] [TOPIC1] [TOPIC2]\n", argv[0]);
        return 2;
    }
    if (!*Env("PG_ADDRESS")) {
        fprintf(stderr, "bench_statements: PG_ADDRESS is not set\n");
        return 1;
    }
    bool insert = !strcmp(argv[1], "insert");
    const char* sip = argc > 4 ? argv[4] : insert ? "history-user-1" : "reader";
    IIoMux* mux = IIoMux::Create(true, 0);
    IDatabaseProvider* provider = CreatePostgreSQLDatabaseProvider();
    IInstanceLog log(0);
    StatementBench bench(mux, insert, !strcmp(argv[2], "prepared"), (unsigned)strtoul(argv[3], nullptr, 10), sip,
                         argc > 5 ? argv[5] : "team", argc > 6 ? argv[6] : "team-b");
    bench.db = provider->CreateDatabase(mux, &bench, &log);
    bench.db->Connect(Env("PG_ADDRESS"), Env("PG_DATABASE"), Env("PG_USER"), Env("PG_PASSWORD"));
    mux->Run();
    delete bench.db;
    delete provider;
    delete mux;
    if (bench.failed || bench.done != bench.count) return 1;
    printf("statement=%s path=%s count=%u seconds=%.3f per_ms=%.3f", argv[1], argv[2], bench.count, bench.seconds,
           bench.seconds * 1000 / bench.count);
    if (!insert) printf(" unread=%llu", bench.unread);
    printf("\n");
    return 0;
}

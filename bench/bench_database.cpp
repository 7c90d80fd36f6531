// Small INSERTs queued on one connection, statements per second; or one
// SELECT of COUNT rows, rows per second.
//   bench_database PG_ENV COUNT MODE
// PG_ENV is the pg.env of scripts/pg-test.sh; MODE is fetch-all, single-row or
// prepared for the INSERTs, select-all or select-rows (whole result or
// single-row mode) for the SELECT. scripts/bench-database.sh runs it next to
// pgbench on the same server with the same statement.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>

#include "database/database.h"
#include "runtime/instance_log.h"
#include "runtime/iomux.h"

namespace {

const char* const INSERT = "INSERT INTO bench (v, name) VALUES (%i, %s)";
// Rows of about the size of a message with its columns.
const char* const SELECT = "SELECT g, repeat('x', 200) FROM generate_series(1, %i) g";

class InsertBench : public UDatabase {
public:
    InsertBench(IIoMux* mux, unsigned count, const std::string& mode)
        : mux(mux), count(count), mode(mode), selecting(!mode.compare(0, 7, "select-"))
    {
    }

    void DatabaseConnectComplete(IDatabase*) override
    {
        if (mode == "prepared") db->PrepareStatement(this, INSERT);
        else if (!selecting) Queue();
        else {
            start = std::chrono::steady_clock::now();
            db->ExecSQL(this, mode == "select-all" ? DB_EXEC_FETCH_ALL : 0, SELECT, (int)count);
        }
    }
    void DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* s) override
    {
        statement = s;
        Queue();
    }
    // Every statement is queued at once; the driver runs them one after the other.
    void Queue()
    {
        start = std::chrono::steady_clock::now();
        unsigned flags = mode == "single-row" ? 0 : DB_EXEC_FETCH_ALL;
        for (unsigned i = 0; i < count; i++) {
            if (statement) {
                statement->SetParam(0, (int)i);
                statement->SetParam(1, "x");
                db->ExecSQL(this, flags, statement);
            }
            else {
                db->ExecSQL(this, flags, INSERT, (int)i, "x");
            }
        }
    }
    void DatabaseExecSQLResult(IDatabase*, IDataSet* ds) override
    {
        if (selecting) return Rows(ds);
        delete ds;
        if (++done == count) Finish();
    }
    void Rows(IDataSet* ds)
    {
        while (!ds->Eot()) {
            if (!*ds->GetStringValue(1)) failed = true;
            done++;
            if (ds->IsSingleRowMode()) return ds->FetchNextRow();
            ds->Next();
        }
        delete ds;
        Finish();
    }
    void Finish()
    {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        delete statement;
        statement = nullptr;
        db->Shutdown();
    }
    void DatabaseError(IDatabase*, db_error_t error) override
    {
        fprintf(stderr, "bench_database: %s: %s\n", DbErrorName(error), db->GetLastErrorMessage());
        failed = true;
    }
    void DatabaseShutdown(IDatabase*, db_error_t reason) override
    {
        if (reason != DB_OK) {
            fprintf(stderr, "bench_database: shutdown %s: %s\n", DbErrorName(reason), db->GetLastErrorMessage());
            failed = true;
        }
        mux->Shutdown();
    }

    IIoMux* mux;
    IDatabase* db = nullptr;
    IPreparedStatement* statement = nullptr;
    unsigned count;
    unsigned done = 0;
    std::string mode;
    bool selecting;
    std::chrono::steady_clock::time_point start;
    double seconds = 0;
    bool failed = false;
};

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

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s PG_ENV COUNT fetch-all|single-row|prepared|select-all|select-rows\n", argv[0]);
        return 2;
    }
    auto env = ReadEnv(argv[1]);
    if (env["PG_ADDRESS"].empty()) {
        fprintf(stderr, "bench_database: no connection info in %s\n", argv[1]);
        return 1;
    }
    IIoMux* mux = IIoMux::Create(true, 0);
    IDatabaseProvider* provider = CreatePostgreSQLDatabaseProvider();
    IInstanceLog log(0);
    InsertBench bench(mux, (unsigned)strtoul(argv[2], nullptr, 10), argv[3]);
    bench.db = provider->CreateDatabase(mux, &bench, &log);
    bench.db->Connect(env["PG_ADDRESS"].c_str(), env["PG_DATABASE"].c_str(), env["PG_USER"].c_str(),
                      env["PG_PASSWORD"].c_str());
    mux->Run();
    delete bench.db;
    delete provider;
    delete mux;
    if (bench.failed || bench.done != bench.count) return 1;
    printf("mode=%s count=%u seconds=%.3f rate=%.0f\n", argv[3], bench.count, bench.seconds, bench.count / bench.seconds);
    return 0;
}

#pragma once

// Shared set-up of the database tests: a real loop, a fresh database on the
// test cluster, a connected PostgreSQLDatabase, and users that record what
// reaches them.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "database/database.h"
#include "runtime/instance_log.h"
#include "runtime/io_mux.h"
#include "tests/support/capture_debug.h"
#include "tests/support/pg_test.h"

// A database user that writes every callback into `events` and reads every
// data set completely (rows go to `rows`), unless `onResult` takes over.
class DbUser : public UDatabase {
public:
    explicit DbUser(std::vector<std::string>& events, const std::string& name = "") : events(events), name(name) {}
    void Note(const std::string& what)
    {
        events.push_back(name.empty() ? what : name + ":" + what);
        if (then) then(what);
    }

    void DatabaseConnectComplete(IDatabase*) override { Note("connected"); }
    void DatabaseShutdown(IDatabase*, db_error_t reason) override { Note(std::string("shutdown ") + DbErrorName(reason)); }
    void DatabaseError(IDatabase*, db_error_t error) override { Note(DbErrorName(error)); }
    void DatabaseInsertSQLResult(IDatabase*, unsigned long long id) override { Note("id " + std::to_string(id)); }
    void DatabaseBeginTransactionResult(IDatabase*) override { Note("begin"); }
    void DatabaseEndTransactionResult(IDatabase*) override { Note("end"); }
    void DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* s) override
    {
        statements.push_back(s);
        Note("prepared");
    }
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* ds) override
    {
        if (onResult) return onResult(db, ds);
        if (!ds) return Note("null");
        if (ds->IsSingleRowMode()) {
            if (ds->Eot()) {
                Note("eot");
                delete ds;
                return;
            }
            rows.push_back(Row(ds));
            ds->FetchNextRow();
            return;
        }
        size_t n = 0;
        for (; !ds->Eot(); ds->Next(), n++) rows.push_back(Row(ds));
        Note("rows " + std::to_string(n));
        delete ds;
    }
    ~DbUser() override
    {
        for (auto s : statements) delete s;
    }

    // The current row as "a|b|c", NULL written as "<null>".
    static std::string Row(IDataSet* ds)
    {
        std::string row;
        for (int i = 0; i < ds->GetColumnCount(); i++) {
            if (i) row += "|";
            const char* v = ds->GetStringValueWithNull(i);
            row += v ? v : "<null>";
        }
        return row;
    }

    std::vector<std::string>& events;
    std::string name;
    std::vector<std::string> rows;
    std::vector<IPreparedStatement*> statements;
    std::function<void(IDatabase*, IDataSet*)> onResult;
    // Runs after each recorded event; may issue the next requests.
    std::function<void(const std::string&)> then;
};

class DbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pg.Create()) << pg.Error();
        mux = new IoMux(true, 0);
        baseFds = mux->FdCount();
        provider = CreatePostgreSQLDatabaseProvider();
    }
    void TearDown() override
    {
        if (!mux) return;
        if (db) {
            db->Shutdown();
            EXPECT_TRUE(RunUntil([&] { return shutDown; })) << "no DatabaseShutdown";
            delete db;
        }
        delete provider;
        // The database leaves nothing behind on the loop.
        EXPECT_EQ(0u, mux->QueuedExecs());
        EXPECT_EQ(baseFds, mux->FdCount());
        delete mux;
    }
    IDatabase* Create(const char* address = nullptr, const char* password = nullptr)
    {
        db = provider->CreateDatabase(mux, &owner, &log);
        db->Connect(address ? address : pg.Address(), pg.Name(), pg.User(), password ? password : pg.Password());
        return db;
    }
    IDatabase* Connect()
    {
        Create();
        EXPECT_TRUE(RunUntil([&] { return Has("owner:connected"); })) << pg.Error();
        events.clear();
        return db;
    }
    // Runs the loop until `done` holds; false after the time limit.
    bool RunUntil(const std::function<bool()>& done, int limitMs = 20000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            mux->RunOnce(20);
        }
        return true;
    }
    bool Has(const std::string& event) const
    {
        for (const auto& e : events)
            if (e == event) return true;
        return false;
    }
    size_t Count(const std::string& event) const
    {
        size_t n = 0;
        for (const auto& e : events) n += e == event;
        return n;
    }

    CaptureDebug capture{true};
    PgTestDatabase pg;
    IoMux* mux = nullptr;
    unsigned baseFds = 0;
    IDatabaseProvider* provider = nullptr;
    IInstanceLog log{LOG_DATABASE};
    std::vector<std::string> events;
    struct Owner : DbUser {
        Owner(std::vector<std::string>& e, bool& shutDown) : DbUser(e, "owner"), shutDown(shutDown) {}
        void DatabaseShutdown(IDatabase* d, db_error_t reason) override
        {
            shutDown = true;
            DbUser::DatabaseShutdown(d, reason);
        }
        bool& shutDown;
    };
    bool shutDown = false;
    Owner owner{events, shutDown};
    IDatabase* db = nullptr;
};

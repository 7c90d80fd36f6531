#pragma once

// File store tests: a store on a real connection, its files in folders that
// are rows of the caller's table, as the service keeps them, and helpers
// that drive its tasks to their end.

#include <functional>
#include <string>
#include <vector>

#include "dbfiles/dbfiles.h"
#include "tests/database/db_test.h"

using Strings = std::vector<std::string>;

// Records what a task reports; `onProgress` may drive the task on.
class FilesUser : public UTask {
public:
    void TaskComplete(ITask*) override { events.push_back("complete"); }
    void TaskFailed(ITask*) override { events.push_back("failed"); }
    void TaskProgress(ITask*, unsigned value) override
    {
        events.push_back("progress " + std::to_string(value));
        if (onProgress) onProgress();
    }
    bool Ended() const { return !events.empty() && (events.back() == "complete" || events.back() == "failed"); }

    Strings events;
    std::function<void()> onProgress;
};

// Stand-in for the caller's table that files refer to in foreign-folder mode.
static const char* const OWNER_REFERENCE = "BIGINT REFERENCES owners(id) ON DELETE CASCADE";

class DbFilesTest : public DbTest {
protected:
    void TearDown() override
    {
        DropStore();
        delete filesProvider;
        DbTest::TearDown();
    }

    // Starts a store on the test connection; false when the start failed.
    bool StartStore()
    {
        if (!db) Connect();
        EXPECT_TRUE(pg.Query("CREATE TABLE IF NOT EXISTS owners (id BIGSERIAL PRIMARY KEY)")) << pg.Error();
        store = filesProvider->CreateDbFiles(mux, &filesLog, nullptr);
        FilesUser u;
        ITask* start = store->Start(&u, db, OWNER_REFERENCE);
        EXPECT_TRUE(RunUntil([&] { return u.Ended(); }));
        delete start;
        return u.events == Strings{"complete"};
    }
    void DropStore()
    {
        delete store;
        store = nullptr;
    }

    // A new folder to put files into: a row of the caller's table.
    unsigned long long NewFolder() { return std::stoull(pg.Value("INSERT INTO owners DEFAULT VALUES RETURNING id")); }

    // Writes the chunks, one per progress report (no chunks: one empty last
    // write); the id of the file, 0 when the put failed.
    unsigned long long PutFile(const char* name, unsigned long long folder, const Strings& chunks)
    {
        FilesUser u;
        IDbFilesPut* put = store->Put(&u, name, folder, false);
        EXPECT_TRUE(u.events.empty()) << "reported from inside Put";
        size_t next = 0;
        u.onProgress = [&] {
            if (chunks.empty()) return put->Write(nullptr, 0, true);
            const std::string& c = chunks[next++];
            put->Write((const unsigned char*)c.data(), (unsigned)c.size(), next == chunks.size());
        };
        EXPECT_TRUE(RunUntil([&] { return u.Ended(); }));
        unsigned long long id = u.events.back() == "complete" ? put->Get() : 0;
        delete put;
        return id;
    }

    // Reads the whole file from `offset`; `sizes` gets the length of each
    // chunk as it was reported ("=n" for a chunk taken at completion).
    std::string GetFile(unsigned long long id, unsigned offset, bool finalByProgress, Strings* sizes = nullptr,
                        Strings* events = nullptr)
    {
        FilesUser u;
        std::string content;
        IDbFilesGet* get = store->Get(&u, id, offset, finalByProgress);
        auto take = [&](const char* mark) {
            const unsigned char* data;
            unsigned length;
            get->Get(data, length);
            content.append((const char*)data, length);
            if (sizes && (length || *mark == ' ')) sizes->push_back(mark + std::to_string(length));
        };
        u.onProgress = [&] {
            take(" ");
            get->Read(false);
        };
        EXPECT_TRUE(RunUntil([&] { return u.Ended(); }));
        if (u.events.back() == "complete") take("=");
        if (events) *events = u.events;
        delete get;
        return content;
    }

    // Runs a task that only completes or fails.
    std::string Finish(ITask* task, FilesUser& u)
    {
        EXPECT_TRUE(u.events.empty()) << "reported from inside the call";
        EXPECT_TRUE(RunUntil([&] { return u.Ended(); }));
        delete task;
        return u.events.back();
    }

    // "size|incomplete|chunks" of a file, as the server has it.
    std::string Row(unsigned long long id)
    {
        return pg.Value("SELECT size || '|' || incomplete || '|' || (SELECT count(*) FROM files_data WHERE file=files.id) "
                        "FROM files WHERE id=" + std::to_string(id));
    }

    static std::string Bytes(size_t n, unsigned seed)
    {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; i++) s[i] = (char)((i * 131 + seed * 7 + (i >> 8)) & 0xff);
        return s;
    }

    IDbFilesProvider* filesProvider = CreateDbFilesProvider();
    IInstanceLog filesLog{LOG_DBFILES};
    IDbFiles* store = nullptr;
};

// The same on a connection that sends byte strings as hex text (the
// default) and on one that sends them binary (the service's).
class DbFilesBytesTest : public DbFilesTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        DbFilesTest::SetUp();
        if (!GetParam()) return;
        delete provider;
        provider = CreatePostgreSQLDatabaseProvider(DB_BYTES_PARAMS_BINARY);
    }
};

#define BYTES_FORMS \
    ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "binary" : "text"; }

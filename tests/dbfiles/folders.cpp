#include "tests/dbfiles/dbfiles_test.h"

TEST_P(DbFilesModeTest, list_del_and_move_work_on_the_rows_of_one_folder)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder("docs");
    unsigned long long other = NewFolder("other");
    unsigned long long gone = PutFile("a.txt", folder, {"aaa"});
    unsigned long long moved = PutFile("b.txt", folder, {"bb", "bb"});
    ASSERT_NE(0u, PutFile("c.txt", folder, {}));
    ASSERT_NE(0u, PutFile("elsewhere.txt", other, {"x"}));

    Strings all = ListFolder(folder);
    std::sort(all.begin(), all.end());
    EXPECT_EQ((Strings{"a.txt:3", "b.txt:4", "c.txt:0"}), all);
    EXPECT_EQ(2u, ListFolder(folder, 2).size());
    if (GetParam().ownFolders) {
        // The root lists its folders but not itself.
        Strings root = ListFolder(1);
        std::sort(root.begin(), root.end());
        EXPECT_EQ((Strings{"docs:0/", "other:0/"}), root);
    }

    // A stopped list ends at the next step.
    FilesUser u;
    IDbFilesList* list = store->List(&u, folder, 0);
    u.onProgress = [&] {
        list->Stop();
        list->Next();
    };
    capture.lines.clear();
    EXPECT_EQ("complete", Finish(list, u));
    EXPECT_EQ((Strings{"progress 0", "complete"}), u.events);
    EXPECT_TRUE(capture.Logged("::DatabaseExecSQLResult TaskComplete stopped"));

    FilesUser del, move;
    EXPECT_EQ("complete", Finish(store->Del(&del, gone), del));
    EXPECT_EQ("", Row(gone));
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM files_data WHERE file=" + std::to_string(gone)));
    EXPECT_EQ("complete", Finish(store->Move(&move, moved, "renamed.txt", other), move));
    EXPECT_EQ(Strings{"c.txt:0"}, ListFolder(folder));
    all = ListFolder(other);
    std::sort(all.begin(), all.end());
    EXPECT_EQ((Strings{"elsewhere.txt:1", "renamed.txt:4"}), all);
    EXPECT_EQ("bbbb", GetFile(moved, 0, true));

    // A folder that does not exist breaks the reference: the move fails, and
    // so does a put, whose transaction is rolled back without blocking the
    // connection for the next one.
    FilesUser bad;
    EXPECT_EQ("failed", Finish(store->Move(&bad, moved, "x", 999999), bad));
    capture.lines.clear();
    EXPECT_EQ(0u, PutFile("lost.txt", 999999, {"x"}));
    EXPECT_TRUE(capture.Logged("::DatabaseError TaskFailed error:2"));
    EXPECT_NE(0u, PutFile("found.txt", other, {"y"}));
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM files WHERE name='lost.txt'"));
}

INSTANTIATE_TEST_SUITE_P(Modes, DbFilesModeTest, FILES_MODES);

TEST_F(DbFilesTest, deleting_the_referenced_row_deletes_its_files_and_their_content)
{
    ASSERT_TRUE(StartStore(false, nullptr));
    unsigned long long message = NewFolder(nullptr);
    unsigned long long kept = NewFolder(nullptr);
    unsigned long long a = PutFile("a.jpg", message, {Bytes(5000, 1), Bytes(10, 2)});
    unsigned long long b = PutFile("b.jpg", message, {Bytes(100, 3)});
    unsigned long long c = PutFile("c.jpg", kept, {Bytes(100, 4)});
    ASSERT_TRUE(a && b && c);

    ASSERT_TRUE(pg.Query("DELETE FROM owners WHERE id=" + std::to_string(message))) << pg.Error();
    // Without the cascade that deletion would be refused or leave content behind.
    IDbFiles* unsafe = filesProvider->CreateDbFiles(mux, &filesLog, nullptr);
    FilesUser u;
    EXPECT_DEATH(unsafe->Start(&u, db, "BIGINT REFERENCES owners(id)"),
                 "folder must contain the ON DELETE CASCADE definition for the foreign key!");
    delete unsafe;
    EXPECT_EQ(std::to_string(c), pg.Value("SELECT string_agg(id::text, ',') FROM files"));
    EXPECT_EQ("1|" + std::to_string(c), pg.Value("SELECT count(*) || '|' || min(file) FROM files_data"));
}

TEST_F(DbFilesTest, path_is_resolved_through_folders_from_the_root)
{
    ASSERT_TRUE(StartStore(true, nullptr));
    unsigned long long a = NewFolder("a");
    unsigned long long b = NewFolder("b", a);
    unsigned long long f = PutFile("f.txt", b, {"hello"});
    // "how it ended, the row found (id name length), where it stopped (folder isFolder rest)"
    auto resolve = [&](const char* path) {
        FilesUser u;
        IDbFilesPathInfo* info = store->PathInfo(&u, path);
        EXPECT_TRUE(RunUntil([&] { return u.Ended(); }));
        unsigned long long id = 0, folder = 0;
        const char *name, *rest;
        unsigned length = 0;
        bool isFolder;
        std::string o = u.events.back() + ",";
        if (info->Get(id, name, length, isFolder, nullptr, nullptr))
            o += std::to_string(id) + " " + name + " " + std::to_string(length);
        info->GetFailed(folder, isFolder, rest);
        o += "," + std::to_string(folder) + " " + std::to_string(isFolder) + " " + rest;
        delete info;
        return o;
    };
    auto id = [](unsigned long long v) { return std::to_string(v); };

    EXPECT_EQ("complete," + id(f) + " f.txt 5," + id(b) + " 1 f.txt", resolve("/a/b/f.txt"));
    EXPECT_EQ("complete," + id(b) + " b 0," + id(a) + " 1 b", resolve("a//b"));
    EXPECT_EQ("complete,1  0,1 1 ", resolve("/"));
    // A missing component completes without a row and tells where it stopped.
    EXPECT_EQ("complete,," + id(a) + " 1 missing/x.txt", resolve("a/missing/x.txt"));
    // A file cannot be passed through.
    capture.lines.clear();
    EXPECT_EQ("failed,," + id(f) + " 0 more", resolve("a/b/f.txt/more"));
    EXPECT_TRUE(capture.Logged("::DatabaseExecSQLResult TaskFailed path:a/b/f.txt/more folder:" + id(f) + " isFolder:0"));
}

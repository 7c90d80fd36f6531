#include "tests/dbfiles/dbfiles_test.h"

TEST_P(DbFilesModeTest, list_gives_the_rows_of_one_folder_up_to_the_limit)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder("docs");
    unsigned long long other = NewFolder("other");
    ASSERT_NE(0u, PutFile("a.txt", folder, {"aaa"}));
    ASSERT_NE(0u, PutFile("b.txt", folder, {"bb", "bb"}));
    ASSERT_NE(0u, PutFile("c.txt", folder, {}));
    ASSERT_NE(0u, PutFile("elsewhere.txt", other, {"x"}));

    Strings all = ListFolder(folder);
    std::sort(all.begin(), all.end());
    EXPECT_EQ((Strings{"a.txt:3", "b.txt:4", "c.txt:0"}), all);
    EXPECT_EQ(2u, ListFolder(folder, 2).size());
    EXPECT_EQ(Strings{"elsewhere.txt:1"}, ListFolder(other));
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
}

TEST_P(DbFilesModeTest, del_and_move_change_one_file)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder("docs");
    unsigned long long other = NewFolder("other");
    unsigned long long gone = PutFile("gone.txt", folder, {"12", "34"});
    unsigned long long moved = PutFile("moved.txt", folder, {"56"});

    FilesUser del;
    EXPECT_EQ("complete", Finish(store->Del(&del, gone), del));
    EXPECT_EQ("0|0", pg.Value("SELECT (SELECT count(*) FROM files WHERE id=" + std::to_string(gone) +
                              ") || '|' || (SELECT count(*) FROM files_data WHERE file=" + std::to_string(gone) + ")"));

    FilesUser move;
    EXPECT_EQ("complete", Finish(store->Move(&move, moved, "renamed.txt", other), move));
    EXPECT_EQ(Strings{}, ListFolder(folder));
    EXPECT_EQ(Strings{"renamed.txt:2"}, ListFolder(other));
    EXPECT_EQ("56", GetFile(moved, 0, true));

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

    struct Outcome {
        std::string end;
        bool found = false;
        unsigned long long id = 0;
        std::string name;
        unsigned length = 0;
        unsigned long long folder = 0;
        bool isFolder = false;
        std::string rest;
    };
    auto resolve = [&](const char* path) {
        Outcome o;
        FilesUser u;
        IDbFilesPathInfo* info = store->PathInfo(&u, path);
        EXPECT_TRUE(RunUntil([&] { return u.Ended(); }));
        o.end = u.events.back();
        const char* name;
        bool isFolder;
        o.found = info->Get(o.id, name, o.length, isFolder, nullptr, nullptr);
        if (o.found) o.name = name;
        const char* rest;
        info->GetFailed(o.folder, o.isFolder, rest);
        o.rest = rest;
        delete info;
        return o;
    };

    Outcome file = resolve("/a/b/f.txt");
    EXPECT_EQ("complete", file.end);
    EXPECT_TRUE(file.found);
    EXPECT_EQ(f, file.id);
    EXPECT_EQ("f.txt", file.name);
    EXPECT_EQ(5u, file.length);
    EXPECT_EQ(b, file.folder);

    Outcome folder = resolve("a//b");
    EXPECT_TRUE(folder.found);
    EXPECT_EQ(b, folder.id);

    Outcome root = resolve("/");
    EXPECT_TRUE(root.found);
    EXPECT_EQ(1u, root.id);

    // A missing component completes without a row and tells where it stopped.
    Outcome missing = resolve("a/missing/x.txt");
    EXPECT_EQ("complete", missing.end);
    EXPECT_FALSE(missing.found);
    EXPECT_EQ(a, missing.folder);
    EXPECT_TRUE(missing.isFolder);
    EXPECT_EQ("missing/x.txt", missing.rest);

    // A file cannot be passed through.
    capture.lines.clear();
    Outcome through = resolve("a/b/f.txt/more");
    EXPECT_EQ("failed", through.end);
    EXPECT_FALSE(through.found);
    EXPECT_EQ(f, through.folder);
    EXPECT_FALSE(through.isFolder);
    EXPECT_EQ("more", through.rest);
    EXPECT_TRUE(capture.Logged("::DatabaseExecSQLResult TaskFailed path:a/b/f.txt/more folder:" + std::to_string(f) +
                               " isFolder:0"));
}

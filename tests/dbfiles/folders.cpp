#include "tests/dbfiles/dbfiles_test.h"

TEST_P(DbFilesBytesTest, a_deleted_file_takes_its_content_and_a_put_into_a_missing_folder_stores_nothing)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder();
    unsigned long long gone = PutFile("a.txt", folder, {"aaa", "bb"});
    unsigned long long kept = PutFile("b.txt", folder, {"bb"});
    ASSERT_TRUE(gone && kept);
    FilesUser del;
    EXPECT_EQ("complete", Finish(store->Del(&del, gone), del));
    EXPECT_EQ("", Row(gone));
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM files_data WHERE file=" + std::to_string(gone)));
    EXPECT_EQ("bb", GetFile(kept, 0, true));

    // A folder that does not exist breaks the reference: the put fails, and
    // its transaction is rolled back without blocking the connection for the next one.
    capture.lines.clear();
    EXPECT_EQ(0u, PutFile("lost.txt", 999999, {"x"}));
    EXPECT_TRUE(capture.Logged("::DatabaseError TaskFailed error:2"));
    EXPECT_NE(0u, PutFile("found.txt", folder, {"y"}));
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM files WHERE name='lost.txt'"));
}

INSTANTIATE_TEST_SUITE_P(Forms, DbFilesBytesTest, BYTES_FORMS);

TEST_F(DbFilesTest, deleting_the_referenced_row_deletes_its_files_and_their_content)
{
    ASSERT_TRUE(StartStore());
    unsigned long long message = NewFolder();
    unsigned long long kept = NewFolder();
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

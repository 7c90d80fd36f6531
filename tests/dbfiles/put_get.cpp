#include "tests/dbfiles/dbfiles_test.h"

TEST_P(DbFilesBytesTest, chunks_are_read_back_from_any_offset)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder();
    const Strings chunks{Bytes(1000, 1), Bytes(700, 2), Bytes(1300, 3)};
    const std::string content = chunks[0] + chunks[1] + chunks[2];
    unsigned long long id = PutFile("three.bin", folder, chunks);
    ASSERT_NE(0u, id);
    EXPECT_EQ("3000|false|3", Row(id));
    // Each write is one chunk.
    EXPECT_EQ("1000,700,1300", pg.Value("SELECT string_agg(length(data)::text, ',' ORDER BY id) FROM files_data "
                                        "WHERE file=" + std::to_string(id)));

    Strings sizes, events;
    EXPECT_EQ(content, GetFile(id, 0, true, &sizes, &events));
    EXPECT_EQ((Strings{" 1000", " 700", " 1300"}), sizes);
    EXPECT_EQ((Strings{"progress 0", "progress 0", "progress 0", "complete"}), events);

    sizes.clear();
    EXPECT_EQ(content.substr(500), GetFile(id, 500, true, &sizes));
    EXPECT_EQ((Strings{" 500", " 700", " 1300"}), sizes);

    sizes.clear();
    EXPECT_EQ(content.substr(1000), GetFile(id, 1000, true, &sizes));
    EXPECT_EQ((Strings{" 700", " 1300"}), sizes);

    // Without finalByProgress the last chunk comes with the completion.
    sizes.clear();
    EXPECT_EQ(content.substr(1699), GetFile(id, 1699, false, &sizes, &events));
    EXPECT_EQ((Strings{" 1", "=1300"}), sizes);
    EXPECT_EQ((Strings{"progress 0", "complete"}), events);

    for (unsigned offset : {3000u, 5000u}) {
        capture.lines.clear();
        EXPECT_EQ("", GetFile(id, offset, true, nullptr, &events));
        EXPECT_EQ(Strings{"complete"}, events);
        EXPECT_TRUE(capture.Logged("::DatabaseExecSQLResultOffset dbfiles:")) << offset;
        EXPECT_TRUE(capture.Logged(" offset " + std::to_string(offset) + " out of range"));
    }

    unsigned long long empty = PutFile("empty.bin", folder, {});
    ASSERT_NE(0u, empty);
    EXPECT_EQ("0|false|0", Row(empty));
    EXPECT_EQ("", GetFile(empty, 0, true, nullptr, &events));
    EXPECT_EQ(Strings{"complete"}, events);

    // Writes without data store no chunk but still count as steps.
    unsigned long long gaps = PutFile("gaps.bin", folder, {"", "abc", ""});
    EXPECT_EQ("3|false|1", Row(gaps));
    EXPECT_EQ("abc", GetFile(gaps, 0, true));
}

TEST_P(DbFilesBytesTest, put_interrupted_after_two_chunks_is_repaired_at_next_start)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder();
    FilesUser u;
    IDbFilesPut* put = store->Put(&u, "cut.bin", folder, false);
    const std::string a = Bytes(4000, 4), b = Bytes(3000, 5);
    unsigned written = 0;
    u.onProgress = [&] {
        if (written == 0) put->Write((const unsigned char*)a.data(), (unsigned)a.size(), false);
        if (written == 1) put->Write((const unsigned char*)b.data(), (unsigned)b.size(), false);
        written++;
    };
    ASSERT_TRUE(RunUntil([&] { return written == 3; }));
    unsigned long long id = put->Get();
    // The writer goes away while the put waits for its third chunk.
    delete put;
    DropStore();
    EXPECT_EQ("-1|false|2", Row(id));

    ASSERT_TRUE(StartStore());
    EXPECT_EQ("7000|true|2", Row(id));
    EXPECT_EQ(a + b, GetFile(id, 0, true));
}

TEST_P(DbFilesBytesTest, a_second_put_of_a_name_while_the_first_runs_makes_a_file_of_its_own)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder();
    FilesUser first;
    IDbFilesPut* running = store->Put(&first, "same.txt", folder, false);
    ASSERT_TRUE(RunUntil([&] { return !first.events.empty(); }));

    const std::string text = "second";
    unsigned long long second = PutFile("same.txt", folder, {text});
    running->Write((const unsigned char*)"first", 5, true);
    ASSERT_TRUE(RunUntil([&] { return first.Ended(); }));
    EXPECT_EQ((Strings{"progress 0", "complete"}), first.events);
    unsigned long long firstId = running->Get();
    delete running;

    // Two files of one name: the first one's chunks stay its own.
    ASSERT_NE(0u, second);
    EXPECT_NE(firstId, second);
    EXPECT_EQ("first", GetFile(firstId, 0, true));
    EXPECT_EQ(text, GetFile(second, 0, true));
    EXPECT_EQ("2", pg.Value("SELECT count(*) FROM files WHERE name='same.txt'"));
}

TEST_P(DbFilesBytesTest, put_stopped_before_its_first_chunk_completes_with_size_zero)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder();
    FilesUser u;
    IDbFilesPut* put = store->Put(&u, "stopped.txt", folder, false);
    put->Stop();
    ASSERT_TRUE(RunUntil([&] { return u.Ended(); }));
    EXPECT_EQ(Strings{"complete"}, u.events);
    EXPECT_EQ("0|false|0", Row(put->Get()));
    delete put;
}

INSTANTIATE_TEST_SUITE_P(Forms, DbFilesBytesTest, BYTES_FORMS);

TEST_F(DbFilesTest, chunks_in_another_bytea_output_form_fail_the_read_instead_of_garbling_it)
{
    ASSERT_TRUE(StartStore());
    unsigned long long folder = NewFolder();
    const std::string content = Bytes(3000, 6);
    unsigned long long id = PutFile("escaped.bin", folder, {content});
    ASSERT_NE(0u, id);

    DbUser u(events, "u");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SET bytea_output = 'escape'");
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 0"); }));
    capture.lines.clear();
    Strings reported;
    EXPECT_EQ("", GetFile(id, 0, true, nullptr, &reported));
    EXPECT_EQ(Strings{"failed"}, reported);
    EXPECT_TRUE(capture.Logged("::DatabaseExecSQLResultData not in hex form"));

    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SET bytea_output = 'hex'");
    ASSERT_TRUE(RunUntil([&] { return Count("u:rows 0") == 2; }));
    EXPECT_EQ(content, GetFile(id, 0, true));
}

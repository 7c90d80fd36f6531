#include "tests/dbfiles/dbfiles_test.h"

TEST_F(DbFilesTest, crypted_content_is_unreadable_with_another_key_or_none)
{
    ASSERT_TRUE(StartStore(true, KEY_A));
    const std::string secret = Bytes(2000, 9);
    unsigned long long id = PutFile("secret.bin", 1, {secret});
    ASSERT_NE(0u, id);
    EXPECT_EQ(secret, GetFile(id, 0, true));
    DropStore();

    for (const unsigned char* key : {KEY_B, (const unsigned char*)nullptr}) {
        ASSERT_TRUE(StartStore(true, key));
        capture.lines.clear();
        Strings events;
        EXPECT_EQ("", GetFile(id, 0, true, nullptr, &events));
        EXPECT_EQ(Strings{"failed"}, events);
        EXPECT_TRUE(capture.Logged("::DatabaseExecSQLResultData decryption failed, invalid key?"));
        // From an offset the lengths still count without IV and tag.
        EXPECT_EQ(Strings{"failed"}, (GetFile(id, 1999, true, nullptr, &events), events));
        DropStore();
    }

    // A store with a key still reads what was written without one.
    ASSERT_TRUE(StartStore(true, nullptr));
    unsigned long long plain = PutFile("plain.txt", 1, {"open"});
    DropStore();
    ASSERT_TRUE(StartStore(true, KEY_B));
    EXPECT_EQ("open", GetFile(plain, 0, true));
    EXPECT_EQ("f", pg.Value("SELECT crypted FROM files WHERE id=" + std::to_string(plain)));

    // The right key again reads from the middle of the chunk.
    DropStore();
    ASSERT_TRUE(StartStore(true, KEY_A));
    EXPECT_EQ(secret.substr(1999), GetFile(id, 1999, true));
}

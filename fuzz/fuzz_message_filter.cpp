// Client filter objects into the SQL the service runs: the filter built from
// arbitrary JSON, its condition text written into rooms of every size, and
// the reading and counting statements around it. Whatever the client sends,
// the text stays inside its room, every string literal it opens is closed,
// and no statement separator appears outside a literal.
//
// Byte 0 picks the reading mode (bit 0 a discussion, bit 1 the discussion
// list, bit 2 liked only, bit 3 with a user, bit 4 a paging position), byte
// 1 the room for the bare condition; the rest is the JSON text. Bits 5 and 6
// give the discussion type counted, bit 7 reads as the app object.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "json/json_io.h"
#include "messages/filter_expression.h"
#include "messages/filter_from_json.h"
#include "messages/message_content.h"
#include "messages/messages_user.h"
#include "messages/readable_topics.h"
#include "messages/tasks/task_read_messages.h"
#include "messages/tasks/task_unread_count.h"

namespace {

// Literals are closed and no ";" stands outside them.
void CheckSql(const char* sql, size_t len)
{
    if (strlen(sql) != len) __builtin_trap();
    bool literal = false;
    for (size_t i = 0; i < len; i++) {
        if (sql[i] == '\'') literal = !literal;
        else if (sql[i] == ';' && !literal) __builtin_trap();
    }
    if (literal) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    uint8_t mode = data[0];
    size_t room = data[1];
    std::vector<char> text(data + 2, data + size);
    text.push_back(0);
    json_io msg(text.data());
    if (!msg.decode()) return 0;
    unsigned short base = msg.get_object(json_io::NONE, nullptr);

    MessagesUser user("me");
    unsigned long long id = 0;
    for (const char* name : {"t1", "t2", "T_3%'", "me"}) {
        char copy[16];
        strcpy(copy, name);
        user.AddTopic(copy, name, ++id, false);
    }
    // The app object reads every topic, a user only its own.
    MessagesReadableTopics readable = mode & 0x80 ? MessagesReadableTopics() : MessagesReadableTopics(user);
    MessageFilter filter(MessageFilter::AND);
    jsonFilter(&filter, msg, base, &user);

    std::vector<char> small(room + 1);
    int written = filter.WriteFilters(small.data(), (int)small.size());
    if (written < 0 || (size_t)written >= small.size()) __builtin_trap();
    CheckSql(small.data(), (size_t)written);

    TaskReadMessages read(nullptr, 50, mode & 1 ? 7 : 0, mode & 2, mode & 4, mode & 8 ? "me'; --" : nullptr, &filter,
                          mode & 16 ? 1700000000000ull : 0, mode & 16 ? 9 : 0, readable);
    std::vector<char> sql(read.StatementSize());
    size_t len = read.Statement(sql.data(), sql.size());
    if (!len) __builtin_trap();
    CheckSql(sql.data(), len);
    TaskUnreadCount count(nullptr, "me'", &filter, (mode >> 5) & 3, readable);
    sql.resize(count.StatementSize());
    len = count.Statement(sql.data(), sql.size());
    if (!len) __builtin_trap();
    CheckSql(sql.data(), len);

    MessageContent content(0, 0, 0, "a", "t1", nullptr, "x", nullptr);
    content.tags.Add("tag");
    filter.check(&content);
    return 0;
}

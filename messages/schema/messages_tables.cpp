#include "messages/schema/messages_tables.h"

#include <string>

#include "database/schema_function.h"
#include "database/schema_table.h"
#include "messages/search_query.h"
#include "runtime/assert.h"

namespace {

const char* const ID = "BIGSERIAL PRIMARY KEY NOT NULL";
const char* const NOW = "BIGINT DEFAULT EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000 NOT NULL";
const char* const OBJECT_CASCADE = "BIGINT REFERENCES objects(id) ON DELETE CASCADE NOT NULL";
const char* const MESSAGE_CASCADE = "BIGINT REFERENCES messages(id) ON DELETE CASCADE NOT NULL";

// Constraint and index names are unique in the whole schema: an index is
// recognised by its name alone.

void DeclareObjects(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("guid", "UUID UNIQUE");
    t->AddColumn("sip", "VARCHAR(256) UNIQUE NOT NULL");
    t->AddColumn("dn", "VARCHAR(256)");
    t->AddColumn("grp", "BOOLEAN");
    t->AddColumn("updated", NOW);
    // The case-insensitive upserts (ON CONFLICT (LOWER(sip))) need this index.
    t->AddIndex("objects_sip_index", "LOWER(sip)", true);
    // A login finds the sub-topics of its topics ("topic?name") by ranges
    // of names compared byte by byte, which this operator class serves
    // under any collation and with the range's ends as parameters.
    t->AddIndex("objects_sip_pattern_index", "sip text_pattern_ops", false);
}

void DeclareTopicAccess(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("topic", OBJECT_CASCADE);
    t->AddColumn("sip", "VARCHAR(256)");
    t->AddColumn("grp", "BOOLEAN");
    t->AddColumn("admin", "BOOLEAN");
    t->AddConstraint("topic_access_unique", "UNIQUE (topic, sip, grp)");
}

void DeclareTags(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("name", "VARCHAR(256) UNIQUE NOT NULL");
    t->AddIndex("tags_name_index", "LOWER(name)", true);
}

void DeclareDiscussions(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("topic", "BIGINT REFERENCES objects(id) NOT NULL");
    t->AddColumn("type", "INTEGER DEFAULT NULL");
    t->AddColumn("time", NOW);
    t->AddIndex("discussion_topic_index", "topic", false);
    t->AddIndex("discussion_type_index", "type", false);
    t->AddIndex("discussion_time_topic_index", "time,topic", false);
    // The unread count compares the time with a NUMERIC expression, which
    // the column's own index cannot serve.
    t->AddIndex("discussion_time_numeric_index", "(time::numeric)", false);
}

void DeclareMessages(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("adds_to", "BIGINT REFERENCES discussions(id) ON DELETE CASCADE");
    t->AddColumn("replies_to", "BIGINT REFERENCES messages(id) ON DELETE CASCADE");
    t->AddColumn("author", "BIGINT REFERENCES objects(id) NOT NULL");
    t->AddColumn("text", "TEXT");
    t->AddColumn("time", NOW);
    t->AddColumn("edited", "BIGINT DEFAULT NULL");
    t->AddColumn("editor", "BIGINT REFERENCES objects(id) DEFAULT NULL");
    t->AddColumn("attached", "VARCHAR");
    t->AddColumn("guid", "UUID");
    t->AddIndex("messages_adds_to_index", "adds_to", false);
    t->AddIndex("messages_replies_to_index", "replies_to", false);
    t->AddIndex("messages_author_index", "author", false);
    t->AddIndex("messages_time_index", "time", false);
    // A discussion's root message, looked up by every post that adds to it.
    t->AddIndex("messages_adds_to_replies_to_index", "adds_to,replies_to", false);
    // The per-discussion counts of a page (replies, unread) read these three
    // columns of every message of the discussion from the index alone.
    t->AddIndex("messages_adds_to_author_index", "adds_to,author,id", false);
    // The roots alone: a discussion's first message bounds the read marks
    // that can concern it, and a discussion list finds its roots here.
    t->AddPartialIndex("messages_roots_index", "adds_to,id", "replies_to IS NULL");
    // The words of the text for search, kept by the database itself. The
    // simple configuration neither stems nor drops words, so words of any
    // language match as written, and by prefix.
    t->AddColumn("search", "TSVECTOR GENERATED ALWAYS AS (to_tsvector('simple', COALESCE(text, ''))) STORED");
    t->AddIndex("messages_search_index", "search", "gin");
    // Every beginning of every word, one entry each: a prefix is one entry
    // here, where the word index reads the rows of every word it begins.
    // Kept as an index of the function alone, since a stored column would
    // double the table that every walk by id reads.
    t->AddIndex("messages_prefix_index", "search_prefixes(text)", "gin");
}

void DeclareMessageNotifications(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("message", MESSAGE_CASCADE);
    t->AddColumn("object", OBJECT_CASCADE);
    t->AddConstraint("notification_unique", "UNIQUE (message, object)");
    t->AddIndex("message_index", "message", false);
    t->AddIndex("object_index", "object", false);
}

void DeclareMessageTags(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("message", MESSAGE_CASCADE);
    t->AddColumn("tag", "BIGINT REFERENCES tags(id) NOT NULL");
    t->AddConstraint("tags_unique", "UNIQUE (message, tag)");
}

void DeclareMessageRead(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("message", MESSAGE_CASCADE);
    t->AddColumn("object", OBJECT_CASCADE);
    t->AddColumn("time", NOW);
    t->AddConstraint("read_unique", "UNIQUE (message, object)");
    t->AddIndex("read_message_index", "message", false);
    t->AddIndex("read_object_index", "object", false);
    // A person's read marks from a message id on, for the unread counts.
    t->AddIndex("read_object_message_index", "object,message", false);
}

void DeclareMessageLikes(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("message", MESSAGE_CASCADE);
    t->AddColumn("object", OBJECT_CASCADE);
    t->AddColumn("time", NOW);
    t->AddConstraint("likes_unique", "UNIQUE (message, object)");
    t->AddIndex("likes_message_index", "message", false);
    t->AddIndex("likes_object_index", "object", false);
}

void DeclareFilters(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    // Moving a filter to the end sets seq to its default, the next value.
    t->AddColumn("seq", "BIGSERIAL NOT NULL");
    t->AddColumn("object", "BIGINT REFERENCES objects(id) NOT NULL");
    t->AddColumn("filter", "VARCHAR");
    t->AddColumn("text", "VARCHAR");
    t->AddColumn("topic", "VARCHAR");
    t->AddColumn("dn", "VARCHAR");
    t->AddColumn("tag", "VARCHAR");
}

void DeclareMembers(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("grp", OBJECT_CASCADE);
    t->AddColumn("object", OBJECT_CASCADE);
    t->AddColumn("admin", "BOOLEAN");
    t->AddConstraint("group_unique", "UNIQUE (grp, object)");
}

void DeclareFilesBuffer(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("key", "VARCHAR(16)");
    t->AddColumn("name", "VARCHAR(256)");
    t->AddColumn("time", NOW);
}

void DeclareFilesBufferData(TaskPostgreSQLInitTable* t)
{
    t->AddColumn("id", ID);
    t->AddColumn("file", "BIGINT REFERENCES files_buffer(id) ON DELETE CASCADE");
    t->AddColumn("data", "BYTEA");
}

struct TableDeclaration {
    const char* name;
    void (*declare)(TaskPostgreSQLInitTable*);
};

const TableDeclaration tables[MESSAGES_TABLE_COUNT] = {
    {"objects", DeclareObjects},
    {"topic_access", DeclareTopicAccess},
    {"tags", DeclareTags},
    {"discussions", DeclareDiscussions},
    {"messages", DeclareMessages},
    {"message_notifications", DeclareMessageNotifications},
    {"message_tags", DeclareMessageTags},
    {"message_read", DeclareMessageRead},
    {"message_likes", DeclareMessageLikes},
    {"filters", DeclareFilters},
    {"members", DeclareMembers},
    {"files_buffer", DeclareFilesBuffer},
    {"files_buffer_data", DeclareFilesBufferData},
};

}  // namespace

TaskPostgreSQLInitTable* CreateMessagesTableTask(IDatabase* database, unsigned index)
{
    ASSERT(index < MESSAGES_TABLE_COUNT, "CreateMessagesTableTask index out of range");
    TaskPostgreSQLInitTable* task = new TaskPostgreSQLInitTable(database, tables[index].name);
    tables[index].declare(task);
    return task;
}

TaskPostgreSQLInitFunction* CreateMessagesFunctionTask(IDatabase* database)
{
    auto* task = new TaskPostgreSQLInitFunction(database, "search_prefixes");
    // Words as the word index holds them, each cut to every length up to
    // the longest beginning kept. Tested on a row, it costs some forty times
    // the stored words' test, which the planner must weigh. The index keeps
    // what it returned: a different body needs a function and an index of
    // new names, never a change of this one.
    std::string body = "SELECT array_to_tsvector(ARRAY(SELECT left(w, n) FROM "
                       "unnest(tsvector_to_array(to_tsvector('simple', COALESCE(t, '')))) w, "
                       "generate_series(1, LEAST(length(w), " + std::to_string(SEARCH_PREFIX_LETTERS) + ")) n))";
    task->SqlFunction("t TEXT", "TSVECTOR", 1000, body.c_str());
    return task;
}

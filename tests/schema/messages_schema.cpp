#include <algorithm>

#include "messages/schema/task_database_fix.h"
#include "messages/schema/task_database_init.h"
#include "messages/schema/task_database_reset.h"
#include "messages/schema/task_database_update.h"
#include "messages/tasks/task_remove_unused_entities.h"
#include "tests/schema/schema_test.h"

using Strings = std::vector<std::string>;

class MessagesSchemaTest : public SchemaTest {
protected:
    // One start of an instance: fix, init, update, each after the other.
    // Returns the three reports, "fix progress 1 complete | init complete | update complete".
    // The statements of all three go to `started`.
    std::string Start()
    {
        started.clear();
        TaskDatabaseFix fix(db);
        Strings f = Run(fix);
        Collect();
        TaskDatabaseInit init(db);
        Strings i = Run(init);
        Collect();
        TaskDatabaseUpdate update(db, std::find(f.begin(), f.end(), "progress 1") != f.end() ? 1 : 0);
        Strings u = Run(update);
        Collect();
        std::string report = "fix";
        for (const auto& e : f) report += " " + e;
        return report + " | init " + i.back() + " | update " + u.back();
    }
    void Collect()
    {
        Strings sql = Statements();
        started.insert(started.end(), sql.begin(), sql.end());
    }
    std::string Tables()
    {
        return pg.Value("SELECT string_agg(tablename, ',' ORDER BY tablename) FROM pg_tables WHERE schemaname = 'public'");
    }
    std::string Ids(const std::string& table)
    {
        return pg.Value("SELECT string_agg(id::text, ',' ORDER BY id) FROM " + table);
    }

    Strings started;
};

static const char* const ALL_TABLES =
    "discussions,files_buffer,files_buffer_data,filters,members,message_likes,message_notifications,message_read,"
    "message_tags,messages,objects,tags,topic_access";

// What the schema must look like, written from the table declarations of the
// design: columns in order ("!" NOT NULL), constraints, then plain indexes.
static const std::pair<const char*, const char*> SCHEMA[] = {
    {"objects", "id bigint!, guid uuid, sip character varying(256)!, dn character varying(256), grp boolean, updated bigint! | "
                "objects_guid_key UNIQUE (guid), objects_pkey PRIMARY KEY (id), objects_sip_key UNIQUE (sip) | "
                "objects_sip_index unique (lower((sip)::text)), objects_sip_pattern_index (sip text_pattern_ops)"},
    {"topic_access", "id bigint!, topic bigint!, sip character varying(256), grp boolean, admin boolean | "
                     "topic_access_pkey PRIMARY KEY (id), topic_access_topic_fkey FOREIGN KEY (topic) REFERENCES "
                     "objects(id) ON DELETE CASCADE, topic_access_unique UNIQUE (topic, sip, grp) | "},
    {"tags", "id bigint!, name character varying(256)! | tags_name_key UNIQUE (name), tags_pkey PRIMARY KEY (id) | "
             "tags_name_index unique (lower((name)::text))"},
    {"discussions", "id bigint!, topic bigint!, type integer, time bigint! | discussions_pkey PRIMARY KEY (id), "
                    "discussions_topic_fkey FOREIGN KEY (topic) REFERENCES objects(id) | "
                    "discussion_time_numeric_index (((\"time\")::numeric)), discussion_time_topic_index (\"time\", topic), "
                    "discussion_topic_index (topic), discussion_type_index (type)"},
    {"messages", "id bigint!, adds_to bigint, replies_to bigint, author bigint!, text text, time bigint!, edited bigint, "
                 "editor bigint, attached character varying, guid uuid, search tsvector | "
                 "messages_adds_to_fkey FOREIGN KEY (adds_to) REFERENCES discussions(id) ON DELETE CASCADE, "
                 "messages_author_fkey FOREIGN KEY (author) REFERENCES objects(id), "
                 "messages_editor_fkey FOREIGN KEY (editor) REFERENCES objects(id), messages_pkey PRIMARY KEY (id), "
                 "messages_replies_to_fkey FOREIGN KEY (replies_to) REFERENCES messages(id) ON DELETE CASCADE | "
                 "messages_adds_to_author_index (adds_to, author, id), messages_adds_to_index (adds_to), "
                 "messages_adds_to_replies_to_index (adds_to, replies_to), "
                 "messages_author_index (author), "
                 "messages_prefix_index CREATE INDEX messages_prefix_index ON public.messages USING gin (search_prefixes(text)), "
                 "messages_replies_to_index (replies_to), "
                 "messages_roots_index (adds_to, id) WHERE (replies_to IS NULL), "
                 "messages_search_index CREATE INDEX messages_search_index ON public.messages USING gin (search), "
                 "messages_time_index (\"time\")"},
    {"message_notifications", "message bigint!, object bigint! | "
                              "message_notifications_message_fkey FOREIGN KEY (message) REFERENCES messages(id) ON DELETE CASCADE, "
                              "message_notifications_object_fkey FOREIGN KEY (object) REFERENCES objects(id) ON DELETE CASCADE, "
                              "notification_unique UNIQUE (message, object) | message_index (message), object_index (object)"},
    {"message_tags", "message bigint!, tag bigint! | "
                     "message_tags_message_fkey FOREIGN KEY (message) REFERENCES messages(id) ON DELETE CASCADE, "
                     "message_tags_tag_fkey FOREIGN KEY (tag) REFERENCES tags(id), tags_unique UNIQUE (message, tag) | "},
    {"message_read", "message bigint!, object bigint!, time bigint! | "
                     "message_read_message_fkey FOREIGN KEY (message) REFERENCES messages(id) ON DELETE CASCADE, "
                     "message_read_object_fkey FOREIGN KEY (object) REFERENCES objects(id) ON DELETE CASCADE, "
                     "read_unique UNIQUE (message, object) | read_message_index (message), read_object_index (object), "
                     "read_object_message_index (object, message)"},
    {"message_likes", "message bigint!, object bigint!, time bigint! | "
                      "likes_unique UNIQUE (message, object), "
                      "message_likes_message_fkey FOREIGN KEY (message) REFERENCES messages(id) ON DELETE CASCADE, "
                      "message_likes_object_fkey FOREIGN KEY (object) REFERENCES objects(id) ON DELETE CASCADE | "
                      "likes_message_index (message), likes_object_index (object)"},
    {"filters", "id bigint!, seq bigint!, object bigint!, filter character varying, text character varying, "
                "topic character varying, dn character varying, tag character varying | "
                "filters_object_fkey FOREIGN KEY (object) REFERENCES objects(id), filters_pkey PRIMARY KEY (id) | "},
    {"members", "id bigint!, grp bigint!, object bigint!, admin boolean | group_unique UNIQUE (grp, object), "
                "members_grp_fkey FOREIGN KEY (grp) REFERENCES objects(id) ON DELETE CASCADE, "
                "members_object_fkey FOREIGN KEY (object) REFERENCES objects(id) ON DELETE CASCADE, "
                "members_pkey PRIMARY KEY (id) | "},
    {"files_buffer", "id bigint!, key character varying(16), name character varying(256), time bigint! | "
                     "files_buffer_pkey PRIMARY KEY (id) | "},
    {"files_buffer_data", "id bigint!, file bigint, data bytea | "
                          "files_buffer_data_file_fkey FOREIGN KEY (file) REFERENCES files_buffer(id) ON DELETE CASCADE, "
                          "files_buffer_data_pkey PRIMARY KEY (id) | "},
};

TEST_F(MessagesSchemaTest, empty_database_gets_all_tables_once_and_a_second_start_changes_nothing)
{
    Connect();
    EXPECT_EQ("fix progress 1 complete | init complete | update complete", Start());
    EXPECT_EQ(ALL_TABLES, Tables());
    std::vector<std::string> before;
    for (const auto& table : SCHEMA) {
        before.push_back(Describe(table.first));
        EXPECT_EQ(table.second, before.back()) << table.first;
    }

    // Defaults: insertion time in milliseconds, filters ordered by a sequence.
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip) VALUES ('a@x'); INSERT INTO filters (object) VALUES (1), (1);"
                         "INSERT INTO discussions (topic, type, time) VALUES (1, 1, 5);"
                         "INSERT INTO messages (adds_to, author, time) VALUES (1, 1, 7)"));
    EXPECT_EQ("t", pg.Value("SELECT abs(updated - EXTRACT(EPOCH FROM now()) * 1000) < 600000 FROM objects"));
    EXPECT_EQ("1,2", pg.Value("SELECT string_agg(seq::text, ',' ORDER BY id) FROM filters"));
    // The case-insensitive upsert finds its unique index.
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip, dn) VALUES ('A@X', 'A') ON CONFLICT (LOWER(sip)) DO UPDATE SET dn = EXCLUDED.dn"))
        << pg.Error();
    EXPECT_EQ("1 a@x A", pg.Value("SELECT count(*) || ' ' || min(sip) || ' ' || min(dn) FROM objects"));

    EXPECT_EQ("fix complete | init complete | update complete", Start());
    EXPECT_LT(40u, started.size());
    for (const std::string& sql : started) EXPECT_EQ(std::string::npos, sql.find("ALTER")) << sql;
    std::vector<std::string> after;
    for (const auto& table : SCHEMA) after.push_back(Describe(table.first));
    EXPECT_EQ(before, after);
    // Without the probe's failure the discussion times are not recomputed.
    EXPECT_EQ("5", pg.Value("SELECT time FROM discussions"));
}

TEST_F(MessagesSchemaTest, old_database_is_completed_and_its_discussions_get_the_newest_message_time)
{
    ASSERT_TRUE(pg.Query("CREATE TABLE objects (id BIGSERIAL PRIMARY KEY NOT NULL, sip VARCHAR(256) UNIQUE NOT NULL);"
                         "CREATE TABLE discussions (id BIGSERIAL PRIMARY KEY NOT NULL, topic BIGINT NOT NULL, type INTEGER);"
                         "CREATE TABLE messages (id BIGSERIAL PRIMARY KEY NOT NULL, adds_to BIGINT, author BIGINT NOT NULL,"
                         " text TEXT, time BIGINT NOT NULL);"
                         "INSERT INTO objects (sip) VALUES ('t@x'), ('u@x');"
                         "INSERT INTO discussions (topic, type) VALUES (1, 1), (1, 1);"
                         "INSERT INTO messages (adds_to, author, text, time) VALUES (1, 2, 'a', 10), (1, 2, 'b', 30), (1, 2, 'c', 20)"))
        << pg.Error();
    Connect();
    EXPECT_EQ("fix progress 1 complete | init complete | update complete", Start());
    EXPECT_EQ(ALL_TABLES, Tables());
    // New columns come behind the old ones, which keep their definitions.
    EXPECT_EQ("id bigint!, sip character varying(256)!, guid uuid, dn character varying(256), grp boolean, updated bigint! | "
              "objects_guid_key UNIQUE (guid), objects_pkey PRIMARY KEY (id), objects_sip_key UNIQUE (sip) | "
              "objects_sip_index unique (lower((sip)::text)), objects_sip_pattern_index (sip text_pattern_ops)",
              Describe("objects"));
    EXPECT_EQ("t@x,u@x", pg.Value("SELECT string_agg(sip, ',' ORDER BY id) FROM objects"));
    EXPECT_EQ("a b c", pg.Value("SELECT string_agg(text, ' ' ORDER BY id) FROM messages"));
    EXPECT_EQ("30,0", pg.Value("SELECT string_agg(time::text, ',' ORDER BY id) FROM discussions"));
}

TEST_F(MessagesSchemaTest, duplicate_membership_loses_one_row_per_start)
{
    Connect();
    Start();
    // Databases from before the unique constraint may hold the same membership several times.
    ASSERT_TRUE(pg.Query("ALTER TABLE members DROP CONSTRAINT group_unique;"
                         "INSERT INTO objects (sip) VALUES ('g@x'), ('u@x'), ('v@x');"
                         "INSERT INTO members (grp, object, admin) VALUES (1, 2, false), (1, 2, true), (1, 2, NULL), (1, 3, false)"))
        << pg.Error();
    // The constraint cannot come back while two copies remain, so the tables after members wait.
    EXPECT_EQ("fix complete | init failed | update complete", Start());
    EXPECT_EQ("1,2,4", Ids("members"));
    EXPECT_EQ("fix complete | init complete | update complete", Start());
    EXPECT_EQ("1,4", Ids("members"));
    EXPECT_EQ(SCHEMA[10].second, Describe("members"));
    EXPECT_EQ("fix complete | init complete | update complete", Start());
    EXPECT_EQ("1,4", Ids("members"));
}

TEST_F(MessagesSchemaTest, reset_drops_every_table_and_init_creates_them_empty)
{
    Connect();
    Start();
    // A table of another component that refers to messages keeps its rows.
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip) VALUES ('a@x'); INSERT INTO discussions (topic) VALUES (1);"
                         "INSERT INTO messages (adds_to, author) VALUES (1, 1);"
                         "CREATE TABLE store (id BIGSERIAL PRIMARY KEY, folder BIGINT REFERENCES messages(id) ON DELETE CASCADE);"
                         "INSERT INTO store (folder) VALUES (1)"))
        << pg.Error();
    TaskDatabaseReset reset(db);
    EXPECT_EQ(Strings{"complete"}, Run(reset));
    EXPECT_EQ("store", Tables());
    EXPECT_EQ("1", pg.Value("SELECT count(*) FROM store"));

    TaskDatabaseInit init(db);
    EXPECT_EQ(Strings{"complete"}, Run(init));
    EXPECT_EQ("discussions,files_buffer,files_buffer_data,filters,members,message_likes,message_notifications,"
              "message_read,message_tags,messages,objects,store,tags,topic_access",
              Tables());
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM objects"));
    EXPECT_EQ(SCHEMA[4].second, Describe("messages"));

    TaskDatabaseReset twice(db);
    EXPECT_EQ(Strings{"complete"}, Run(twice));
    TaskDatabaseReset nothingLeft(db);
    EXPECT_EQ(Strings{"failed"}, Run(nothingLeft));
}

TEST_F(MessagesSchemaTest, unused_entity_cleanup_keeps_named_and_referenced_objects)
{
    Connect();
    Start();
    ASSERT_TRUE(pg.Query(
        "INSERT INTO objects (sip, dn) VALUES ('named@x', 'Named'), ('idle@x', NULL), ('access@x', NULL),"
        " ('author@x', NULL), ('topic@x', NULL), ('editor@x', NULL), ('mentioned@x', NULL);"
        "INSERT INTO topic_access (topic, sip) VALUES (3, 'someone@x'), (1, 'someone@x');"
        "INSERT INTO discussions (topic) VALUES (5);"
        "INSERT INTO messages (adds_to, author, editor) VALUES (1, 4, 6);"
        "INSERT INTO message_notifications (message, object) VALUES (1, 7);"
        "INSERT INTO tags (name) VALUES ('used'), ('unused');"
        "INSERT INTO message_tags (message, tag) VALUES (1, 1)"))
        << pg.Error();
    TaskRemoveUnusedEntities cleanup(db);
    EXPECT_EQ(Strings{"complete"}, Run(cleanup));
    EXPECT_EQ("1,4,5,6,7", Ids("objects"));
    EXPECT_EQ("1", pg.Value("SELECT string_agg(topic::text, ',') FROM topic_access"));
    EXPECT_EQ("used", pg.Value("SELECT string_agg(name, ',') FROM tags"));
}

TEST_F(MessagesSchemaTest, failing_statements_end_every_task_with_its_report)
{
    // An old messages table with rows cannot take a NOT NULL author.
    ASSERT_TRUE(pg.Query("CREATE TABLE messages (id BIGSERIAL PRIMARY KEY, text TEXT); INSERT INTO messages (text) VALUES ('x')"))
        << pg.Error();
    Connect();
    EXPECT_EQ("fix progress 1 complete | init failed | update complete", Start());
    EXPECT_EQ("discussions,messages,objects,tags,topic_access", Tables());
    TaskRemoveUnusedEntities cleanup(db);
    EXPECT_EQ(Strings{"failed"}, Run(cleanup));

    db->Shutdown();
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    EXPECT_EQ("fix progress 1 complete | init failed | update complete", Start());
    TaskDatabaseReset reset(db);
    EXPECT_EQ(Strings{"failed"}, Run(reset));
    TaskRemoveUnusedEntities closed(db);
    EXPECT_EQ(Strings{"failed"}, Run(closed));
}

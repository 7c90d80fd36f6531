#include "database/schema_enum.h"
#include "database/schema_function.h"
#include "database/schema_sequence.h"
#include "database/schema_table.h"
#include "database/schema_trigger.h"
#include "tests/schema/schema_test.h"

using Strings = std::vector<std::string>;

static const char* const READ_COLUMNS = "SELECT column_name FROM information_schema.columns WHERE table_name='t';";
static const char* const READ_CONSTRAINTS =
    "SELECT constraint_name FROM information_schema.table_constraints WHERE table_name='t'";
static const char* const READ_INDEXES = "SELECT indexrelname FROM pg_stat_all_indexes WHERE schemaname = 'public'";

static void DeclareT(TaskPostgreSQLInitTable& t)
{
    t.AddColumn("a", "BIGINT NOT NULL");  // exists as INTEGER and stays so
    t.AddColumn("b", "INTEGER DEFAULT 7");
    t.AddColumn("c", "TEXT DEFAULT 'x%%y'");
    t.AddConstraint("t_ab_unique", "UNIQUE (a, b)");
    t.AddIndex("shared_name_index", "b", false);
    t.AddIndex("t_c_index", "a, LOWER(c)", true);
    t.AddPartialIndex("t_partial_index", "b", "c IS NULL");
}

TEST_F(SchemaTest, missing_columns_constraints_and_indexes_are_added_without_touching_rows)
{
    ASSERT_TRUE(pg.Query("CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1), (2);"
                         "CREATE TABLE other (x INTEGER); CREATE INDEX shared_name_index ON other (x)"))
        << pg.Error();
    Connect();
    TaskPostgreSQLInitTable first(db, "t");
    DeclareT(first);
    EXPECT_EQ(Strings{"complete"}, Run(first));
    EXPECT_EQ((Strings{"CREATE TABLE IF NOT EXISTS \"t\" ();", READ_COLUMNS,
                       "ALTER TABLE \"t\" ADD COLUMN \"b\" INTEGER DEFAULT 7, ADD COLUMN \"c\" TEXT DEFAULT 'x%y'",
                       READ_CONSTRAINTS, "ALTER TABLE \"t\" ADD CONSTRAINT \"t_ab_unique\" UNIQUE (a, b)", READ_INDEXES,
                       "CREATE UNIQUE INDEX \"t_c_index\" ON \"t\" USING btree (a, LOWER(c))",
                       "CREATE INDEX \"t_partial_index\" ON \"t\" USING btree (b) WHERE c IS NULL"}),
              Statements());
    EXPECT_EQ("a integer, b integer, c text | t_ab_unique UNIQUE (a, b) | t_c_index unique (a, lower(c)), "
              "t_partial_index (b) WHERE (c IS NULL)", Describe("t"));
    EXPECT_EQ("1:7:x%y,2:7:x%y", pg.Value("SELECT string_agg(a || ':' || b || ':' || c, ',' ORDER BY a) FROM t"));

    // A table that matches its declaration costs the create and three look-ups.
    TaskPostgreSQLInitTable again(db, "t");
    DeclareT(again);
    EXPECT_EQ(Strings{"complete"}, Run(again));
    EXPECT_EQ((Strings{"CREATE TABLE IF NOT EXISTS \"t\" ();", READ_COLUMNS, READ_CONSTRAINTS, READ_INDEXES}),
              Statements());
}

TEST_F(SchemaTest, enum_is_created_then_only_gets_its_missing_values_appended)
{
    Connect();
    TaskPostgreSQLInitEnum undeclared(db, "nothing");
    EXPECT_EQ(Strings{"complete"}, Run(undeclared));
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM pg_type WHERE typname = 'nothing'"));

    TaskPostgreSQLInitEnum created(db, "mood");
    created.AddValue("calm");
    created.AddValue("it's");
    EXPECT_EQ(Strings{"complete"}, Run(created));
    EXPECT_EQ("{calm,it's}", pg.Value("SELECT enum_range(NULL::mood)"));

    TaskPostgreSQLInitEnum grown(db, "mood");
    for (const char* v : {"calm", "it's", "angry", "glad"}) grown.AddValue(v);
    EXPECT_EQ(Strings{"complete"}, Run(grown));
    Strings sql = Statements();
    ASSERT_EQ(4u, sql.size());
    EXPECT_EQ("ALTER TYPE mood ADD VALUE 'angry'", sql[2]);
    EXPECT_EQ("ALTER TYPE mood ADD VALUE 'glad'", sql[3]);
    EXPECT_EQ("{calm,it's,angry,glad}", pg.Value("SELECT enum_range(NULL::mood)"));

    TaskPostgreSQLInitEnum same(db, "mood");
    for (const char* v : {"calm", "it's", "angry", "glad"}) same.AddValue(v);
    EXPECT_EQ(Strings{"complete"}, Run(same));
    EXPECT_EQ(2u, Statements().size());
}

TEST_F(SchemaTest, trigger_is_left_alone_unless_declared_for_recreation)
{
    ASSERT_TRUE(pg.Query("CREATE TABLE t (v INTEGER, n BIGINT, note TEXT)")) << pg.Error();
    Connect();
    TaskPostgreSQLInitSequence sequence(db, "t_seq");
    EXPECT_EQ(Strings{"complete"}, Run(sequence));
    TaskPostgreSQLInitFunction function(db, "t_fill");
    function.TriggerFunction("BEGIN NEW.n := nextval('t_seq'); NEW.note := format('%%s%%%%', NEW.v); RETURN NEW; END");
    EXPECT_EQ(Strings{"complete"}, Run(function));
    TaskPostgreSQLInitTrigger created(db, "t_fill_trigger");
    created.DefineTrigger("BEFORE INSERT", "t", "t_fill", false);
    EXPECT_EQ(Strings{"complete"}, Run(created));
    ASSERT_TRUE(pg.Query("INSERT INTO t (v) VALUES (50)")) << pg.Error();
    EXPECT_EQ("1 50%", pg.Value("SELECT n || ' ' || note FROM t"));
    std::string oid = pg.Value("SELECT oid FROM pg_trigger WHERE tgname = 't_fill_trigger'");

    TaskPostgreSQLInitTrigger kept(db, "t_fill_trigger");
    kept.DefineTrigger("BEFORE INSERT", "t", "t_fill", false);
    EXPECT_EQ(Strings{"complete"}, Run(kept));
    EXPECT_EQ(oid, pg.Value("SELECT oid FROM pg_trigger WHERE tgname = 't_fill_trigger'"));

    TaskPostgreSQLInitTrigger recreated(db, "t_fill_trigger");
    recreated.DefineTrigger("BEFORE INSERT OR UPDATE", "t", "t_fill", true);
    EXPECT_EQ(Strings{"complete"}, Run(recreated));
    EXPECT_EQ((Strings{"SELECT tgname FROM pg_trigger WHERE tgname='t_fill_trigger'", "DROP TRIGGER t_fill_trigger ON t",
                       "CREATE TRIGGER t_fill_trigger BEFORE INSERT OR UPDATE ON t FOR EACH ROW EXECUTE PROCEDURE t_fill()"}),
              Statements());
    EXPECT_NE(oid, pg.Value("SELECT oid FROM pg_trigger WHERE tgname = 't_fill_trigger'"));

    // Existing objects keep their state: the sequence goes on counting.
    TaskPostgreSQLInitSequence again(db, "t_seq");
    EXPECT_EQ(Strings{"complete"}, Run(again));
    ASSERT_TRUE(pg.Query("UPDATE t SET v = 51")) << pg.Error();
    EXPECT_EQ("2 51%", pg.Value("SELECT n || ' ' || note FROM t"));
}

TEST_F(SchemaTest, failing_statement_fails_the_task_once_and_keeps_what_ran_before)
{
    ASSERT_TRUE(pg.Query("CREATE TABLE t (a INTEGER); INSERT INTO t VALUES (1)")) << pg.Error();
    Connect();
    TaskPostgreSQLInitTable table(db, "t");
    table.AddConstraint("t_a_unique", "UNIQUE (a)");
    table.AddConstraint("t_a_missing", "FOREIGN KEY (a) REFERENCES missing(id)");
    table.AddConstraint("t_a_check", "CHECK (a > 0)");
    EXPECT_EQ(Strings{"failed"}, Run(table));
    EXPECT_EQ("a integer | t_a_unique UNIQUE (a) | ", Describe("t"));
    // The constraint queued behind the failure is dropped, not reported late.
    DbUser probe(events, "probe");
    db->ExecSQL(&probe, DB_EXEC_FETCH_ALL, "SELECT 1");
    ASSERT_TRUE(RunUntil([&] { return Has("probe:rows 1"); }));
    EXPECT_EQ((Strings{"failed", "probe:rows 1"}), events);

    TaskPostgreSQLInitTable column(db, "t");
    column.AddColumn("b", "INTEGER NOT NULL");
    EXPECT_EQ(Strings{"failed"}, Run(column));

    db->Shutdown();
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    TaskPostgreSQLInitSequence closed(db, "s");
    EXPECT_EQ(Strings{"failed"}, Run(closed));
    TaskPostgreSQLInitEnum closedEnum(db, "e");
    EXPECT_EQ(Strings{"failed"}, Run(closedEnum));
}

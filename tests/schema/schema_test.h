#pragma once

// Schema tests run tasks on a real connection and read the result back from
// the catalogue through a second connection.

#include <string>
#include <vector>

#include "runtime/task.h"
#include "tests/database/db_test.h"

// Writes what a task reports into the test's event list.
class TaskRecorder : public UTask {
public:
    explicit TaskRecorder(std::vector<std::string>& events) : events(events) {}
    void TaskComplete(ITask*) override { events.push_back("complete"); }
    void TaskFailed(ITask*) override { events.push_back("failed"); }
    void TaskProgress(ITask*, unsigned value) override { events.push_back("progress " + std::to_string(value)); }
    std::vector<std::string>& events;
};

class SchemaTest : public DbTest {
protected:
    // Runs the task to its end and returns what it reported, in order.
    std::vector<std::string> Run(ITask& task)
    {
        events.clear();
        capture.lines.clear();
        TaskRecorder recorder(events);
        task.Start(&recorder);
        // Nothing is reported from inside Start.
        EXPECT_TRUE(events.empty());
        EXPECT_TRUE(RunUntil([&] { return Has("complete") || Has("failed"); })) << "the task never ended";
        return events;
    }
    // The statements sent since the last Run, as the database logged them.
    std::vector<std::string> Statements() const
    {
        std::vector<std::string> sql;
        for (const std::string& line : capture.lines) {
            size_t at = line.find("::ExecSQLV ");
            size_t cmd = line.find("sqlCmd:");
            if (at != std::string::npos && cmd != std::string::npos) sql.push_back(line.substr(cmd + 7));
        }
        return sql;
    }
    // Columns ("!" marks NOT NULL), constraints and the other indexes of a
    // table, as the server describes them.
    std::string Describe(const std::string& table)
    {
        return pg.Value(
            "SELECT (SELECT string_agg(a.attname || ' ' || format_type(a.atttypid, a.atttypmod) ||"
            "  CASE WHEN a.attnotnull THEN '!' ELSE '' END, ', ' ORDER BY a.attnum)"
            "  FROM pg_attribute a WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped)"
            " || ' | ' || COALESCE((SELECT string_agg(o.conname || ' ' || pg_get_constraintdef(o.oid), ', ' ORDER BY o.conname)"
            "  FROM pg_constraint o WHERE o.conrelid = c.oid), '')"
            " || ' | ' || COALESCE((SELECT string_agg(ic.relname || CASE WHEN i.indisunique THEN ' unique ' ELSE ' ' END ||"
            "  regexp_replace(pg_get_indexdef(i.indexrelid), '^.* USING btree ', ''), ', ' ORDER BY ic.relname)"
            "  FROM pg_index i JOIN pg_class ic ON ic.oid = i.indexrelid WHERE i.indrelid = c.oid"
            "  AND NOT EXISTS (SELECT 1 FROM pg_constraint o WHERE o.conrelid = c.oid AND o.conindid = i.indexrelid)), '')"
            " FROM pg_class c WHERE c.relname = '" + table + "' AND c.relkind = 'r'");
    }
};

#pragma once

#include <stddef.h>

#include <string>
#include <vector>

class IDatabase;
class IPreparedStatement;
class UDatabase;

// The values of a statement written as a format (sql_print.h) whose value
// directives (%s, %i, %u, %lli, %llu) were kept as they are: the format is
// the statement's shape, the same for every set of values, so that the
// server can plan it once, and the values travel apart from it.
class SqlParams {
public:
    void AddString(const char* value);
    void AddInt(int value);
    void AddInt64(long long value);
    size_t Count() const { return values.size(); }
    void Truncate(size_t count);

    // The format with the values written in, as one text statement.
    std::string Render(const char* format) const;
    // Sets the values on a statement prepared from the format.
    void Apply(IPreparedStatement* statement) const;

private:
    enum Kind { STRING, INT, INT64 };
    struct Value {
        Kind kind;
        bool null;
        long long number;
        std::string text;
    };
    std::vector<Value> values;
};

// IDatabase::ExecSQLParams for a format of sql_print.h: the shape is the
// format with its %q and %e values written in (SqlText).
void ExecSQLShaped(IDatabase* db, UDatabase* user, unsigned flags, const char* format, ...);

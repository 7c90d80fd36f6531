#include "database/sql_params.h"

#include <stdarg.h>

#include <vector>

#include "database/database.h"
#include "database/prepared_statement.h"
#include "database/sql_print.h"
#include "database/sql_text.h"
#include "runtime/assert.h"

void SqlParams::AddString(const char* value)
{
    values.push_back({STRING, value == nullptr, 0, value ? value : ""});
}

void SqlParams::AddInt(int value)
{
    values.push_back({INT, false, value, std::string()});
}

void SqlParams::AddInt64(long long value)
{
    values.push_back({INT64, false, value, std::string()});
}

void SqlParams::Truncate(size_t count)
{
    if (count < values.size()) values.resize(count);
}

std::string SqlParams::Render(const char* format) const
{
    std::string out;
    size_t next = 0;
    for (const char* f = format; *f; f++) {
        if (*f != '%') {
            out += *f;
            continue;
        }
        if (f[1] == '%') {
            out += '%';
            f++;
            continue;
        }
        ASSERT(next < values.size(), "SqlParams::Render more directives than values");
        const Value& v = values[next++];
        // The directive's own letters; the value says what it holds.
        f += f[1] == 'l' ? 3 : 1;
        // Quoting may double every character; the rest is the quotes.
        std::vector<char> buf(2 * v.text.size() + 32);
        size_t len = v.kind != STRING ? SqlPrint(buf.data(), buf.size(), "%lli", v.number)
                     : v.null         ? SqlPrint(buf.data(), buf.size(), "%s", (const char*)nullptr)
                                      : SqlPrint(buf.data(), buf.size(), "%s", v.text.c_str());
        out.append(buf.data(), len);
    }
    ASSERT(next == values.size(), "SqlParams::Render fewer directives than values");
    return out;
}

void SqlParams::Apply(IPreparedStatement* statement) const
{
    for (unsigned i = 0; i < values.size(); i++) {
        const Value& v = values[i];
        if (v.kind == STRING) statement->SetParam(i, v.null ? nullptr : v.text.c_str());
        else if (v.kind == INT) statement->SetParam(i, (int)v.number);
        else statement->SetParam(i, v.number);
    }
}

void ExecSQLShaped(IDatabase* db, UDatabase* user, unsigned flags, const char* format, ...)
{
    // Shapes are short but for what %q and %e bring: room for the longest
    // statement the driver takes, allocated once.
    static std::vector<char> shape(256 * 1024);
    SqlParams params;
    SqlText sql(shape.data(), shape.size(), &params);
    va_list ap;
    va_start(ap, format);
    bool whole = sql.PrintV(format, ap);
    va_end(ap);
    ASSERT(whole, "ExecSQLShaped statement too long");
    db->ExecSQLParams(user, flags, shape.data(), params);
}

#include "database/postgresql_data_set.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "database/bytea_hex.h"
#include "runtime/assert.h"

PostgreSQLDataSet::PostgreSQLDataSet(UPostgreSQLDataSet* user, PGresult* result, bool singleRow)
    : user(user), result(result), singleRow(singleRow), eot(!result || PQntuples(result) == 0)
{
}

PostgreSQLDataSet::~PostgreSQLDataSet()
{
    free(data);
    if (result) PQclear(result);
    if (user) user->DatasetDeleted(this);
}

void PostgreSQLDataSet::SetResult(PGresult* next)
{
    if (result) PQclear(result);
    result = next;
    row = 0;
    eot = !result || PQntuples(result) == 0;
}

int PostgreSQLDataSet::GetColumnCount()
{
    return result ? PQnfields(result) : 0;
}

void PostgreSQLDataSet::Next()
{
    ASSERT(!singleRow, "IDataSet::Next() not allowed in single row mode. Use FetchNextRow() instead.");
    if (eot) return;
    if (++row >= PQntuples(result)) eot = true;
}

void PostgreSQLDataSet::FetchNextRow()
{
    ASSERT(singleRow, "IDataSet::FetchNextRow() called, but IDataSet is not in single row mode. Use Next() instead.");
    if (user) user->RequestNextRow(this);
}

unsigned long long PostgreSQLDataSet::GetAffectedRows()
{
    return result ? strtoull(PQcmdTuples(result), nullptr, 10) : 0;
}

const char* PostgreSQLDataSet::GetColumnName(int column)
{
    return result ? PQfname(result, column) : nullptr;
}

int PostgreSQLDataSet::GetColumnID(const char* name)
{
    return Column(name);
}

const char* PostgreSQLDataSet::Value(int column)
{
    const char* v = result && !eot ? PQgetvalue(result, row, column) : nullptr;
    ASSERT(v, "CRITICAL ERROR: PQgetvalue() returned NULL.");
    return v;
}

bool PostgreSQLDataSet::ColumnIsNull(const char* name)
{
    return ColumnIsNull(Column(name));
}

bool PostgreSQLDataSet::ColumnIsNull(int column)
{
    Value(column);
    return PQgetisnull(result, row, column) != 0;
}

bool PostgreSQLDataSet::ColumnIsString(int column)
{
    Oid type = result ? PQftype(result, column) : 0;
    return type == 25 || type == 1043;  // text, varchar
}

int PostgreSQLDataSet::GetIntValue(int column)
{
    return (int)strtol(Value(column), nullptr, 0);
}

unsigned PostgreSQLDataSet::GetUIntValue(int column)
{
    return (unsigned)strtoul(Value(column), nullptr, 0);
}

long long PostgreSQLDataSet::GetLong64Value(int column)
{
    return strtoll(Value(column), nullptr, 0);
}

unsigned long long PostgreSQLDataSet::GetULong64Value(int column)
{
    return strtoull(Value(column), nullptr, 0);
}

bool PostgreSQLDataSet::GetBoolValue(int column)
{
    const char* v = Value(column);
    return !strcmp(v, "1") || !strcmp(v, "t") || !strcmp(v, "T") || !strcasecmp(v, "true");
}

double PostgreSQLDataSet::GetDoubleValue(int column)
{
    return strtod(Value(column), nullptr);
}

const char* PostgreSQLDataSet::GetStringValue(int column)
{
    return Value(column);
}

const char* PostgreSQLDataSet::GetStringValueWithNull(int column)
{
    const char* v = Value(column);
    return PQgetisnull(result, row, column) ? nullptr : v;
}

// The server writes BYTEA in hex output form: a backslash, x, two digits a
// byte. libpq knows the length of every value, so none is measured.
size_t PostgreSQLDataSet::GetDataSize(int column)
{
    Value(column);
    int len = PQgetlength(result, row, column);
    return len > 2 ? (size_t)(len - 2) / 2 : 0;
}

const unsigned char* PostgreSQLDataSet::GetDataValue(int column)
{
    size_t n = GetDataSize(column);
    if (!n) return nullptr;
    if (n > dataCapacity) {
        free(data);
        data = (unsigned char*)malloc(n);
        ASSERT(data, "PostgreSQLDataSet::GetDataValue out of memory");
        dataCapacity = n;
    }
    ByteaHexDecode(PQgetvalue(result, row, column) + 2, n, data);
    return data;
}

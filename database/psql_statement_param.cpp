#include "database/psql_statement_param.h"

#include <stdlib.h>
#include <string.h>

#include "database/bytea_hex.h"
#include "runtime/assert.h"

PSQLStatementParam::PSQLStatementParam(psql_param_type_t type, size_t length, int format)
    : type(type), value(length ? (char*)malloc(length) : nullptr), length((int)length), format(format)
{
    ASSERT(length < 0x7fffffff, "PSQLStatementParam value too long");
}

PSQLStatementParam::~PSQLStatementParam()
{
    free(value);
}

void PSQLStatementParam::Release()
{
    ASSERT(refCount > 0, "PSQLStatementParam::Release without reference");
    if (--refCount == 0) delete this;
}

void PSQLStatementParam::PutBigEndian(unsigned long long v, int bytes)
{
    for (int i = bytes - 1; i >= 0; i--, v >>= 8) value[i] = (char)(v & 0xff);
}

PSQLStatementParam* PSQLStatementParam::CreateNull()
{
    return new PSQLStatementParam(PSQL_PARAM_NULL, 0, 1);
}

PSQLStatementParam* PSQLStatementParam::CreateString(const char* s)
{
    size_t n = strlen(s) + 1;
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_STRING, n, 0);
    memcpy(p->value, s, n);
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateInt(int v)
{
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_INT, 4, 1);
    p->PutBigEndian((unsigned)v, 4);
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateInt64(long long v)
{
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_INT64, 8, 1);
    p->PutBigEndian((unsigned long long)v, 8);
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateBytes(const unsigned char* data, size_t len, bool binary)
{
    if (binary) {
        // libpq reads a null value pointer as SQL NULL, so an empty value
        // still gets a block of its own.
        PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_BYTES, len ? len : 1, 1);
        p->length = (int)len;
        if (len) memcpy(p->value, data, len);
        return p;
    }
    // The server reads text parameters up to their NUL, so one is appended
    // behind the counted length.
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_BYTES, 2 * len + 3, 0);
    p->length = (int)(2 * len + 2);
    p->value[0] = '\\';
    p->value[1] = 'x';
    ByteaHexEncode(data, len, p->value + 2);
    p->value[2 * len + 2] = 0;
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateDouble(double v)
{
    unsigned long long bits;
    static_assert(sizeof(bits) == sizeof(v), "double is not 64 bits");
    memcpy(&bits, &v, sizeof(bits));
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_DOUBLE, 8, 1);
    p->PutBigEndian(bits, 8);
    return p;
}

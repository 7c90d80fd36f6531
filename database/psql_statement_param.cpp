#include "database/psql_statement_param.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/assert.h"

PSQLStatementParam::PSQLStatementParam(psql_param_type_t type, size_t length)
    : type(type), value(length ? (char*)malloc(length) : nullptr), length((int)length)
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
    return new PSQLStatementParam(PSQL_PARAM_NULL, 0);
}

PSQLStatementParam* PSQLStatementParam::CreateString(const char* s)
{
    size_t n = strlen(s) + 1;
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_STRING, n);
    memcpy(p->value, s, n);
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateInt(int v)
{
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_INT, 4);
    p->PutBigEndian((unsigned)v, 4);
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateInt64(long long v)
{
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_INT64, 8);
    p->PutBigEndian((unsigned long long)v, 8);
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateBytes(const unsigned char* data, size_t len)
{
    static const char hex[] = "0123456789abcdef";
    // The server reads text parameters up to their NUL, so one is appended
    // behind the counted length.
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_BYTES, 2 * len + 3);
    p->length = (int)(2 * len + 2);
    p->value[0] = '\\';
    p->value[1] = 'x';
    for (size_t i = 0; i < len; i++) {
        p->value[2 + 2 * i] = hex[data[i] >> 4];
        p->value[3 + 2 * i] = hex[data[i] & 0xf];
    }
    p->value[2 * len + 2] = 0;
    return p;
}

PSQLStatementParam* PSQLStatementParam::CreateDouble(double v)
{
    unsigned long long bits;
    static_assert(sizeof(bits) == sizeof(v), "double is not 64 bits");
    memcpy(&bits, &v, sizeof(bits));
    PSQLStatementParam* p = new PSQLStatementParam(PSQL_PARAM_DOUBLE, 8);
    p->PutBigEndian(bits, 8);
    return p;
}

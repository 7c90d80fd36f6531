#pragma once

#include <stddef.h>

// Parameter types of prepared statements.
enum psql_param_type_t {
    PSQL_PARAM_NULL = 0,
    PSQL_PARAM_STRING = 1,  // text, NUL included
    PSQL_PARAM_INT = 2,     // 4 bytes, most significant first
    PSQL_PARAM_INT64 = 3,   // 8 bytes, most significant first
    PSQL_PARAM_BYTES = 4,   // text "\x" and lowercase hex, or the bytes themselves (binary)
    PSQL_PARAM_DOUBLE = 5,  // IEEE 754 bits, 8 bytes, most significant first
};

// One parameter value in the form it is sent to the server. Reference
// counted, because queued executions share the values of their statement.
class PSQLStatementParam {
public:
    static PSQLStatementParam* CreateNull();
    static PSQLStatementParam* CreateString(const char* value);
    static PSQLStatementParam* CreateInt(int value);
    static PSQLStatementParam* CreateInt64(long long value);
    // Binary sends the bytes as they are; the statement must then have been
    // prepared with the parameter declared as bytea.
    static PSQLStatementParam* CreateBytes(const unsigned char* data, size_t len, bool binary);
    static PSQLStatementParam* CreateDouble(double value);

    void Retain() { refCount++; }
    void Release();
    unsigned RefCount() const { return refCount; }

    psql_param_type_t GetType() const { return type; }
    const char* GetValue() const { return value; }
    int GetLength() const { return length; }
    // 1 for binary, 0 for text.
    int GetFormat() const { return format; }

private:
    PSQLStatementParam(psql_param_type_t type, size_t length, int format);
    ~PSQLStatementParam();
    void PutBigEndian(unsigned long long v, int bytes);

    psql_param_type_t type;
    char* value;
    int length;
    int format;
    unsigned refCount = 1;
};

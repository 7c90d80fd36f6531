#include "database/psql_prepared_statement.h"

#include "runtime/assert.h"

static unsigned ServerType(unsigned char type, bool binaryBytes)
{
    switch (type) {
    case PSQL_PARAM_INT: return 23;      // int4
    case PSQL_PARAM_INT64: return 20;    // int8
    case PSQL_PARAM_DOUBLE: return 701;  // float8
    case PSQL_PARAM_BYTES: return binaryBytes ? 17 : 0;  // bytea
    default: return 0;
    }
}

PSQLPreparedStatement::PSQLPreparedStatement(UPSQLPreparedStatement* user, const char* name,
                                             const std::string& text,
                                             const std::vector<unsigned char>& types, bool binaryBytes)
    : user(user), name(name), text(text), declared(types), binaryBytes(binaryBytes), params(types.size()),
      values(types.size()), lengths(types.size()), formats(types.size())
{
    for (unsigned char t : types) oids.push_back(ServerType(t, binaryBytes));
    for (auto& p : params) p = PSQLStatementParam::CreateNull();
}

PSQLPreparedStatement::~PSQLPreparedStatement()
{
    if (user) user->ReleaseStatement(this);
    for (auto p : params) p->Release();
}

PSQLPreparedStatement* PSQLPreparedStatement::CreateExecution() const
{
    PSQLPreparedStatement* copy =
        new PSQLPreparedStatement(nullptr, name.c_str(), std::string(), declared, binaryBytes);
    for (size_t i = 0; i < params.size(); i++) {
        params[i]->Retain();
        copy->Replace((unsigned)i, params[i]);
    }
    return copy;
}

void PSQLPreparedStatement::FillParamArrays()
{
    for (size_t i = 0; i < params.size(); i++) {
        values[i] = params[i]->GetValue();
        lengths[i] = params[i]->GetLength();
        formats[i] = params[i]->GetFormat();
    }
}

void PSQLPreparedStatement::Replace(unsigned idx, PSQLStatementParam* param)
{
    ASSERT(idx < params.size(), "IPreparedStatement::SetParam(): given index is out of range");
    params[idx]->Release();
    params[idx] = param;
}

void PSQLPreparedStatement::CheckType(unsigned idx, psql_param_type_t type, const char* mismatch)
{
    ASSERT(idx < declared.size(), "IPreparedStatement::SetParam(): given index is out of range");
    ASSERT(declared[idx] == type, mismatch);
}

void PSQLPreparedStatement::SetNULLParam(unsigned idx)
{
    Replace(idx, PSQLStatementParam::CreateNull());
}

void PSQLPreparedStatement::SetParam(unsigned idx, int value)
{
    CheckType(idx, PSQL_PARAM_INT, "IPreparedStatement::SetParam(int): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateInt(value));
}

void PSQLPreparedStatement::SetParam(unsigned idx, unsigned value)
{
    CheckType(idx, PSQL_PARAM_INT, "IPreparedStatement::SetParam(unsigned): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateInt((int)value));
}

void PSQLPreparedStatement::SetParam(unsigned idx, long long value)
{
    CheckType(idx, PSQL_PARAM_INT64, "IPreparedStatement::SetParam(long64): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateInt64(value));
}

void PSQLPreparedStatement::SetParam(unsigned idx, unsigned long long value)
{
    CheckType(idx, PSQL_PARAM_INT64, "IPreparedStatement::SetParam(ulong64): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateInt64((long long)value));
}

void PSQLPreparedStatement::SetParam(unsigned idx, bool value)
{
    CheckType(idx, PSQL_PARAM_STRING, "IPreparedStatement::SetParam(bool): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateString(value ? "TRUE" : "FALSE"));
}

void PSQLPreparedStatement::SetParam(unsigned idx, double value)
{
    CheckType(idx, PSQL_PARAM_DOUBLE, "IPreparedStatement::SetParam(double): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateDouble(value));
}

void PSQLPreparedStatement::SetParam(unsigned idx, int* value)
{
    CheckType(idx, PSQL_PARAM_INT, "IPreparedStatement::SetParam(int *): parameter type mismatch");
    if (value) SetParam(idx, *value);
    else SetNULLParam(idx);
}

void PSQLPreparedStatement::SetParam(unsigned idx, unsigned* value)
{
    CheckType(idx, PSQL_PARAM_INT, "IPreparedStatement::SetParam(unsigned *): parameter type mismatch");
    if (value) SetParam(idx, *value);
    else SetNULLParam(idx);
}

void PSQLPreparedStatement::SetParam(unsigned idx, long long* value)
{
    CheckType(idx, PSQL_PARAM_INT64, "IPreparedStatement::SetParam(long64 *): parameter type mismatch");
    if (value) SetParam(idx, *value);
    else SetNULLParam(idx);
}

void PSQLPreparedStatement::SetParam(unsigned idx, unsigned long long* value)
{
    CheckType(idx, PSQL_PARAM_INT64, "IPreparedStatement::SetParam(ulong64 *): parameter type mismatch");
    if (value) SetParam(idx, *value);
    else SetNULLParam(idx);
}

void PSQLPreparedStatement::SetParam(unsigned idx, bool* value)
{
    CheckType(idx, PSQL_PARAM_STRING, "IPreparedStatement::SetParam(bool *): parameter type mismatch");
    if (value) SetParam(idx, *value);
    else SetNULLParam(idx);
}

void PSQLPreparedStatement::SetParam(unsigned idx, double* value)
{
    CheckType(idx, PSQL_PARAM_DOUBLE, "IPreparedStatement::SetParam(double *): parameter type mismatch");
    if (value) SetParam(idx, *value);
    else SetNULLParam(idx);
}

void PSQLPreparedStatement::SetParam(unsigned idx, const char* value)
{
    // A null string is the generic way to write NULL into any parameter.
    if (!value) return SetNULLParam(idx);
    CheckType(idx, PSQL_PARAM_STRING, "IPreparedStatement::SetParam(char *): parameter type mismatch");
    Replace(idx, PSQLStatementParam::CreateString(value));
}

void PSQLPreparedStatement::SetParam(unsigned idx, const unsigned char* data, size_t len)
{
    CheckType(idx, PSQL_PARAM_BYTES, "IPreparedStatement::SetParam(data): parameter type mismatch");
    if (!data) return SetNULLParam(idx);
    Replace(idx, PSQLStatementParam::CreateBytes(data, len, binaryBytes));
}

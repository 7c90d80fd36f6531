#pragma once

#include <string>
#include <vector>

#include "database/prepared_statement.h"
#include "database/psql_statement_param.h"
#include "runtime/istd_list.h"

class PSQLPreparedStatement;

class UPSQLPreparedStatement {
public:
    virtual ~UPSQLPreparedStatement() {}
    // The owner deletes the statement; the database forgets it. Called from
    // the statement's destructor: the callee must not touch its values.
    virtual void ReleaseStatement(PSQLPreparedStatement* statement) = 0;
};

// A statement prepared on the server under its name, with one parameter
// object per position. The live statements of a database are kept in its
// list; queued executions hold copies made by CreateExecution. With
// `binaryBytes` the byte-string parameters are declared as bytea and sent as
// they are instead of in hex text.
class PSQLPreparedStatement : public IPreparedStatement, public istd::listElement {
public:
    PSQLPreparedStatement(UPSQLPreparedStatement* user, const char* name, const std::string& text,
                          const std::vector<unsigned char>& types, bool binaryBytes = false);
    ~PSQLPreparedStatement() override;

    void SetParam(unsigned idx, int value) override;
    void SetParam(unsigned idx, unsigned value) override;
    void SetParam(unsigned idx, long long value) override;
    void SetParam(unsigned idx, unsigned long long value) override;
    void SetParam(unsigned idx, bool value) override;
    void SetParam(unsigned idx, double value) override;
    void SetParam(unsigned idx, int* value) override;
    void SetParam(unsigned idx, unsigned* value) override;
    void SetParam(unsigned idx, long long* value) override;
    void SetParam(unsigned idx, unsigned long long* value) override;
    void SetParam(unsigned idx, bool* value) override;
    void SetParam(unsigned idx, double* value) override;
    void SetParam(unsigned idx, const char* value) override;
    void SetParam(unsigned idx, const unsigned char* data, size_t len) override;
    void SetNULLParam(unsigned idx);

    // The name and current values, shared by reference, for one queued
    // execution; it belongs to no database.
    PSQLPreparedStatement* CreateExecution() const;
    // The database is going away; deleting the statement stays safe.
    void Detach() { user = nullptr; }
    // Fills the arrays handed to libpq from the parameter objects.
    void FillParamArrays();

    UPSQLPreparedStatement* GetUser() const { return user; }
    const char* GetName() const { return name.c_str(); }
    const char* GetText() const { return text.c_str(); }
    int GetParamCount() const { return (int)params.size(); }
    psql_param_type_t GetDeclaredType(unsigned idx) const { return (psql_param_type_t)declared[idx]; }
    PSQLStatementParam* GetParam(unsigned idx) const { return params[idx]; }
    // Server types for the binary parameters, which must match exactly; text
    // parameters are left to the server to infer.
    const unsigned* GetParamTypes() const { return oids.data(); }
    const char* const* GetValues() const { return values.data(); }
    const int* GetLengths() const { return lengths.data(); }
    const int* GetFormats() const { return formats.data(); }

private:
    void Replace(unsigned idx, PSQLStatementParam* param);
    void CheckType(unsigned idx, psql_param_type_t type, const char* mismatch);

    UPSQLPreparedStatement* user;
    std::string name;
    std::string text;
    std::vector<unsigned char> declared;
    bool binaryBytes;
    std::vector<unsigned> oids;
    std::vector<PSQLStatementParam*> params;
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

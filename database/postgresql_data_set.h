#pragma once

#include <libpq-fe.h>

#include "database/data_set.h"

class PostgreSQLDataSet;

class UPostgreSQLDataSet {
public:
    virtual ~UPostgreSQLDataSet() {}
    // FetchNextRow of a single-row data set: deliver the next step later.
    virtual void RequestNextRow(PostgreSQLDataSet* dataSet) = 0;
    // Called from the data set's destructor; the connection may go on.
    virtual void DatasetDeleted(PostgreSQLDataSet* dataSet) = 0;
};

// The data set over one libpq result (whole-result mode), or over the
// current single-row result of a command that streams (single-row mode).
class PostgreSQLDataSet : public IDataSet {
public:
    PostgreSQLDataSet(UPostgreSQLDataSet* user, PGresult* result, bool singleRow);
    ~PostgreSQLDataSet() override;

    // Single-row mode: the next step's result (takes it over); null for a
    // step without rows.
    void SetResult(PGresult* result);
    // The database is going away or has given up on the command; deleting
    // the data set stays safe.
    void Detach() { user = nullptr; }

    int GetColumnCount() override;
    bool Eot() override { return eot; }
    void Next() override;
    void FetchNextRow() override;
    bool IsSingleRowMode() override { return singleRow; }
    unsigned long long GetAffectedRows() override;
    const char* GetColumnName(int column) override;
    int GetColumnID(const char* name) override;
    bool ColumnIsNull(const char* name) override;
    bool ColumnIsNull(int column) override;
    bool ColumnIsString(int column) override;

    int GetIntValue(const char* name) override { return GetIntValue(Column(name)); }
    unsigned GetUIntValue(const char* name) override { return GetUIntValue(Column(name)); }
    long long GetLong64Value(const char* name) override { return GetLong64Value(Column(name)); }
    unsigned long long GetULong64Value(const char* name) override { return GetULong64Value(Column(name)); }
    bool GetBoolValue(const char* name) override { return GetBoolValue(Column(name)); }
    double GetDoubleValue(const char* name) override { return GetDoubleValue(Column(name)); }
    const char* GetStringValue(const char* name) override { return GetStringValue(Column(name)); }
    const char* GetStringValueWithNull(const char* name) override { return GetStringValueWithNull(Column(name)); }
    size_t GetDataSize(const char* name) override { return GetDataSize(Column(name)); }
    const unsigned char* GetDataValue(const char* name) override { return GetDataValue(Column(name)); }

    int GetIntValue(int column) override;
    unsigned GetUIntValue(int column) override;
    long long GetLong64Value(int column) override;
    unsigned long long GetULong64Value(int column) override;
    bool GetBoolValue(int column) override;
    double GetDoubleValue(int column) override;
    const char* GetStringValue(int column) override;
    const char* GetStringValueWithNull(int column) override;
    size_t GetDataSize(int column) override;
    const unsigned char* GetDataValue(int column) override;

private:
    int Column(const char* name) { return result ? PQfnumber(result, name) : -1; }
    const char* Value(int column);

    UPostgreSQLDataSet* user;
    PGresult* result;
    bool singleRow;
    bool eot;
    int row = 0;
    // Decoded BYTEA values; reused from one GetDataValue to the next, so a
    // walk over many rows allocates once.
    unsigned char* data = nullptr;
    size_t dataCapacity = 0;
};

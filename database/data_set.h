#pragma once

#include <stddef.h>

// One result of a database command, walked row by row. Whoever receives a
// data set deletes it once done; the connection's next command waits for that.
//
// Whole-result mode: Next() walks the rows. Single-row mode: FetchNextRow()
// hands the data set back to the database, which delivers it again with the
// next row through DatabaseExecSQLResult (Eot() at the end). Between
// FetchNextRow() and that delivery the data set must not be touched; if
// DatabaseError arrives instead, the database has deleted it already.
//
// Value getters read the current row as text. A column that does not exist,
// or a read without a current row, is a fatal assertion.
class IDataSet {
public:
    virtual ~IDataSet() {}
    virtual int GetColumnCount() = 0;
    virtual bool Eot() = 0;
    virtual void Next() = 0;
    virtual void FetchNextRow() = 0;
    virtual bool IsSingleRowMode() = 0;
    virtual unsigned long long GetAffectedRows() = 0;
    virtual const char* GetColumnName(int column) = 0;
    virtual int GetColumnID(const char* name) = 0;
    virtual bool ColumnIsNull(const char* name) = 0;
    virtual bool ColumnIsNull(int column) = 0;
    virtual bool ColumnIsString(int column) = 0;

    virtual int GetIntValue(const char* name) = 0;
    virtual unsigned GetUIntValue(const char* name) = 0;
    virtual long long GetLong64Value(const char* name) = 0;
    virtual unsigned long long GetULong64Value(const char* name) = 0;
    virtual bool GetBoolValue(const char* name) = 0;
    virtual double GetDoubleValue(const char* name) = 0;
    // An empty string for SQL NULL.
    virtual const char* GetStringValue(const char* name) = 0;
    // Null for SQL NULL.
    virtual const char* GetStringValueWithNull(const char* name) = 0;
    // Byte size of a BYTEA value.
    virtual size_t GetDataSize(const char* name) = 0;
    // The decoded BYTEA value, owned by the data set until the next
    // GetDataValue, Next, FetchNextRow or deletion; null when empty.
    virtual const unsigned char* GetDataValue(const char* name) = 0;

    virtual int GetIntValue(int column) = 0;
    virtual unsigned GetUIntValue(int column) = 0;
    virtual long long GetLong64Value(int column) = 0;
    virtual unsigned long long GetULong64Value(int column) = 0;
    virtual bool GetBoolValue(int column) = 0;
    virtual double GetDoubleValue(int column) = 0;
    virtual const char* GetStringValue(int column) = 0;
    virtual const char* GetStringValueWithNull(int column) = 0;
    virtual size_t GetDataSize(int column) = 0;
    virtual const unsigned char* GetDataValue(int column) = 0;
};

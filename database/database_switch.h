#pragma once

#include <deque>

#include "database/database.h"

class DataSetSwitch;

// An IDatabase in front of a shared one that makes a task and its sub-tasks
// one database user: the wrapped database sees only the switch, so a
// transaction begun through the switch admits the commands of all of them.
// Results go back to the callers in the order of their requests.
class DatabaseSwitch : public IDatabase, public UDatabase {
public:
    explicit DatabaseSwitch(IDatabase* database);
    ~DatabaseSwitch() override;
    IDatabase* GetDatabase() const { return database; }

    void Connect(const char* address, const char* dbname, const char* user, const char* password) override;
    bool Connected() override;
    void Shutdown() override;
    size_t QueryPrint(char* buf, size_t size, const char* format, ...) override;
    size_t QueryPrintV(char* buf, size_t size, const char* format, va_list ap) override;
    void ExecSQL(UDatabase* user, unsigned flags, const char* format, ...) override;
    void ExecSQLV(UDatabase* user, unsigned flags, const char* format, va_list ap) override;
    void InsertSQL(UDatabase* user, const char* format, ...) override;
    void InsertSQLV(UDatabase* user, const char* format, va_list ap) override;
    void BeginTransaction(UDatabase* user, const char* lockTableCmd = nullptr) override;
    void EndTransaction(UDatabase* user, bool doRollback = false) override;
    void PrepareStatement(UDatabase* user, const char* format) override;
    void ExecSQL(UDatabase* user, unsigned flags, IPreparedStatement* statement) override;
    void InsertSQL(UDatabase* user, IPreparedStatement* statement) override;
    void ExecSQLParams(UDatabase* user, unsigned flags, const char* shape, const SqlParams& params) override;
    size_t EscapeSearchLiterals(const char* value, char* out, size_t size) override;
    const char* GetLastErrorMessage() override;
    const char* GetLastErrorCode() override;

private:
    friend class DataSetSwitch;

    void DatabaseConnectComplete(IDatabase* db) override;
    void DatabaseShutdown(IDatabase* db, db_error_t reason) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long id) override;
    void DatabaseBeginTransactionResult(IDatabase* db) override;
    void DatabaseEndTransactionResult(IDatabase* db) override;
    void DatabasePrepareStatementResult(IDatabase* db, IPreparedStatement* statement) override;

    UDatabase* PopFront();
    void WrapperDeleted(DataSetSwitch* wrapper);

    IDatabase* database;
    std::deque<UDatabase*> users;
    DataSetSwitch* wrapper = nullptr;
};

// The single-row data set a DatabaseSwitch hands to its user: forwards
// everything to the wrapped one; deleting it deletes the wrapped one and ends
// the user's turn.
class DataSetSwitch : public IDataSet {
public:
    DataSetSwitch(DatabaseSwitch* owner, IDataSet* inner) : owner(owner), inner(inner) {}
    ~DataSetSwitch() override;

    int GetColumnCount() override { return inner->GetColumnCount(); }
    bool Eot() override { return inner->Eot(); }
    void Next() override { inner->Next(); }
    void FetchNextRow() override;
    bool IsSingleRowMode() override { return inner->IsSingleRowMode(); }
    unsigned long long GetAffectedRows() override { return inner->GetAffectedRows(); }
    const char* GetColumnName(int column) override { return inner->GetColumnName(column); }
    int GetColumnID(const char* name) override { return inner->GetColumnID(name); }
    bool ColumnIsNull(const char* name) override { return inner->ColumnIsNull(name); }
    bool ColumnIsNull(int column) override { return inner->ColumnIsNull(column); }
    bool ColumnIsString(int column) override { return inner->ColumnIsString(column); }

    int GetIntValue(const char* name) override { return inner->GetIntValue(name); }
    unsigned GetUIntValue(const char* name) override { return inner->GetUIntValue(name); }
    long long GetLong64Value(const char* name) override { return inner->GetLong64Value(name); }
    unsigned long long GetULong64Value(const char* name) override { return inner->GetULong64Value(name); }
    bool GetBoolValue(const char* name) override { return inner->GetBoolValue(name); }
    double GetDoubleValue(const char* name) override { return inner->GetDoubleValue(name); }
    const char* GetStringValue(const char* name) override { return inner->GetStringValue(name); }
    const char* GetStringValueWithNull(const char* name) override { return inner->GetStringValueWithNull(name); }
    size_t GetDataSize(const char* name) override { return inner->GetDataSize(name); }
    const unsigned char* GetDataValue(const char* name) override { return inner->GetDataValue(name); }

    int GetIntValue(int column) override { return inner->GetIntValue(column); }
    unsigned GetUIntValue(int column) override { return inner->GetUIntValue(column); }
    long long GetLong64Value(int column) override { return inner->GetLong64Value(column); }
    unsigned long long GetULong64Value(int column) override { return inner->GetULong64Value(column); }
    bool GetBoolValue(int column) override { return inner->GetBoolValue(column); }
    double GetDoubleValue(int column) override { return inner->GetDoubleValue(column); }
    const char* GetStringValue(int column) override { return inner->GetStringValue(column); }
    const char* GetStringValueWithNull(int column) override { return inner->GetStringValueWithNull(column); }
    size_t GetDataSize(int column) override { return inner->GetDataSize(column); }
    const unsigned char* GetDataValue(int column) override { return inner->GetDataValue(column); }

private:
    friend class DatabaseSwitch;
    DatabaseSwitch* owner;
    IDataSet* inner;
    // Between FetchNextRow and the next row the wrapped data set is with the
    // database, which deletes it itself when the command fails.
    bool fetchPending = false;
};

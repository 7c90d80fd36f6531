#include "database/database_switch.h"

DatabaseSwitch::DatabaseSwitch(IDatabase* database) : database(database) {}

DatabaseSwitch::~DatabaseSwitch()
{
    if (wrapper) wrapper->owner = nullptr;
}

UDatabase* DatabaseSwitch::PopFront()
{
    if (users.empty()) return nullptr;
    UDatabase* user = users.front();
    users.pop_front();
    return user;
}

void DatabaseSwitch::Connect(const char* address, const char* dbname, const char* user, const char* password)
{
    database->Connect(address, dbname, user, password);
}

bool DatabaseSwitch::Connected()
{
    return database->Connected();
}

void DatabaseSwitch::Shutdown()
{
    database->Shutdown();
}

size_t DatabaseSwitch::QueryPrint(char* buf, size_t size, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    size_t len = database->QueryPrintV(buf, size, format, ap);
    va_end(ap);
    return len;
}

size_t DatabaseSwitch::QueryPrintV(char* buf, size_t size, const char* format, va_list ap)
{
    return database->QueryPrintV(buf, size, format, ap);
}

void DatabaseSwitch::ExecSQL(UDatabase* user, unsigned flags, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    ExecSQLV(user, flags, format, ap);
    va_end(ap);
}

void DatabaseSwitch::ExecSQLV(UDatabase* user, unsigned flags, const char* format, va_list ap)
{
    users.push_back(user);
    database->ExecSQLV(this, flags, format, ap);
}

void DatabaseSwitch::InsertSQL(UDatabase* user, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    InsertSQLV(user, format, ap);
    va_end(ap);
}

void DatabaseSwitch::InsertSQLV(UDatabase* user, const char* format, va_list ap)
{
    users.push_back(user);
    database->InsertSQLV(this, format, ap);
}

void DatabaseSwitch::BeginTransaction(UDatabase* user, const char* lockTableCmd)
{
    users.push_back(user);
    database->BeginTransaction(this, lockTableCmd);
}

void DatabaseSwitch::EndTransaction(UDatabase* user, bool doRollback)
{
    users.push_back(user);
    database->EndTransaction(this, doRollback);
}

void DatabaseSwitch::PrepareStatement(UDatabase* user, const char* format)
{
    users.push_back(user);
    database->PrepareStatement(this, format);
}

void DatabaseSwitch::ExecSQL(UDatabase* user, unsigned flags, IPreparedStatement* statement)
{
    users.push_back(user);
    database->ExecSQL(this, flags, statement);
}

void DatabaseSwitch::InsertSQL(UDatabase* user, IPreparedStatement* statement)
{
    users.push_back(user);
    database->InsertSQL(this, statement);
}

void DatabaseSwitch::ExecSQLParams(UDatabase* user, unsigned flags, const char* shape, const SqlParams& params)
{
    users.push_back(user);
    database->ExecSQLParams(this, flags, shape, params);
}

size_t DatabaseSwitch::EscapeSearchLiterals(const char* value, char* out, size_t size)
{
    return database->EscapeSearchLiterals(value, out, size);
}

const char* DatabaseSwitch::GetLastErrorMessage()
{
    return database->GetLastErrorMessage();
}

const char* DatabaseSwitch::GetLastErrorCode()
{
    return database->GetLastErrorCode();
}

void DatabaseSwitch::DatabaseConnectComplete(IDatabase*)
{
    if (UDatabase* user = PopFront()) user->DatabaseConnectComplete(this);
}

void DatabaseSwitch::DatabaseShutdown(IDatabase*, db_error_t reason)
{
    UDatabase* front = users.empty() ? nullptr : users.front();
    users.clear();
    if (front) front->DatabaseShutdown(this, reason);
}

void DatabaseSwitch::DatabaseError(IDatabase*, db_error_t error)
{
    // The database dropped every command of the switch; so go all its waiters.
    if (wrapper) {
        DataSetSwitch* w = wrapper;
        wrapper = nullptr;
        w->owner = nullptr;
        if (w->fetchPending) {
            // The database has deleted the wrapped data set already.
            w->inner = nullptr;
            delete w;
        }
    }
    UDatabase* front = users.empty() ? nullptr : users.front();
    users.clear();
    if (front) front->DatabaseError(this, error);
}

void DatabaseSwitch::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (!dataSet) {
        if (UDatabase* user = PopFront()) user->DatabaseExecSQLResult(this, nullptr);
        return;
    }
    if (users.empty()) {
        delete dataSet;
        return;
    }
    // A whole result ends its user's turn at once: the database has gone on
    // to the next command, whose result may come while this one is read.
    if (!dataSet->IsSingleRowMode()) {
        if (UDatabase* user = PopFront()) user->DatabaseExecSQLResult(this, dataSet);
        else delete dataSet;
        return;
    }
    // Later rows of a single-row result come with the same data set.
    if (wrapper && wrapper->inner == dataSet) wrapper->fetchPending = false;
    else wrapper = new DataSetSwitch(this, dataSet);
    UDatabase* user = users.front();
    if (user) user->DatabaseExecSQLResult(this, wrapper);
    else delete wrapper;
}

void DatabaseSwitch::DatabaseInsertSQLResult(IDatabase*, unsigned long long id)
{
    if (UDatabase* user = PopFront()) user->DatabaseInsertSQLResult(this, id);
}

void DatabaseSwitch::DatabaseBeginTransactionResult(IDatabase*)
{
    if (UDatabase* user = PopFront()) user->DatabaseBeginTransactionResult(this);
}

void DatabaseSwitch::DatabaseEndTransactionResult(IDatabase*)
{
    if (UDatabase* user = PopFront()) user->DatabaseEndTransactionResult(this);
}

void DatabaseSwitch::DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* statement)
{
    if (UDatabase* user = PopFront()) user->DatabasePrepareStatementResult(this, statement);
    else delete statement;
}

void DatabaseSwitch::WrapperDeleted(DataSetSwitch* w)
{
    if (wrapper == w) wrapper = nullptr;
    PopFront();
}

DataSetSwitch::~DataSetSwitch()
{
    delete inner;
    if (owner) owner->WrapperDeleted(this);
}

void DataSetSwitch::FetchNextRow()
{
    fetchPending = true;
    inner->FetchNextRow();
}

#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Gets the row id of a named entity, creating the row when there is none:
// users and topics by SIP name, tags by name, matched without regard to
// letter case as the database's LOWER() indexes compare them.
// Reports on the loop; the owner may delete the task inside either callback.
class MessagesTaskGetEntityId : public ITask, public UDatabase {
public:
    // The value must be set, and not be empty, before Start: an entity
    // without a name cannot be told from another.
    void SetValue(const char* value);
    const char* GetValue() const { return value.c_str(); }
    unsigned long long GetId() const { return id; }
    void Start(UTask* owner) override;

protected:
    // table and column are names of the schema (literals).
    MessagesTaskGetEntityId(IDatabase* database, const char* table, const char* column);

private:
    enum State { IDLE, SELECTING, INSERTING, ENDED };
    void SetState(State next);
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long newId) override;

    IDatabase* database;
    const char* table;
    const char* column;
    std::string value;
    unsigned long long id = 0;
    State state = IDLE;
};

// A user, topic or group row by SIP name.
class TaskGetObjectId : public MessagesTaskGetEntityId {
public:
    TaskGetObjectId(IDatabase* database, const char* sip) : MessagesTaskGetEntityId(database, "objects", "sip")
    {
        SetValue(sip);
    }
};

// A tag row by name.
class TaskGetTagId : public MessagesTaskGetEntityId {
public:
    TaskGetTagId(IDatabase* database, const char* name) : MessagesTaskGetEntityId(database, "tags", "name")
    {
        SetValue(name);
    }
};

#include "messages/tasks/messages_statements.h"

#include "database/prepared_statement.h"
#include "database/psql_statement_param.h"
#include "database/sql_prepare.h"
#include "runtime/assert.h"

namespace {

struct Format {
    const char* sql;
    bool insert;
};

const Format formats[MessagesStatements::STATEMENT_COUNT] = {
    // The look-ups name the discussion's topic too: a message goes where its
    // discussion is, and only into a topic its author may use.
    {"SELECT m.adds_to AS adds_to,t.sip AS topic FROM messages m JOIN discussions d ON d.id=m.adds_to JOIN objects t "
     "ON t.id=d.topic WHERE m.id=%llu",
     false},
    {"SELECT m.id AS id,t.sip AS topic FROM messages m JOIN discussions d ON d.id=m.adds_to JOIN objects t ON "
     "t.id=d.topic WHERE m.adds_to=%llu AND m.replies_to IS NULL",
     false},
    {"INSERT INTO discussions (topic) VALUES((SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)))", true},
    {"INSERT INTO discussions (topic, type) VALUES((SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)), %u)", true},
    {"WITH d AS (UPDATE discussions SET time=EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000 WHERE id=%llu) INSERT INTO "
     "messages (adds_to,replies_to,author,text,guid) VALUES(%llu,%llu,(SELECT id FROM objects WHERE "
     "LOWER(sip)=LOWER(%s)),%s,%s)",
     true},
    {"INSERT INTO messages(adds_to,author,text,guid) VALUES(%llu,(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)),%s,%s)",
     true},
    {"INSERT INTO files_buffer_data (file, data) VALUES (%llu,%du)", true},
    {"SELECT id, data FROM files_buffer_data WHERE file=%llu AND id>%llu ORDER BY id LIMIT 1", false},
};

}  // namespace

MessagesStatements::MessagesStatements()
{
    std::string text;
    for (int i = 0; i < STATEMENT_COUNT; i++) SqlPrepareFormat(formats[i].sql, text, entries[i].types);
}

MessagesStatements::~MessagesStatements()
{
    Forget();
}

void MessagesStatements::Forget()
{
    for (Entry& e : entries) {
        delete e.prepared;
        e.prepared = nullptr;
    }
}

void MessagesStatements::Prepare(IDatabase* database, UTask* owner)
{
    Forget();
    user = owner;
    complete = failed = false;
    preparing = database;
    next = 0;
    PrepareNext();
}

void MessagesStatements::PrepareNext()
{
    if (next == STATEMENT_COUNT) {
        preparing = nullptr;
        return Complete();
    }
    // A prepared insert returns its id itself; the text path has it appended.
    std::string format = formats[next].sql;
    if (formats[next].insert) format += " RETURNING id";
    preparing->PrepareStatement(this, format.c_str());
}

void MessagesStatements::DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* statement)
{
    entries[next++].prepared = statement;
    PrepareNext();
}

void MessagesStatements::DatabaseError(IDatabase*, db_error_t error)
{
    // A lost connection ends the preparation; a refused statement stays text.
    if (error != DB_ERR_SQL_COMMAND_FAILED) {
        preparing = nullptr;
        return Failed();
    }
    next++;
    PrepareNext();
}

const char* MessagesStatements::Format(Statement which)
{
    return formats[which].sql;
}

void MessagesStatements::Run(IDatabase* db, UDatabase* owner, unsigned which, ...)
{
    Entry& e = entries[which];
    va_list ap;
    va_start(ap, which);
    if (!e.prepared) {
        if (formats[which].insert) db->InsertSQLV(owner, formats[which].sql, ap);
        else db->ExecSQLV(owner, DB_EXEC_FETCH_ALL, formats[which].sql, ap);
        va_end(ap);
        return;
    }
    for (unsigned i = 0; i < e.types.size(); i++) {
        switch ((psql_param_type_t)e.types[i]) {
        case PSQL_PARAM_INT: e.prepared->SetParam(i, va_arg(ap, unsigned)); break;
        case PSQL_PARAM_INT64: e.prepared->SetParam(i, va_arg(ap, unsigned long long)); break;
        case PSQL_PARAM_STRING: e.prepared->SetParam(i, va_arg(ap, const char*)); break;
        case PSQL_PARAM_BYTES: {
            // As the text format takes them: the bytes, then their count.
            const unsigned char* data = va_arg(ap, const unsigned char*);
            e.prepared->SetParam(i, data, (size_t)va_arg(ap, unsigned long long));
            break;
        }
        default: FATAL("MessagesStatements parameter of an unexpected type");
        }
    }
    va_end(ap);
    if (formats[which].insert) db->InsertSQL(owner, e.prepared);
    else db->ExecSQL(owner, DB_EXEC_FETCH_ALL, e.prepared);
}

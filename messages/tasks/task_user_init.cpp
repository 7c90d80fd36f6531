#include "messages/tasks/task_user_init.h"

#include <string.h>
#include <strings.h>

#include <string>

#include "database/sql_params.h"
#include "messages/messages_user.h"
#include "runtime/assert.h"

namespace {
const char* const UPSERT_USER = "INSERT INTO objects (sip, dn) VALUES (%s,%s) ON CONFLICT (LOWER(sip)) DO UPDATE SET dn = EXCLUDED.dn";
}  // namespace

TaskUserInit::TaskUserInit(IDatabase* database, MessagesUser* login) : database(database), login(login) {}

void TaskUserInit::Start(UTask* owner)
{
    ASSERT(database && step == IDLE, "TaskUserInit::Start twice or without database");
    user = owner;
    step = USER_ROW;
    database->InsertSQL(this, UPSERT_USER, login->sip, login->dn);
}

void TaskUserInit::DatabaseError(IDatabase*, db_error_t)
{
    step = IDLE;
    Failed();
}

void TaskUserInit::DatabaseInsertSQLResult(IDatabase*, unsigned long long id)
{
    // An abandoned task must not touch the user, which has gone with its owner.
    if (IsStopRequested()) return Stopped();
    ASSERT(step == USER_ROW, "TaskUserInit insert result out of step");
    login->id = id;
    if (!login->FirstTopic()) return Finish();
    // All topics in one statement each for rows and sub-topics: the one
    // database connection runs every session's statements in turn, so each
    // round trip of a login holds up everybody else's.
    // As shapes, the statements of logins with as many topics are planned once.
    std::string sql = "INSERT INTO objects (sip) VALUES ";
    SqlParams params;
    for (MessagesTopic* t = login->FirstTopic(); t; t = login->NextTopic(t)) {
        sql += t == login->FirstTopic() ? "(%s)" : ",(%s)";
        params.AddString(t->sip);
    }
    sql += " ON CONFLICT (LOWER(sip)) DO UPDATE SET sip=EXCLUDED.sip RETURNING id,sip";
    step = TOPIC_ROWS;
    database->ExecSQLParams(this, DB_EXEC_FETCH_ALL, sql.c_str(), params);
}

void TaskUserInit::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (IsStopRequested()) {
        delete dataSet;
        return Stopped();
    }
    if (step == TOPIC_ROWS) {
        for (; dataSet && !dataSet->Eot(); dataSet->Next())
            if (MessagesTopic* t = login->FindTopic(dataSet->GetStringValue("sip")))
                t->id = dataSet->GetULong64Value("id");
        delete dataSet;
        return SelectSubTopics();
    }
    ASSERT(step == SUB_TOPICS, "TaskUserInit rows out of step");
    for (; dataSet && !dataSet->Eot(); dataSet->Next()) Grant(dataSet);
    delete dataSet;
    Finish();
}

void TaskUserInit::SelectSubTopics()
{
    // A sub-topic's name is its topic's, "?" and a name of its own: the
    // names from "topic?" up to "topic@" ("@" follows "?"), compared byte by
    // byte. A range rather than LIKE: a generic plan serves it from an index.
    std::string sql = "SELECT objects.id AS id,objects.sip AS sip,dn,a.grp AS grp,a.sip AS user,a.admin AS admin FROM "
                      "objects JOIN topic_access a ON topic=objects.id WHERE ";
    SqlParams params;
    for (MessagesTopic* t = login->FirstTopic(); t; t = login->NextTopic(t)) {
        if (t != login->FirstTopic()) sql += " OR ";
        sql += "(objects.sip ~>=~ %s AND objects.sip ~<~ %s)";
        params.AddString((std::string(t->sip) + "?").c_str());
        params.AddString((std::string(t->sip) + "@").c_str());
    }
    step = SUB_TOPICS;
    database->ExecSQLParams(this, DB_EXEC_FETCH_ALL, sql.c_str(), params);
}

void TaskUserInit::Grant(IDataSet* row)
{
    const char* grantee = row->GetStringValue("user");
    // A row for someone else counts only when it names a group of ours.
    if (grantee[0] && strcasecmp(grantee, login->sip) &&
        !(row->GetBoolValue("grp") && login->FindGroup(grantee)))
        return;
    const char* sip = row->GetStringValue("sip");
    bool admin = row->GetBoolValue("admin");
    if (MessagesTopic* known = login->FindTopic(sip)) {
        if (admin) known->admin = true;
        return;
    }
    for (SubTopic& sub : found) {
        if (!strcasecmp(sub.sip.c_str(), sip)) {
            if (admin) sub.admin = true;
            return;
        }
    }
    const char* dn = row->GetStringValueWithNull("dn");
    found.push_back({sip, dn ? dn : "", dn != nullptr, row->GetULong64Value("id"), admin});
}

void TaskUserInit::Stopped()
{
    step = IDLE;
    found.clear();
    Complete();
}

void TaskUserInit::Finish()
{
    step = IDLE;
    for (SubTopic& sub : found) login->AddTopic(&sub.sip[0], sub.hasDn ? sub.dn.c_str() : nullptr, sub.id, sub.admin);
    found.clear();
    Complete();
}

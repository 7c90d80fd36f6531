#include "messages/tasks/task_user_init.h"

#include <string.h>
#include <strings.h>

#include "messages/messages_user.h"
#include "runtime/assert.h"

namespace {
const char* const UPSERT_USER = "INSERT INTO objects (sip, dn) VALUES (%s,%s) ON CONFLICT (LOWER(sip)) DO UPDATE SET dn = EXCLUDED.dn";
const char* const UPSERT_TOPIC = "INSERT INTO objects (sip) VALUES (%s) ON CONFLICT (LOWER(sip)) DO UPDATE SET sip=EXCLUDED.sip";
const char* const SELECT_SUB_TOPICS =
    "SELECT objects.id AS id,objects.sip AS sip,dn,a.grp AS grp,a.sip AS user,a.admin AS admin FROM objects JOIN "
    "topic_access a ON topic=objects.id WHERE objects.sip LIKE %s";
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
    if (step == USER_ROW) {
        login->id = id;
        NextTopic(nullptr);
        return;
    }
    ASSERT(step == TOPIC_ROW, "TaskUserInit insert result out of step");
    topic->id = id;
    // A topic name may hold the LIKE wildcards "_" and "%": taken as they
    // are, they would grant the sub-topics of other topics.
    std::string pattern(2 * strlen(topic->sip) + 1, '\0');
    pattern.resize(database->EscapeSearchLiterals(topic->sip, &pattern[0], pattern.size()));
    pattern += "?%";
    step = SUB_TOPICS;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, SELECT_SUB_TOPICS, pattern.c_str());
}

void TaskUserInit::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(step == SUB_TOPICS, "TaskUserInit rows out of step");
    if (IsStopRequested()) {
        delete dataSet;
        return Stopped();
    }
    for (; dataSet && !dataSet->Eot(); dataSet->Next()) Grant(dataSet);
    delete dataSet;
    NextTopic(topic);
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

void TaskUserInit::NextTopic(MessagesTopic* after)
{
    topic = after ? login->NextTopic(after) : login->FirstTopic();
    if (!topic) return Finish();
    step = TOPIC_ROW;
    database->InsertSQL(this, UPSERT_TOPIC, topic->sip);
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

#include "messages/tasks/task_read_chat.h"

#include "database/sql_text.h"
#include "messages/tasks/task_rows.h"
#include "runtime/assert.h"

namespace {

// The largest time the column holds: "no older than" reads from the newest.
const unsigned long long NEWEST = 9223372036854775807ull;
// Read marks go out in statements of at most this length, in a room of 10000.
const size_t MARKS_LENGTH = 9900;

// The statement whose rows TaskReadChat goes through. It names the chat by
// the row ids of the user's topic and of the partner: with the values in
// the text the planner sees how large this one chat is, and walks a big
// chat newest first by time and a small one through its notifications,
// instead of joining every chat of the user and sorting (a page of a chat
// of 100000 messages took 0.9 s that way, 10 ms this way).
class ChatRows : public MessagesTaskRows {
public:
    ChatRows(IDatabase* database, unsigned long long topic, unsigned long long partner, unsigned long long older,
             bool noind, unsigned count)
        : MessagesTaskRows(database), topic(topic), partner(partner), older(older), noind(noind), count(count)
    {
    }

    void Start(UTask* owner) override
    {
        user = owner;
        if (noind)
            return Query("SELECT m.id AS id, discussion.topic AS uid FROM messages m JOIN discussions AS discussion ON "
                         "discussion.type=1 AND m.adds_to=discussion.id JOIN message_notifications AS notify ON "
                         "notify.message = m.id WHERE discussion.topic=%llu AND notify.object=%llu AND NOT EXISTS "
                         "(SELECT * from message_read WHERE message=m.id AND object=%llu) ORDER BY m.time DESC LIMIT %u",
                         topic, partner, topic, count);
        // Two changes keep pages exact: only the chat owner's read mark is
        // joined (anybody's would repeat a row per mark), and a page does
        // not end inside a run of equal times (WITH TIES), because the next
        // page starts strictly below the oldest time of this one.
        Query("SELECT m.id AS id,topic.id AS uid,author.sip AS author,author.dn AS dn,topic.sip AS topic,text,m.guid "
              "AS guid,m.time AS time,r.time AS read,m.attached AS attached FROM messages m JOIN objects AS author ON "
              "m.author = author.id JOIN discussions AS discussion ON discussion.type=1 AND m.adds_to=discussion.id "
              "JOIN objects AS topic ON discussion.topic = topic.id LEFT OUTER JOIN message_read r ON r.message=m.id "
              "AND r.object=topic.id JOIN message_notifications AS notify ON notify.message = m.id WHERE "
              "discussion.topic=%llu AND notify.object=%llu AND m.time < %llu ORDER BY m.time DESC FETCH FIRST %u "
              "ROWS WITH TIES",
              topic, partner, older, count);
    }

private:
    unsigned long long topic;
    unsigned long long partner;
    unsigned long long older;
    bool noind;
    unsigned count;
};

}  // namespace

TaskReadChat::TaskReadChat(IDatabase* database, const char* topic, const char* partner, unsigned long long older,
                           bool noind, unsigned count)
    : database(database), topic(topic ? topic : ""), partner(partner ? partner : ""), older(older ? older : NEWEST),
      noind(noind), count(count ? count : DEFAULT_COUNT)
{
}

TaskReadChat::~TaskReadChat()
{
    delete rows;
}

void TaskReadChat::SetState(State next)
{
    switch (next) {
    case LOOKING_UP: ASSERT(state == IDLE, "TaskReadChat started twice"); break;
    case READING: ASSERT(state == LOOKING_UP, "TaskReadChat reads before it knows the chat"); break;
    case MARKING: ASSERT(state == READING, "TaskReadChat marks before reading"); break;
    case ENDED: ASSERT(state == LOOKING_UP || state == READING || state == MARKING, "TaskReadChat ended twice"); break;
    default: FATAL("TaskReadChat: impossible state");
    }
    state = next;
}

void TaskReadChat::Start(UTask* owner)
{
    user = owner;
    SetState(LOOKING_UP);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "SELECT (SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)) AS topic,(SELECT id FROM objects "
                      "WHERE LOWER(sip)=LOWER(%s)) AS partner",
                      topic.c_str(), partner.c_str());
}

void TaskReadChat::LookedUp(IDataSet* ids)
{
    bool known = !ids->Eot() && !ids->ColumnIsNull("topic") && !ids->ColumnIsNull("partner");
    unsigned long long topicId = known ? ids->GetULong64Value("topic") : 0;
    unsigned long long partnerId = known ? ids->GetULong64Value("partner") : 0;
    delete ids;
    SetState(READING);
    // A user or partner nobody knows has no chat; a reader that has gone needs none.
    if (!known || IsStopRequested()) return TaskComplete(nullptr);
    rows = new ChatRows(database, topicId, partnerId, older, noind, count);
    rows->Start(this);
}

void TaskReadChat::Stop()
{
    ITask::Stop();
    if (rows) rows->Stop();
}

IDataSet* TaskReadChat::Row() const
{
    return rows ? rows->Row() : nullptr;
}

void TaskReadChat::Next()
{
    ASSERT(rows, "TaskReadChat::Next after the rows");
    rows->Next();
}

void TaskReadChat::TaskProgress(ITask*, unsigned)
{
    IDataSet* row = rows->Row();
    if (noind || row->ColumnIsNull("read"))
        unread.emplace_back(row->GetULong64Value("id"), row->GetULong64Value("uid"));
    if (noind) return rows->Next();
    Progress(0);
}

void TaskReadChat::TaskComplete(ITask*)
{
    delete rows;
    rows = nullptr;
    // A reader that has gone may not have seen the rows: they stay unread.
    if (IsStopRequested() || unread.empty()) {
        SetState(ENDED);
        return Complete();
    }
    SetState(MARKING);
    Mark();
}

void TaskReadChat::TaskFailed(ITask*)
{
    delete rows;
    rows = nullptr;
    SetState(ENDED);
    Failed();
}

void TaskReadChat::Mark()
{
    char sql[10000];
    SqlText marks(sql, sizeof(sql));
    marks.Print("INSERT INTO message_read (message,object) VALUES (%llu,%llu)", unread[marked].first,
                unread[marked].second);
    for (marking = marked + 1; marking < unread.size() && marks.Length() < MARKS_LENGTH; marking++)
        marks.Print(",(%llu,%llu)", unread[marking].first, unread[marking].second);
    // A mark that another session of the user has just made must not take
    // the rest of its statement down with it.
    marks.Print(" ON CONFLICT DO NOTHING");
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "%q", sql);
}

void TaskReadChat::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (state == LOOKING_UP) return LookedUp(dataSet);
    delete dataSet;
    marked = marking;
    if (marked < unread.size()) return Mark();
    SetState(ENDED);
    Complete();
}

void TaskReadChat::DatabaseError(IDatabase*, db_error_t)
{
    SetState(ENDED);
    Failed();
}

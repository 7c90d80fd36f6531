#pragma once

#include <string>

#include "database/database.h"
#include "database/pg_snapshot.h"
#include "messages/readable_topics.h"
#include "runtime/task.h"

class MessageFilter;

// The condition on `discussion` under which its messages count as unread:
// active within the last 30 days.
extern const char* const UNREAD_RECENT;

// Counts the messages a user has not read under a filter: written by
// somebody else, without the user's read mark, in a discussion of the given
// type (0: plain discussions) that was active within the last 30 days.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskUnreadCount : public ITask, public UDatabase {
public:
    // The filter (not owned, may be null) must outlive the task. Only
    // messages of the readable topics count.
    TaskUnreadCount(IDatabase* database, const char* sip, const MessageFilter* filter, unsigned type = 0,
                    const MessagesReadableTopics& readable = MessagesReadableTopics());
    void Start(UTask* owner) override;
    unsigned long long Get() const { return count; }
    // The highest message id that the count's snapshot held.
    unsigned long long Seen() const { return seen; }
    const PgSnapshot& Snapshot() const { return snapshot; }

    // The statement, into a room of `size`: StatementSize() is always
    // enough. With params, its shape (SqlText) and their values.
    size_t Statement(char* buf, size_t size, SqlParams* params = nullptr) const;
    // The sip goes in twice, quoted, each quote doubled at worst: a chat's
    // topic comes from the client and may be as long as its message. The
    // readable topics go in twice as well.
    // The SHA-256 digest of the statement with its values written in: the
    // same text, the same count, and a key far smaller than the text.
    std::string Key() const;
    size_t StatementSize() const { return 10000 + 2 * readable.Length() + 4 * (sip.size() + 1); }

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    std::string sip;
    const MessageFilter* filter;
    unsigned type;
    MessagesReadableTopics readable;
    unsigned long long count = 0;
    unsigned long long seen = 0;
    PgSnapshot snapshot;
};

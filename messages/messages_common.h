#pragma once

#include "messages/pending_attachments.h"
#include "messages/tasks/messages_statements.h"
#include "messages/updates/kept_count.h"
#include "web/app_updates_filter.h"

class IDatabase;
class IDbFiles;
class IIoMux;
class IMessagesPbxSignalings;

// What the sessions and requests of one instance share with it: the
// database, the two groups of update filters, and the attachments being
// fetched. Destroyed after the instance's sessions, which own the filters,
// and before the distribution.
class MessagesCommon {
public:
    // Creates the PBX signaling registry.
    explicit MessagesCommon(IDatabase* database);
    MessagesCommon(const MessagesCommon&) = delete;
    MessagesCommon& operator=(const MessagesCommon&) = delete;
    virtual ~MessagesCommon();
    void createPbxSignalings();

    // What attachments use of the instance, which provides these.
    virtual IIoMux* GetIoMux() const = 0;
    // Null while the database is away or its schema incomplete.
    virtual IDatabase* UsableDatabase() const = 0;
    virtual IDbFiles* GetDbFiles() const = 0;
    // An attachment has begun, or has ended and is deleted. While one runs the
    // instance keeps the database and file store it uses, and a stopping
    // instance waits for it (after attachments.Stop()). The last AttachmentEnded
    // may delete the instance.
    virtual void AttachmentBegun() {}
    virtual void AttachmentEnded() {}

    // Owned; null once the database has shut down or failed.
    IDatabase* database;
    // Read-state changes (MessagesUpdateRead) for unread filters.
    AppUpdatesFilters readFilters;
    // New and liked messages (MessagesUpdateMessage) for message filters.
    AppUpdatesFilters messageFilters;
    // The hot statements, prepared on the database's current connection.
    MessagesStatements statements;
    // Owned: the links of PBX sessions and their group chats.
    IMessagesPbxSignalings* pbxSignalings = nullptr;
    // The files of new messages being fetched, by message id.
    PendingAttachments attachments{this};
    // Unread counts of closed sessions, for their clients' return; they
    // hold filters of readFilters.
    MessagesKeptCounts keptCounts{this};
};

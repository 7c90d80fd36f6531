#pragma once

#include "messages/tasks/messages_statements.h"
#include "web/app_updates_filter.h"

class IDatabase;
class IMessagesPbxSignalings;

// What the sessions and requests of one instance share with it: the
// database and the two groups of update filters. Destroyed after the
// instance's sessions, which own the filters, and before the distribution.
class MessagesCommon {
public:
    explicit MessagesCommon(IDatabase* database) : database(database) {}
    MessagesCommon(const MessagesCommon&) = delete;
    MessagesCommon& operator=(const MessagesCommon&) = delete;
    virtual ~MessagesCommon();

    // Owned; null once the database has shut down or failed.
    IDatabase* database;
    // Read-state changes (MessagesUpdateRead) for unread filters.
    AppUpdatesFilters readFilters;
    // New and liked messages (MessagesUpdateMessage) for message filters.
    AppUpdatesFilters messageFilters;
    // The hot statements, prepared on the database's current connection.
    MessagesStatements statements;
    // Owned; null while no PBX signaling is set up.
    IMessagesPbxSignalings* pbxSignalings = nullptr;
};

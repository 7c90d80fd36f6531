#include "database/postgresql_command.h"

#include <stdlib.h>
#include <string.h>

#include "database/psql_prepared_statement.h"

PostgreSQLCommand::PostgreSQLCommand(UDatabase* user, unsigned flags, const char* text)
    : user(user), flags(flags), sql(text ? strdup(text) : nullptr)
{
}

PostgreSQLCommand::~PostgreSQLCommand()
{
    free(sql);
    delete statement;
}

PostgreSQLCommandQueue::~PostgreSQLCommandQueue()
{
    while (head) {
        PostgreSQLCommand* cmd = head;
        Unlink(cmd);
        delete cmd;
    }
}

void PostgreSQLCommandQueue::PushBack(PostgreSQLCommand* cmd)
{
    cmd->prev = tail;
    cmd->next = nullptr;
    if (tail) tail->next = cmd;
    else head = cmd;
    tail = cmd;
}

void PostgreSQLCommandQueue::PushFront(PostgreSQLCommand* cmd)
{
    cmd->next = head;
    cmd->prev = nullptr;
    if (head) head->prev = cmd;
    else tail = cmd;
    head = cmd;
}

void PostgreSQLCommandQueue::Unlink(PostgreSQLCommand* cmd)
{
    if (cmd->prev) cmd->prev->next = cmd->next;
    else head = cmd->next;
    if (cmd->next) cmd->next->prev = cmd->prev;
    else tail = cmd->prev;
    cmd->prev = cmd->next = nullptr;
}

PostgreSQLCommand* PostgreSQLCommandQueue::FirstOf(UDatabase* user) const
{
    for (PostgreSQLCommand* cmd = head; cmd; cmd = cmd->next)
        if (cmd->user == user) return cmd;
    return nullptr;
}

void PostgreSQLCommandQueue::DropUser(UDatabase* user)
{
    for (PostgreSQLCommand *cmd = head, *next; cmd; cmd = next) {
        next = cmd->next;
        if (cmd->user == user) {
            Unlink(cmd);
            delete cmd;
        }
    }
}

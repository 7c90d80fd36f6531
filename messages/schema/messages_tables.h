#pragma once

class IDatabase;
class TaskPostgreSQLInitFunction;
class TaskPostgreSQLInitTable;

// The tables of the Messages database, in the order in which they are
// brought up to date: a table comes after every table it refers to.
inline constexpr unsigned MESSAGES_TABLE_COUNT = 13;

// A new task that declares table `index` (below MESSAGES_TABLE_COUNT) with
// all its columns, constraints and indexes; the caller owns it.
TaskPostgreSQLInitTable* CreateMessagesTableTask(IDatabase* database, unsigned index);

// A new task that declares the SQL functions on which indexes of the tables
// are built; it runs before the tables. The caller owns it.
TaskPostgreSQLInitFunction* CreateMessagesFunctionTask(IDatabase* database);

#pragma once

#include <stddef.h>

class IDatabase;

// Size of the buffer in which the schema tasks build a statement.
inline constexpr size_t SCHEMA_SQL_BUFFER = 8192;

// Appends the formatted text at buf + len through the database's directives
// and returns the new length, or 0 when the text did not fit: a statement
// that a declaration makes too long is a programming error for the caller.
size_t SchemaSqlAppend(IDatabase* database, char* buf, size_t size, size_t len, const char* format, ...);

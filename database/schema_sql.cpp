#include "database/schema_sql.h"

#include <stdarg.h>

#include "database/database.h"

size_t SchemaSqlAppend(IDatabase* database, char* buf, size_t size, size_t len, const char* format, ...)
{
    if (len + 1 >= size) return 0;
    va_list ap;
    va_start(ap, format);
    size_t added = database->QueryPrintV(buf + len, size - len, format, ap);
    va_end(ap);
    // A text that fills the buffer to the last byte may have been cut short.
    if (len + added + 1 >= size) return 0;
    return len + added;
}

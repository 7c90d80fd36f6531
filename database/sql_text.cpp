#include "database/sql_text.h"

#include <stdarg.h>

#include "database/sql_print.h"

SqlText::SqlText(char* buf, size_t size) : buf(buf), size(size)
{
    if (size) buf[0] = 0;
    else full = true;
}

bool SqlText::Print(const char* format, ...)
{
    if (full) return false;
    size_t room = size - len;
    va_list ap;
    va_start(ap, format);
    size_t n = SqlPrintV(buf + len, room, format, ap, nullptr, nullptr);
    va_end(ap);
    // A piece that reaches the last byte may have been cut.
    if (n + 1 >= room) {
        full = true;
        buf[len] = 0;
        return false;
    }
    len += n;
    return true;
}

void SqlText::Advance(size_t written)
{
    if (full) return;
    if (written + 1 >= size - len) {
        full = true;
        buf[len] = 0;
        return;
    }
    len += written;
}

void SqlText::Restart()
{
    len = 0;
    full = size == 0;
    if (size) buf[0] = 0;
}

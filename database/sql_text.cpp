#include "database/sql_text.h"

#include <stdarg.h>
#include <string.h>

#include <vector>

#include "database/sql_params.h"
#include "database/sql_print.h"
#include "runtime/assert.h"

namespace {

// Writes s with every % doubled; false when it does not fit before end.
bool PutDoubled(char*& out, char* end, const char* s)
{
    for (; s && *s; s++) {
        if (*s == '%' && out < end) *out++ = '%';
        if (out >= end) return false;
        *out++ = *s;
    }
    return true;
}

}  // namespace

SqlText::SqlText(char* buf, size_t size, SqlParams* params)
    : buf(buf), size(size), params(params), firstParam(params ? params->Count() : 0)
{
    if (size) buf[0] = 0;
    else full = true;
}

bool SqlText::Print(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    bool done = PrintV(format, ap);
    va_end(ap);
    return done;
}

bool SqlText::PrintV(const char* format, va_list ap)
{
    if (full) return false;
    size_t room = size - len;
    size_t values = params ? params->Count() : 0;
    size_t n = params ? PrintShape(buf + len, room, format, ap) : SqlPrintV(buf + len, room, format, ap, nullptr, nullptr);
    // A piece that reaches the last byte may have been cut.
    if (n + 1 >= room) {
        full = true;
        buf[len] = 0;
        if (params) params->Truncate(values);
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

size_t SqlText::PrintShape(char* out, size_t room, const char* format, va_list ap)
{
    // A piece that does not fit reports the whole room, as SqlPrintV's would.
    char* start = out;
    char* end = out + room - 1;
    for (const char* f = format; *f; f++) {
        if (out >= end) return room;
        if (*f != '%') {
            *out++ = *f;
            continue;
        }
        const char* directive = f++;
        if (*f == 'q' || *f == 'e') {
            // Written out as the text would have them, in the shape's own quoting.
            const char* value = va_arg(ap, const char*);
            if (*f == 'q') {
                if (!PutDoubled(out, end, value)) return room;
                continue;
            }
            // Escaping may double every character.
            std::vector<char> escaped(2 * strlen(value) + 1);
            SqlPrint(escaped.data(), escaped.size(), "%e", value);
            if (!PutDoubled(out, end, escaped.data())) return room;
            continue;
        }
        if (*f == 'l') {
            ASSERT(f[1] == 'l' && (f[2] == 'i' || f[2] == 'u'), "SqlText directive that a shape cannot hold");
            f += 2;
        }
        else {
            ASSERT(*f == '%' || *f == 's' || *f == 'i' || *f == 'u', "SqlText directive that a shape cannot hold");
        }
        size_t n = f - directive + 1;
        if ((size_t)(end - out) < n) return room;
        memcpy(out, directive, n);
        out += n;
        if (*f == '%') continue;
        if (*f == 's') params->AddString(va_arg(ap, const char*));
        else if (f[-1] == 'l') params->AddInt64(va_arg(ap, long long));
        else params->AddInt(va_arg(ap, int));
    }
    *out = 0;
    return out - start;
}

void SqlText::Restart()
{
    if (params) params->Truncate(firstParam);
    len = 0;
    full = size == 0;
    if (size) buf[0] = 0;
}

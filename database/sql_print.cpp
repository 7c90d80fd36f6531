#include "database/sql_print.h"

#include <stdio.h>
#include <string.h>

#include "database/bytea_hex.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

namespace {

// Output cursor that keeps room for the terminating NUL and stops when full.
struct SqlOut {
    char* buf;
    size_t size;
    size_t len = 0;

    bool Put(char c)
    {
        if (len + 1 >= size) return false;
        buf[len++] = c;
        return true;
    }
    bool Text(const char* s)
    {
        while (*s)
            if (!Put(*s++)) return false;
        return true;
    }
    size_t Room() const { return size > len + 1 ? size - len - 1 : 0; }
};

enum quote_mode_t { QUOTE_LITERAL, QUOTE_IDENTIFIER, QUOTE_NAME, QUOTE_LIKE };

bool PutQuoted(SqlOut& out, const char* s, quote_mode_t mode)
{
    if (!s) return out.Text("NULL");
    char quote = mode == QUOTE_LITERAL ? '\'' : mode == QUOTE_IDENTIFIER ? '"' : 0;
    if (quote && !out.Put(quote)) return false;
    for (; *s; s++) {
        if (*s == '\'' && !out.Put('\'')) return false;
        if (mode == QUOTE_LIKE && (*s == '%' || *s == '_') && !out.Put('\\')) return false;
        if (!out.Put(*s)) return false;
    }
    return !quote || out.Put(quote);
}

bool PutNumber(SqlOut& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool PutNumber(SqlOut& out, const char* fmt, ...)
{
    char tmp[400];  // "%f" of the largest double needs 317 characters
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(tmp, sizeof(tmp), fmt, ap);
    va_end(ap);
    return out.Text(tmp);
}

// A value that is cut short would change the meaning of the statement, so a
// byte string is written completely or not at all.
bool PutBytes(SqlOut& out, const unsigned char* data, unsigned long long n)
{
    if (out.Room() < 4 || (out.Room() - 4) / 2 < n) return false;
    out.Text("'\\x");
    ByteaHexEncode(data, (size_t)n, out.buf + out.len);
    out.len += 2 * (size_t)n;
    out.Put('\'');
    return true;
}

[[noreturn]] void UnknownSpecifier(IInstanceLog* log, const unsigned logId[2], const char* shown)
{
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::QueryPrintV found unkown format specifier %s",
                 logId[0], logId[1], shown);
    FATAL("PostgreSQLDatabase::QueryPrintV unkown format specifier found");
}

}  // namespace

size_t SqlPrintV(char* buf, size_t size, const char* format, va_list ap, IInstanceLog* log,
                 const unsigned logId[2])
{
    if (!buf || !size) return 0;
    SqlOut out{buf, size};
    char shown[16];
    bool room = true;
    for (const char* f = format; *f && room; f++) {
        if (*f != '%') {
            room = out.Put(*f);
            continue;
        }
        switch (*++f) {
        case '%': room = out.Put('%'); break;
        case 's': room = PutQuoted(out, va_arg(ap, const char*), QUOTE_LITERAL); break;
        case 'S': room = PutQuoted(out, va_arg(ap, const char*), QUOTE_IDENTIFIER); break;
        case 'n': room = PutQuoted(out, va_arg(ap, const char*), QUOTE_NAME); break;
        case 'e': room = PutQuoted(out, va_arg(ap, const char*), QUOTE_LIKE); break;
        case 'q': {
            const char* s = va_arg(ap, const char*);
            room = !s || out.Text(s);
            break;
        }
        case 'b': room = out.Text(va_arg(ap, int) ? "TRUE" : "FALSE"); break;
        case 'i':
        case 'u': room = PutNumber(out, "%i", va_arg(ap, int)); break;
        case 'f': room = PutNumber(out, "%f", va_arg(ap, double)); break;
        case 'l':
            if (f[1] == 'l' && (f[2] == 'i' || f[2] == 'u')) {
                f += 2;
                room = PutNumber(out, "%lli", va_arg(ap, long long));
                break;
            }
            snprintf(shown, sizeof(shown), "'l%c%c'", f[1], f[1] ? f[2] : 0);
            UnknownSpecifier(log, logId, shown);
        case 'd':
            if (f[1] == 'u') {
                f++;
                const unsigned char* data = va_arg(ap, const unsigned char*);
                unsigned long long n = va_arg(ap, unsigned long long);
                if (!PutBytes(out, data, n)) {
                    buf[out.len] = 0;
                    return out.len;
                }
                break;
            }
            snprintf(shown, sizeof(shown), "'%c%c'", 'd', f[1]);
            UnknownSpecifier(log, logId, shown);
        case 'p':
            if (f[1] == 'i' || f[1] == 'u') {
                f++;
                const int* v = va_arg(ap, const int*);
                room = v ? PutNumber(out, "%i", *v) : out.Text("NULL");
                break;
            }
            if (f[1] == 'b') {
                f++;
                const bool* v = va_arg(ap, const bool*);
                room = out.Text(!v ? "NULL" : *v ? "TRUE" : "FALSE");
                break;
            }
            if (f[1] == 'l') {
                if (f[2] == 'l' && (f[3] == 'i' || f[3] == 'u')) {
                    f += 3;
                    const long long* v = va_arg(ap, const long long*);
                    room = v ? PutNumber(out, "%lli", *v) : out.Text("NULL");
                    break;
                }
                snprintf(shown, sizeof(shown), "pl'%c%c'", f[2], f[2] ? f[3] : 0);
                UnknownSpecifier(log, logId, shown);
            }
            snprintf(shown, sizeof(shown), "p'%c'", f[1]);
            UnknownSpecifier(log, logId, shown);
        default:
            snprintf(shown, sizeof(shown), "'%c'", *f);
            UnknownSpecifier(log, logId, shown);
        }
    }
    buf[out.len] = 0;
    return out.len;
}

size_t SqlPrint(char* buf, size_t size, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    size_t len = SqlPrintV(buf, size, format, ap, nullptr, nullptr);
    va_end(ap);
    return len;
}

size_t SqlEscapeSearchLiterals(const char* value, char* out, size_t size)
{
    ASSERT(value, "PostgreSQLDatabase::EscapeSearchLiterals value not set");
    ASSERT(out && size >= strlen(value) * 2 + 1,
           "PostgreSQLDatabase::EscapeSearchLiterals bufferSize < (strlen(value) * 2 + 1)");
    size_t len = 0;
    for (; *value; value++) {
        if (*value == '%' || *value == '_') out[len++] = '\\';
        out[len++] = *value;
    }
    out[len] = 0;
    return len;
}

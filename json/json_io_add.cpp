#include "json/json_io.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "runtime/assert.h"

namespace {

// Numbers are formatted by hand: building replies is on the hot path and
// printf costs more than the rest of an add together.
unsigned put_decimal(char* dst, unsigned long long v, bool negative)
{
    char digits[24];
    unsigned n = 0;
    do {
        digits[n++] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    char* d = dst;
    if (negative) *d++ = '-';
    while (n) *d++ = digits[--n];
    *d = 0;
    return (unsigned)(d - dst);
}

unsigned put_signed(char* dst, long long v)
{
    unsigned long long magnitude = v < 0 ? 0ull - (unsigned long long)v : (unsigned long long)v;
    return put_decimal(dst, magnitude, v < 0);
}

unsigned short text_length(const char* s, unsigned short len)
{
    return len == 0xffff ? (unsigned short)strlen(s) : len;
}

}  // namespace

unsigned short json_io::attach(unsigned short base, const char* name, unsigned char type, unsigned char flags,
                               const char* value, unsigned short count)
{
    if (used >= CAPACITY) return NONE;
    if (base == NONE) {
        if (used) return NONE;
    }
    else if (base >= used || items[base].type == VALUE || base + items[base].count + 1u != used) {
        return NONE;
    }
    item& x = items[used];
    x.count = count;
    x.type = type;
    x.flags = flags;
    x.base = base;
    x.name = name;
    x.value = value;
    for (unsigned short b = base; b != NONE; b = items[b].base) items[b].count++;
    return used++;
}

unsigned short json_io::add_object(unsigned short base, const char* name)
{
    if (!name && name_required(base)) FATAL("json_io::add_object - item must have a name");
    unsigned short id = attach(base, name, OBJECT, 0, nullptr, 0);
    return id == NONE ? 0 : id;
}

unsigned short json_io::add_array(unsigned short base, const char* name)
{
    if (!name && name_required(base)) FATAL("json_io::add_array - item must have a name");
    unsigned short id = attach(base, name, ARRAY, 0, nullptr, 0);
    return id == NONE ? 0 : id;
}

void json_io::add_string(unsigned short base, const char* name, const char* value, unsigned short len)
{
    if (!name && name_required(base)) FATAL("json_io::add_string - item must have a name");
    if (!value) return;
    attach(base, name, VALUE, FLAG_QUOTED, value, text_length(value, len));
}

void json_io::add_string(unsigned short base, const char* name, const unsigned short* value, unsigned short len,
                         char*& tmp)
{
    if (!name && name_required(base)) FATAL("json_io::add_string - item must have a name");
    if (!value) return;
    char* d = tmp;
    for (unsigned i = 0; (len == 0xffff || i < len) && value[i]; i++) {
        unsigned short u = value[i];
        if (u < 0x80) {
            *d++ = (char)u;
        }
        else if (u < 0x800) {
            *d++ = (char)(0xc0 | u >> 6);
            *d++ = (char)(0x80 | (u & 0x3f));
        }
        else {
            *d++ = (char)(0xe0 | u >> 12);
            *d++ = (char)(0x80 | ((u >> 6) & 0x3f));
            *d++ = (char)(0x80 | (u & 0x3f));
        }
    }
    *d = 0;
    char* text = tmp;
    tmp = d + 1;
    attach(base, name, VALUE, FLAG_QUOTED, text, (unsigned short)(d - text));
}

void json_io::add_json(unsigned short base, const char* name, const char* json, unsigned short len)
{
    if (!name && name_required(base)) FATAL("json_io::add_json - item must have a name");
    if (!json) return;
    attach(base, name, VALUE, 0, json, text_length(json, len));
}

void json_io::add_int(unsigned short base, const char* name, int value, char*& tmp)
{
    if (!name && name_required(base)) FATAL("json_io::add_int - item must have a name");
    char* text = tmp;
    unsigned n = put_signed(text, value);
    tmp += n + 1;
    attach(base, name, VALUE, 0, text, (unsigned short)n);
}

void json_io::add_unsigned(unsigned short base, const char* name, unsigned value, char*& tmp)
{
    if (!name && name_required(base)) FATAL("json_io::add_unsigned - item must have a name");
    char* text = tmp;
    unsigned n = put_decimal(text, value, false);
    tmp += n + 1;
    attach(base, name, VALUE, 0, text, (unsigned short)n);
}

void json_io::add_long64(unsigned short base, const char* name, long long value, char*& tmp)
{
    if (!name && name_required(base)) FATAL("json_io::add_long64 - item must have a name");
    char* text = tmp;
    unsigned n = put_signed(text, value);
    tmp += n + 1;
    attach(base, name, VALUE, 0, text, (unsigned short)n);
}

void json_io::add_ulong64(unsigned short base, const char* name, unsigned long long value, char*& tmp)
{
    if (!name && name_required(base)) FATAL("json_io::add_ulong64 - item must have a name");
    char* text = tmp;
    unsigned n = put_decimal(text, value, false);
    tmp += n + 1;
    attach(base, name, VALUE, 0, text, (unsigned short)n);
}

void json_io::add_double(unsigned short base, const char* name, double value, char*& tmp, unsigned char decimals)
{
    if (!name && name_required(base)) FATAL("json_io::add_double - item must have a name");
    char* text = tmp;
    int n = sprintf(text, "%.*f", (int)decimals, value);
    if (n < 0) n = 0;
    tmp += n + 1;
    attach(base, name, VALUE, 0, text, (unsigned short)n);
}

void json_io::add_printf(unsigned short base, const char* name, char*& tmp, const char* format, ...)
{
    if (!name && name_required(base)) FATAL("json_io::add_printf - item must have a name");
    char* text = tmp;
    va_list ap;
    va_start(ap, format);
    int n = vsprintf(text, format, ap);
    va_end(ap);
    if (n < 0) n = 0;
    tmp += n + 1;
    attach(base, name, VALUE, FLAG_QUOTED, text, (unsigned short)n);
}

void json_io::add_hexstring(unsigned short base, const char* name, const unsigned char* data, unsigned short len,
                            char*& tmp)
{
    static const char digits[] = "0123456789abcdef";
    if (!name && name_required(base)) FATAL("json_io::add_hexstring - item must have a name");
    if (!data) return;
    char* text = tmp;
    for (unsigned i = 0; i < len; i++) {
        text[2 * i] = digits[data[i] >> 4];
        text[2 * i + 1] = digits[data[i] & 15];
    }
    text[2u * len] = 0;
    tmp += 2u * len + 1;
    attach(base, name, VALUE, FLAG_QUOTED, text, (unsigned short)(2u * len));
}

void json_io::add_bool(unsigned short base, const char* name, bool value)
{
    if (!name && name_required(base)) FATAL("json_io::add_bool - item must have a name");
    attach(base, name, VALUE, 0, value ? "true" : "false", value ? 4 : 5);
}

void json_io::add_null(unsigned short base, const char* name)
{
    if (!name && name_required(base)) FATAL("json_io::add_null - item must have a name");
    attach(base, name, VALUE, 0, "null", 4);
}

void json_io::add_replace_string(unsigned short base, const char* name, const char* value, unsigned short len)
{
    if (!name) FATAL("json_io::add_replace_string - item must have a name");
    unsigned short id = get_id(base, FLAG_QUOTED, name);
    if (id == NONE) {
        if (value) attach(base, name, VALUE, FLAG_QUOTED, value, text_length(value, len));
        return;
    }
    items[id].value = value;
    items[id].count = value ? text_length(value, len) : 0;
}

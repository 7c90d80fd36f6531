#include "json/json_io.h"

#include <string.h>

namespace {

constexpr unsigned char END = 0xff;  // NUL ends the source
constexpr unsigned char HEX = 'u';   // written as \u00xx

// What a byte of a string value becomes: 0 for itself, else the letter
// behind the backslash.
struct escapes {
    unsigned char c[256];
    constexpr escapes() : c()
    {
        for (int i = 1; i < 0x20; i++) c[i] = HEX;
        c[0] = END;
        c[0x08] = 'b';
        c[0x09] = 't';
        c[0x0a] = 'n';
        c[0x0c] = 'f';
        c[0x0d] = 'r';
        c[(unsigned char)'"'] = '"';
        c[(unsigned char)'\\'] = '\\';
    }
};

constexpr escapes escape_of;
constexpr char hex_digits[] = "0123456789abcdef";

}  // namespace

unsigned json_io::escape(const char* src, unsigned short len, char* dst)
{
    char* d = dst;
    if (src) {
        const unsigned char* s = (const unsigned char*)src;
        const unsigned char* e = s + len;
        while (s < e) {
            unsigned char c = *s++;
            unsigned char r = escape_of.c[c];
            if (!r) {
                *d++ = (char)c;
                continue;
            }
            if (r == END) break;
            *d++ = '\\';
            *d++ = (char)r;
            if (r == HEX) {
                *d++ = '0';
                *d++ = '0';
                *d++ = hex_digits[c >> 4];
                *d++ = hex_digits[c & 15];
            }
        }
    }
    *d = 0;
    return (unsigned)(d - dst);
}

size_t json_io::escaped_length(const char* src)
{
    size_t n = 0;
    for (const unsigned char* s = (const unsigned char*)src; s && *s; s++) {
        unsigned char r = escape_of.c[*s];
        n += !r ? 1 : r == HEX ? 6 : 2;
    }
    return n;
}

// A single pass over the subtree in table order; the base chain tells which
// containers end before the next item, so nesting costs no stack.
void json_io::write(unsigned short id, char*& out, unsigned short start)
{
    (void)start;
    if (id >= used) return;
    char* o = out;
    unsigned last = items[id].type == VALUE ? id : id + items[id].count;
    if (last >= used) last = used - 1u;
    int cur = -1;        // innermost container written and not yet closed
    bool first = true;   // nothing written into cur yet
    bool terminate = false;

    auto close = [&](int c) {
        if (!(items[c].flags & FLAG_OPEN)) {
            *o++ = items[c].type == OBJECT ? '}' : ']';
            terminate = true;
        }
        return c == id ? -1 : (int)items[c].base;
    };

    for (unsigned i = id; i <= last; i++) {
        const item& x = items[i];
        while (cur >= 0 && i > (unsigned)cur + items[cur].count) {
            cur = close(cur);
            first = false;
        }
        if (x.type == VALUE && !x.value) continue;
        if (cur >= 0) {
            if (!first) *o++ = ',';
            if (items[cur].type == OBJECT) {
                *o++ = '"';
                for (const char* n = x.name ? x.name : ""; *n; n++) *o++ = *n;
                *o++ = '"';
                *o++ = ':';
            }
        }
        first = false;
        if (x.type == VALUE) {
            if (x.flags & FLAG_QUOTED) {
                *o++ = '"';
                o += escape(x.value, x.count, o);
                *o++ = '"';
                terminate = true;
            }
            else {
                memcpy(o, x.value, x.count);
                o += x.count;
                terminate = false;
            }
        }
        else {
            *o++ = x.type == OBJECT ? '{' : '[';
            terminate = true;
            cur = (int)i;
            first = true;
        }
    }
    while (cur >= 0) cur = close(cur);
    if (terminate) *o = 0;
    out = o;
}

unsigned short json_io::encode()
{
    if (!buffer || !used) return 0;
    char* out = buffer;
    write(0, out, NONE);
    return (unsigned short)(out - buffer);
}

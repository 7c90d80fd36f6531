#include "json/json_io.h"

#include <stdlib.h>
#include <string.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

enum : unsigned char {
    SPACE = 1,       // skipped between tokens
    TOKEN = 2,       // part of an unquoted value
    STRING_STOP = 4, // ends the fast scan of a string: quote, backslash, NUL
    NAME_STOP = 8,   // ends a member name: quote, NUL
};

struct char_classes {
    unsigned char c[256];
    constexpr char_classes() : c()
    {
        c[(unsigned char)' '] = c[(unsigned char)'\t'] = c[(unsigned char)'\n'] = c[(unsigned char)'\r'] = SPACE;
        for (int i = '0'; i <= '9'; i++) c[i] = TOKEN;
        for (int i = 'a'; i <= 'z'; i++) c[i] = TOKEN;
        for (int i = 'A'; i <= 'Z'; i++) c[i] = TOKEN;
        c[(unsigned char)'-'] = c[(unsigned char)'.'] = TOKEN;
        c[(unsigned char)'"'] = STRING_STOP | NAME_STOP;
        c[(unsigned char)'\\'] = STRING_STOP;
        c[0] = STRING_STOP | NAME_STOP;
    }
};

constexpr char_classes classes;

inline unsigned char cls(char c) { return classes.c[(unsigned char)c]; }

inline char* skip_space(char* p)
{
    while (cls(*p) & SPACE) p++;
    return p;
}

inline int hex_digit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four characters behind \u, read the way strtoul reads them (blanks,
// a sign and a 0x prefix included); plain hex digits take the short way.
unsigned short code_unit(const char* s)
{
    int a = hex_digit(s[0]), b = hex_digit(s[1]), c = hex_digit(s[2]), d = hex_digit(s[3]);
    if ((a | b | c | d) >= 0) return (unsigned short)(a << 12 | b << 8 | c << 4 | d);
    char four[5] = {s[0], s[1], s[2], s[3], 0};
    return (unsigned short)strtoul(four, nullptr, 16);
}

// The first quote or backslash of a string, or its end. Blocks of 16 are
// read only while they lie before the end of the text, which has no NUL
// ahead of the reader.
inline char* string_stop(char* s, const char* end)
{
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    while (end - s >= 16) {
        __m128i v = _mm_loadu_si128((const __m128i*)s);
        int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
        if (hits) return s + __builtin_ctz((unsigned)hits);
        s += 16;
    }
#else
    (void)end;
#endif
    while (!(cls(*s) & STRING_STOP)) s++;
    return s;
}

// The closing quote of a member name, or the end of the text.
inline char* name_stop(char* s, const char* end)
{
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"');
    while (end - s >= 16) {
        int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)s), quote));
        if (hits) return s + __builtin_ctz((unsigned)hits);
        s += 16;
    }
#else
    (void)end;
#endif
    while (!(cls(*s) & NAME_STOP)) s++;
    return s;
}

}  // namespace

unsigned json_io::unescape(char* dst, const char* src)
{
    char* d = dst;
    for (;;) {
        // Plain runs move in one piece; in place, the run before the first
        // escape does not move at all.
        const char* run = strchrnul(src, '\\');
        size_t n = (size_t)(run - src);
        if (d != src) memmove(d, src, n);
        d += n;
        src = run + 1;
        if (!*run) {
            *d = 0;
            return (unsigned)(d - dst);
        }
        switch (*src++) {
        case '"': *d++ = '"'; continue;
        case '/': *d++ = '/'; continue;
        case '\\': *d++ = '\\'; continue;
        case 'b': *d++ = 0x08; continue;
        case 'f': *d++ = 0x0c; continue;
        case 'n': *d++ = 0x0a; continue;
        case 'r': *d++ = 0x0d; continue;
        case 't': *d++ = 0x09; continue;
        case 'u':
            if (src[0] && src[1] && src[2] && src[3]) {
                unsigned short u = code_unit(src);
                src += 4;
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
                continue;
            }
            break;
        default:
            break;
        }
        // A broken escape drops the rest of the string rather than the message.
        *d = 0;
        return (unsigned)(d - dst);
    }
}

// The reader is iterative: the innermost open container and the base chain
// in the table replace a recursion stack, so hostile nesting cannot exhaust
// the thread's stack. Terminators are written as soon as the reader has
// looked at the character they replace.
bool json_io::decode()
{
    if (!buffer) return false;
    used = 0;
    items[0].name = nullptr;
    char* p = skip_space(buffer);
    if (!*p) return true;
    const char* end = p + strlen(p);

    unsigned m = 0;           // items in use
    unsigned short cur = NONE; // innermost open container
    const char* name = nullptr;
    char c;

    for (;;) {
        // One value at p (blanks already skipped), child of cur, called name.
        if (m == CAPACITY) goto fail;
        {
            item& x = items[m];
            x.base = cur;
            x.name = name;
            c = *p;
            if (c == '"') {
                char* s = p + 1;
                bool escaped = false;
                for (;;) {
                    s = string_stop(s, end);
                    if (*s == '"') break;
                    if (!*s || !s[1]) goto fail;
                    escaped = true;
                    s += 2;
                }
                *s = 0;
                size_t len = escaped ? unescape(p + 1, p + 1) : (size_t)(s - p - 1);
                if (len > 0xffff) goto fail;
                x.type = VALUE;
                x.flags = FLAG_QUOTED;
                x.value = p + 1;
                x.count = (unsigned short)len;
                m++;
                p = skip_space(s + 1);
                c = *p;
            }
            else if (cls(c) & TOKEN) {
                char* s = p + 1;
                while (cls(*s) & TOKEN) s++;
                if (s - p > 0xffff) goto fail;
                x.type = VALUE;
                x.flags = 0;
                x.value = p;
                x.count = (unsigned short)(s - p);
                m++;
                p = skip_space(s);
                c = *p;
                *s = 0;
            }
            else if (c == '{' || c == '[') {
                x.type = c == '{' ? OBJECT : ARRAY;
                x.flags = FLAG_OPEN;
                x.count = 0;
                x.value = nullptr;
                cur = (unsigned short)m++;
                p = skip_space(p + 1);
                c = *p;
                if (c == (x.type == OBJECT ? '}' : ']')) {
                    x.flags = 0;
                    cur = x.base;
                    p = skip_space(p + 1);
                    c = *p;
                }
                else if (x.type == OBJECT) {
                    goto member;
                }
                else {
                    name = nullptr;
                    continue;
                }
            }
            else {
                goto fail;
            }
        }

        // Behind a complete value, c = *p: a separator, a closing bracket,
        // or the end of the text at the document level.
        for (;;) {
            if (cur == NONE) {
                if (c) goto fail;
                used = (unsigned short)m;
                return true;
            }
            item& o = items[cur];
            if (c == ',') {
                p = skip_space(p + 1);
                if (o.type == OBJECT) goto member;
                name = nullptr;
                break;
            }
            if (c != (o.type == OBJECT ? '}' : ']')) goto fail;
            o.count = (unsigned short)(m - cur - 1);
            o.flags = 0;
            cur = o.base;
            p = skip_space(p + 1);
            c = *p;
        }
        continue;

    member:
        // A member name: no escape processing, it ends at the next quote.
        if (*p != '"') goto fail;
        {
            char* s = name_stop(p + 1, end);
            if (!*s) goto fail;
            *s = 0;
            name = p + 1;
            p = skip_space(s + 1);
        }
        if (*p != ':') goto fail;
        p = skip_space(p + 1);
    }

fail:
    // Open containers cover what was read, so the table stays walkable.
    for (unsigned short i = cur; i != NONE; i = items[i].base) items[i].count = (unsigned short)(m - i - 1);
    used = (unsigned short)m;
    return false;
}

#include "messages/http/url_text.h"

#include <string.h>

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Well-formed UTF-8 as PostgreSQL takes it: no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool WellFormedUtf8(const std::string& s)
{
    const unsigned char* p = (const unsigned char*)s.data();
    const unsigned char* end = p + s.size();
    while (p < end) {
        unsigned c = *p++;
        if (c < 0x80) continue;
        unsigned n, min, code;
        if ((c & 0xE0) == 0xC0) n = 1, min = 0x80, code = c & 0x1F;
        else if ((c & 0xF0) == 0xE0) n = 2, min = 0x800, code = c & 0x0F;
        else if ((c & 0xF8) == 0xF0) n = 3, min = 0x10000, code = c & 0x07;
        else return false;
        if ((size_t)(end - p) < n) return false;
        for (unsigned i = 0; i < n; i++) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        p += n;
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    }
    return true;
}

}  // namespace

bool MessagesUrlNumber(const char* text, size_t length, bool prefixes, unsigned long long& value)
{
    unsigned base = 10;
    size_t at = 0;
    if (prefixes && length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, at = 2;
    else if (prefixes && length >= 2 && text[0] == '0') base = 8, at = 1;
    if (at >= length) return false;
    unsigned long long v = 0;
    for (; at < length; at++) {
        int d = DigitValue(text[at]);
        if (d < 0 || (unsigned)d >= base) return false;
        if (v > (~0ULL - (unsigned)d) / base) return false;
        v = v * base + (unsigned)d;
    }
    value = v;
    return true;
}

bool MessagesUrlDecode(const char* text, size_t length, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == '%') {
            if (i + 2 >= length) return false;
            int high = DigitValue(text[i + 1]);
            int low = DigitValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            c = (unsigned char)(high * 16 + low);
            i += 2;
        }
        if (c < 0x20 || c == 0x7F) return false;
        out.push_back((char)c);
    }
    return WellFormedUtf8(out);
}

std::string MessagesUrlEncode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out.push_back((char)c);
            continue;
        }
        out.push_back('%');
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 15]);
    }
    return out;
}

bool MessagesUrlArgument(const char* query, const char* name, const char*& value, size_t& length)
{
    size_t nameLength = strlen(name);
    for (const char* at = query; at && *at;) {
        size_t pair = strcspn(at, "&");
        size_t key = strcspn(at, "=&");
        if (key == nameLength && !strncmp(at, name, nameLength)) {
            value = key < pair ? at + key + 1 : at + pair;
            length = key < pair ? pair - key - 1 : 0;
            return true;
        }
        at += pair;
        if (*at) at++;
    }
    return false;
}

#include "platform/webserver/login_text.h"

#include <ctype.h>
#include <stdio.h>

namespace wsp {

namespace {

int HexValue(char c)
{
    return isdigit((unsigned char)c) ? c - '0' : (tolower((unsigned char)c) - 'a' + 10);
}

std::string Decode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '+') out += ' ';
        else if (s[i] == '%' && i + 2 < s.size() && isxdigit((unsigned char)s[i + 1]) &&
                 isxdigit((unsigned char)s[i + 2])) {
            out += char(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
            i += 2;
        }
        else out += s[i];
    }
    return out;
}

std::string Trim(const std::string& s)
{
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

}  // namespace

std::map<std::string, std::string> ParseForm(const std::string& form)
{
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at < form.size()) {
        size_t amp = form.find('&', at);
        std::string pair = form.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
        size_t eq = pair.find('=');
        if (!pair.empty()) fields[Decode(pair.substr(0, eq))] = eq == std::string::npos ? "" : Decode(pair.substr(eq + 1));
        if (amp == std::string::npos) break;
        at = amp + 1;
    }
    return fields;
}

std::string CookieValue(const std::string& cookieHeader, const std::string& name)
{
    size_t at = 0;
    while (at < cookieHeader.size()) {
        size_t end = cookieHeader.find(';', at);
        std::string pair = cookieHeader.substr(at, end == std::string::npos ? std::string::npos : end - at);
        size_t eq = pair.find('=');
        if (eq != std::string::npos && Trim(pair.substr(0, eq)) == name) return Trim(pair.substr(eq + 1));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return std::string();
}

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += char(c);
        else if (c == '\b') out += "\\b";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\f') out += "\\f";
        else if (c == '\r') out += "\\r";
        else if (c < 0x20) {
            char e[8];
            snprintf(e, sizeof(e), "\\u%04x", c);
            out += e;
        }
        else out += char(c);
    }
    return out + "\"";
}

}  // namespace wsp

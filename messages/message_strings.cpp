#include "messages/message_strings.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

void ReplaceString(char*& field, const char* value)
{
    char* copy = value ? strdup(value) : nullptr;
    free(field);
    field = copy;
}

unsigned CaselessKey(const char* value)
{
    // FNV-1a
    unsigned key = 2166136261u;
    for (const unsigned char* c = (const unsigned char*)value; c && *c; c++) {
        unsigned char folded = *c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c;
        key = (key ^ folded) * 16777619u;
    }
    return key;
}

void MessageStrings::Add(const char* value)
{
    if (value) items.push_back({strdup(value), CaselessKey(value)});
}

bool MessageStrings::Contains(const char* value) const
{
    if (!value) return false;
    for (const MessageString& s : *this)
        if (!strcmp(s.value, value)) return true;
    return false;
}

bool MessageStrings::ContainsCaseless(const char* value) const
{
    return ContainsCaseless(value, CaselessKey(value));
}

bool MessageStrings::ContainsCaseless(const char* value, unsigned key) const
{
    if (!value) return false;
    for (const MessageString& s : *this)
        if (s.key == key && !strcasecmp(s.value, value)) return true;
    return false;
}

void MessageStrings::Clear()
{
    for (MessageString& s : items) free(s.value);
    items.clear();
}

std::string GuidText(const char* value)
{
    std::string out;
    for (const char* c = value; c && *c; c++) {
        if ((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f')) out += *c;
        else if (*c >= 'A' && *c <= 'F') out += char(*c - 'A' + 'a');
    }
    return out;
}

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

MessageString::MessageString(const char* value) : value(strdup(value)) {}

MessageString::~MessageString()
{
    free(value);
}

void MessageStrings::Add(const char* value)
{
    if (value) list.push_back(new MessageString(value));
}

bool MessageStrings::Contains(const char* value) const
{
    if (!value) return false;
    for (MessageString* s = First(); s; s = s->Next())
        if (!strcmp(s->value, value)) return true;
    return false;
}

bool MessageStrings::ContainsCaseless(const char* value) const
{
    if (!value) return false;
    for (MessageString* s = First(); s; s = s->Next())
        if (!strcasecmp(s->value, value)) return true;
    return false;
}

void MessageStrings::Clear()
{
    while (MessageString* s = First()) delete s;
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

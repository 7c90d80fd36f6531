#include "messages/filter_from_json.h"

#include <string.h>
#include <strings.h>

#include "json/json_io.h"
#include "messages/filter_expression.h"
#include "messages/messages_user.h"

namespace {

using AddFunction = void (MessageFilter::*)(const char*);

// Entries that are not strings are skipped rather than ending the walk.
void AddStrings(MessageFilter* filter, AddFunction add, json_io& json, unsigned short base, const char* name)
{
    unsigned short array = json.get_array(base, name);
    if (array == json_io::NONE) return;
    for (unsigned short last = 0;;) {
        const char* value = json.get_string(array, last);
        if (last == json_io::NONE) break;
        if (value) (filter->*add)(value);
    }
}

void AddTopics(MessageFilter* filter, json_io& json, unsigned short base, const MessagesUser* user)
{
    unsigned short array = base == json_io::NONE ? json_io::NONE : json.get_array(base, "topics");
    bool named = false;
    if (array != json_io::NONE) {
        for (unsigned short last = 0;;) {
            const char* value = json.get_string(array, last);
            if (last == json_io::NONE) break;
            // Only strings name topics: a list of anything else must not
            // lift the restriction below.
            if (!value) continue;
            named = true;
            if (user->FindTopic(value)) filter->AddTopic(value);
        }
    }
    if (named) return;
    // Without named topics a client reads only what it may see, and its
    // personal topic stays out of the common view.
    MessageFilter* all = filter->AddFilter(MessageFilter::OR);
    for (MessagesTopic* t = user->FirstTopic(); t; t = user->NextTopic(t))
        if (!user->sip || strcasecmp(t->sip, user->sip)) all->AddTopic(t->sip);
}

}  // namespace

void jsonFilter(MessageFilter* filter, json_io& json, unsigned short base, const MessagesUser* user)
{
    if (base != json_io::NONE) {
        const char* op = json.get_string(base, "op");
        if (op && !strcmp(op, "or")) filter->op = MessageFilter::OR;
    }
    AddTopics(filter, json, base, user);
    if (base == json_io::NONE) return;
    AddStrings(filter, &MessageFilter::AddTag, json, base, "tags");
    AddStrings(filter, &MessageFilter::AddAuthor, json, base, "authors");
    AddStrings(filter, &MessageFilter::AddNotification, json, base, "notifies");
    unsigned short nested = json.get_array(base, "filters");
    if (nested == json_io::NONE) return;
    for (unsigned short last = 0;;) {
        unsigned short object = json.get_object(nested, last);
        if (last == json_io::NONE) break;
        if (object != json_io::NONE) jsonFilter(filter->AddFilter(MessageFilter::AND), json, object, user);
    }
}

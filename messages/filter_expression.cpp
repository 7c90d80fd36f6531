#include "messages/filter_expression.h"

#include <strings.h>

#include "messages/message_content.h"

MessageFilter::MessageFilter(opType op) : op(op) {}

MessageFilter::~MessageFilter()
{
    while (MessageFilter* f = filters) {
        filters = f->next;
        delete f;
    }
}

void MessageFilter::AddTopic(const char* topic)
{
    topics.Add(topic);
    Touch();
}

void MessageFilter::AddAuthor(const char* author)
{
    authors.Add(author);
    Touch();
}

void MessageFilter::AddTag(const char* tag)
{
    tags.Add(tag);
    Touch();
}

void MessageFilter::AddNotification(const char* notification)
{
    notifications.Add(notification);
    Touch();
}

MessageFilter* MessageFilter::AddFilter(opType nestedOp)
{
    MessageFilter* f = new MessageFilter(nestedOp);
    f->parent = this;
    Touch();
    if (lastFilter) lastFilter->next = f;
    else filters = f;
    lastFilter = f;
    return f;
}

void MessageFilter::Touch()
{
    MessageFilter* root = this;
    for (MessageFilter* f = this; f; f = f->parent) {
        f->gateKnown = false;
        root = f;
    }
    root->Touched();
}

unsigned long long MessageFilter::TopicGate() const
{
    if (gateKnown && gateOp == op) return gate;
    unsigned long long mask;
    if (op == AND) {
        mask = ~0ULL;
        for (const MessageString& t : topics) mask &= TopicBit(t.key);
        for (const MessageFilter* f = filters; f; f = f->next) mask &= f->TopicGate();
    }
    else if (!authors.Empty() || !tags.Empty() || !notifications.Empty()) {
        // Another term may match a message of any topic.
        mask = ~0ULL;
    }
    else {
        mask = 0;
        for (const MessageString& t : topics) mask |= TopicBit(t.key);
        for (const MessageFilter* f = filters; f; f = f->next) mask |= f->TopicGate();
    }
    gate = mask;
    gateOp = op;
    gateKnown = true;
    return mask;
}

namespace {

void CopyStrings(MessageStrings& to, const MessageStrings& from)
{
    for (const MessageString& s : from) to.Add(s.value);
}

}  // namespace

void MessageFilter::CopyTerms(const MessageFilter& from)
{
    CopyStrings(topics, from.topics);
    CopyStrings(authors, from.authors);
    CopyStrings(tags, from.tags);
    CopyStrings(notifications, from.notifications);
    for (MessageFilter* f = from.filters; f; f = f->next) AddFilter(f->op)->CopyTerms(*f);
}

bool MessageFilter::FilterEmpty() const
{
    return topics.Empty() && authors.Empty() && tags.Empty() && notifications.Empty() && !filters;
}

bool MessageFilter::NamesContent() const
{
    if (!tags.Empty() || !notifications.Empty()) return true;
    for (MessageFilter* f = filters; f; f = f->next)
        if (f->NamesContent()) return true;
    return false;
}

namespace {

bool Same(const MessageString& term, const char* value, unsigned key)
{
    return value && term.key == key && !strcasecmp(term.value, value);
}

bool Notifies(const MessageString& term, const MessageContent* content)
{
    return *term.value ? content->notifications.ContainsCaseless(term.value, term.key)
                       : !content->notifications.Empty();
}

}  // namespace

bool MessageFilter::check(const MessageContent* content) const
{
    // Under AND a false term decides, under OR a true one.
    const bool decisive = op == OR;
    for (const MessageString& t : topics)
        if (Same(t, content->topic, content->topicKey) == decisive) return decisive;
    for (const MessageString& a : authors)
        if (Same(a, content->author, content->authorKey) == decisive) return decisive;
    for (const MessageString& t : tags)
        if (content->tags.ContainsCaseless(t.value, t.key) == decisive) return decisive;
    for (const MessageString& n : notifications)
        if (Notifies(n, content) == decisive) return decisive;
    for (MessageFilter* f = filters; f; f = f->next)
        if (f->check(content) == decisive) return decisive;
    return !decisive;
}

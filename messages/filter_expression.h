#pragma once

#include "messages/message_strings.h"

class MessageContent;
class SqlParams;

// A filter expression over messages. It has two uses that must agree: SQL
// condition text for reading and counting from the database, and an
// in-memory match for announcing changes to other sessions.
class MessageFilter {
public:
    // How all terms of one filter are joined; nested filters give the other
    // operator inside a group.
    enum opType { AND = 0, OR = 1 };

    explicit MessageFilter(opType op);
    MessageFilter(const MessageFilter&) = delete;
    MessageFilter& operator=(const MessageFilter&) = delete;
    virtual ~MessageFilter();

    // Null values are ignored. An empty notification stands for: notifies anybody.
    void AddTopic(const char* topic);
    void AddAuthor(const char* author);
    void AddTag(const char* tag);
    void AddNotification(const char* notification);
    // The new nested filter is owned by this one.
    MessageFilter* AddFilter(opType nestedOp);
    // Adds the terms and nested filters of another filter of the same
    // operator, as copies.
    void CopyTerms(const MessageFilter& from);
    // Nested filters are not looked into.
    bool FilterEmpty() const;
    // Whether a term, nested ones included, looks at tags or notifications:
    // what an edit of a message may change.
    bool NamesContent() const;

    // Writes the condition and a NUL into the size bytes at buf and returns
    // the length without the NUL. The last byte stays unused: the SQL
    // formatter cannot tell a cut value from one that fills the room exactly.
    // A filter without terms writes what it matches ("TRUE" under AND,
    // "FALSE" under OR). Text that does not fit is written in an equivalent
    // shorter form, and if that does not fit either as "FALSE": the filter
    // also limits which topics a user reads, so it must never widen.
    int WriteFilters(char* buf, int size, SqlParams* params = nullptr) const;
    bool check(const MessageContent* content) const;
    // A bit of each topic that a message matched by the filter may have
    // (TopicBit of its key); every bit where the filter does not limit topics.
    // Kept until a term is added.
    unsigned long long TopicGate() const;
    static unsigned long long TopicBit(unsigned topicKey) { return 1ULL << (topicKey & 63); }

    MessageStrings topics;
    MessageStrings authors;
    MessageStrings tags;
    MessageStrings notifications;
    // First nested filter; the others follow through next.
    MessageFilter* filters = nullptr;
    MessageFilter* next = nullptr;
    opType op;

protected:
    // A term was added somewhere in the expression: its TopicGate may differ.
    virtual void Touched() {}

private:
    // Marks this filter's gate and its enclosing filters' for recomputing.
    void Touch();

    MessageFilter* lastFilter = nullptr;
    MessageFilter* parent = nullptr;
    mutable unsigned long long gate = 0;
    mutable bool gateKnown = false;
    mutable opType gateOp = AND;
};

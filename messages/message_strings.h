#pragma once

#include "runtime/istd_list.h"

#include <string>

// Frees the old string and stores a copy of value (null clears).
void ReplaceString(char*& field, const char* value);

// A guid as clients know it: its hex digits in lower case, nothing else.
std::string GuidText(const char* value);

// One owned string of a MessageStrings list.
class MessageString : public istd::listElement {
public:
    explicit MessageString(const char* value);
    ~MessageString() override;
    MessageString* Next() const { return static_cast<MessageString*>(goNext()); }

    char* value;
};

// An ordered list of owned strings: notification names and tags of a message,
// the term values of a filter.
class MessageStrings {
public:
    MessageStrings() {}
    MessageStrings(const MessageStrings&) = delete;
    MessageStrings& operator=(const MessageStrings&) = delete;
    ~MessageStrings() { Clear(); }

    // Appends a copy; a null value is ignored, an empty one is kept.
    void Add(const char* value);
    MessageString* First() const { return static_cast<MessageString*>(list.front()); }
    bool Empty() const { return list.empty(); }
    unsigned Count() const { return list.size(); }
    bool Contains(const char* value) const;
    // ASCII letters compared without regard to case.
    bool ContainsCaseless(const char* value) const;
    void Clear();

private:
    istd::list list;
};

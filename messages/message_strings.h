#pragma once

#include <string>
#include <vector>

// Frees the old string and stores a copy of value (null clears).
void ReplaceString(char*& field, const char* value);

// A hash of a name with its ASCII letters in lower case: names that compare
// equal without regard to case have equal keys, so a key that differs spares
// the comparison. Filters test every message against thousands of names.
unsigned CaselessKey(const char* value);

// A guid as clients know it: its hex digits in lower case, nothing else.
std::string GuidText(const char* value);

// One owned string of a MessageStrings list.
struct MessageString {
    char* value;
    // CaselessKey of value.
    unsigned key;
};

// An ordered list of owned strings: notification names and tags of a message,
// the term values of a filter. Kept in one block, since every update is
// tested against the terms of thousands of filters.
class MessageStrings {
public:
    MessageStrings() {}
    MessageStrings(const MessageStrings&) = delete;
    MessageStrings& operator=(const MessageStrings&) = delete;
    ~MessageStrings() { Clear(); }

    // Appends a copy; a null value is ignored, an empty one is kept. Pointers
    // to the strings stay valid until the list changes.
    void Add(const char* value);
    const MessageString* First() const { return items.empty() ? nullptr : items.data(); }
    const MessageString* Next(const MessageString* s) const { return s + 1 < end() ? s + 1 : nullptr; }
    const MessageString* begin() const { return items.data(); }
    const MessageString* end() const { return items.data() + items.size(); }
    bool Empty() const { return items.empty(); }
    unsigned Count() const { return items.size(); }
    bool Contains(const char* value) const;
    // ASCII letters compared without regard to case; key is value's CaselessKey.
    bool ContainsCaseless(const char* value) const;
    bool ContainsCaseless(const char* value, unsigned key) const;
    void Clear();

private:
    std::vector<MessageString> items;
};

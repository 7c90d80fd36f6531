#pragma once

#include <string>
#include <vector>

class MessagesUser;
class SqlText;

// The topics whose messages a reader may see: every topic for the app
// object, else the topics of the reader's session. Every read, count, mark
// and like of a session is kept within them, whatever its filter says: a
// filter may name other topics or join its terms with OR. Topics are named,
// not numbered: a topic's row may be removed while nothing is posted in it
// and come back with another id.
class MessagesReadableTopics {
public:
    // Every topic.
    MessagesReadableTopics() = default;
    explicit MessagesReadableTopics(const MessagesUser& user);

    bool All() const { return all; }
    const std::vector<std::string>& Names() const { return names; }
    bool operator==(const MessagesReadableTopics& other) const { return all == other.all && names == other.names; }
    // "column IN (...)" with the topics' row ids, "FALSE" without any topic,
    // "TRUE" for every topic.
    bool Print(SqlText& sql, const char* column) const;
    // The same as text, to be inserted into a statement with %q.
    std::string Condition(const char* column) const;
    // Room that Print may need.
    size_t Length() const { return length; }

private:
    bool all = true;
    std::vector<std::string> names;
    size_t length = 64;
};

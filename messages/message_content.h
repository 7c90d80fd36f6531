#pragma once

#include "messages/message_strings.h"

// One message as the Messages core passes it around: built by the request
// that needs it and shared, counted by useCount, by the updates that announce it.
class MessageContent {
public:
    // Every string is copied; a null string stays null.
    MessageContent(unsigned type, unsigned long long addsTo, unsigned long long repliesTo, const char* author,
                   const char* topic, const char* tdn, const char* text, const char* guid);
    MessageContent(const MessageContent&) = delete;
    MessageContent& operator=(const MessageContent&) = delete;
    virtual ~MessageContent();

    // The real discussion, known once the message is stored.
    unsigned long long discussionId;
    unsigned long long id = 0;
    // Discussion type for a discussion that this message opens; 0 is plain.
    unsigned type;
    // The discussion as announced to clients.
    unsigned long long addsTo;
    unsigned long long repliesTo;
    // Changed through SetAuthor and SetTopic, which keep their keys.
    char* author;
    char* topic;
    char* tdn;
    char* text;
    char* guid;
    MessageStrings notifications;
    MessageStrings tags;
    // Its discussion has been quiet for so long that no unread count holds
    // it (known of messages read from the database).
    bool quiet = false;
    // Pending updates that refer to this content.
    int useCount = 0;
    // CaselessKey of author and topic, for the filters that test each update.
    unsigned authorKey;
    unsigned topicKey;

    void SetAuthor(const char* value);
    void SetTopic(const char* value);
};

// Whether a text may be stored: every row and update that carries it must
// fit one websocket message (64 KiB) together with the row's other members,
// or every reader of it would lose its connection. Its JSON form counts.
bool MessageTextFits(const char* text);

// Updates share their message instead of copying it per session: each takes
// a share (useCount) and whoever gives up the last share deletes the
// content. A creator that hands content to updates therefore lets go of it
// and does not delete it; one that keeps using it holds a share of its own.
MessageContent* MessageContentShare(MessageContent* content);
void MessageContentRelease(MessageContent* content);

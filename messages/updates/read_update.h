#pragma once

#include "web/app_updates.h"

class MessageContent;

// A change of the unread state of a message, for the read filters: change
// positive for one more unread, negative for one more read, 0 when count is
// the absolute number that applies.
class MessagesUpdateRead : public AppUpdate {
public:
    // With a user, only that user's read filters hear of it. A read mark
    // comes with the transaction that wrote it.
    MessagesUpdateRead(AppUpdatesFilters* readFilters, MessageContent* message, int change, unsigned count = 0,
                       const char* user = nullptr, unsigned long long xid = 0);
    ~MessagesUpdateRead() override;

    MessageContent* Message() const { return message; }
    // Updates are numbered as they are made, each after the write it tells
    // of was committed: a count asked for after an update was made holds
    // that update's change already.
    unsigned long long Serial() const { return serial; }
    static unsigned long long NextSerial() { return nextSerial; }
    unsigned long long Gate() const override;
    int Change() const { return change; }
    unsigned Count() const { return count; }
    unsigned long long Xid() const { return xid; }

protected:
    // For an update that is its own message, set afterwards with
    // SetOwnMessage: no share is taken of it.
    MessagesUpdateRead(AppUpdatesFilters* readFilters, const char* user);
    void SetOwnMessage(MessageContent* own) { message = own; }
    void SetCount(unsigned value) { count = value; }

private:
    static unsigned long long nextSerial;
    unsigned long long serial = nextSerial++;
    MessageContent* message;
    int change;
    unsigned count;
    unsigned long long xid = 0;
    bool shared;
};

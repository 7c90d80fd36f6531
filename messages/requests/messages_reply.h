#pragma once

#include "json/json_io.h"

// One message to the client, a row or a reply: it begins with "mt" and, when
// the request had one, "src", and keeps the number texts it carries until it
// has been sent. Lives on the stack of the code that sends it.
class MessagesReply {
public:
    MessagesReply(const char* mt, const char* src);
    MessagesReply(const MessagesReply&) = delete;
    MessagesReply& operator=(const MessagesReply&) = delete;

    json_io& Json() { return msg; }
    unsigned short Base() const { return base; }

    // Members of the object `in` (the top-level object by default).
    void Ulong64(const char* name, unsigned long long value, unsigned short in = json_io::NONE);
    void Unsigned(const char* name, unsigned value, unsigned short in = json_io::NONE);
    void Int(const char* name, int value, unsigned short in = json_io::NONE);
    // A null value is left out.
    void String(const char* name, const char* value, unsigned short in = json_io::NONE);
    void Bool(const char* name, bool value, unsigned short in = json_io::NONE);
    unsigned short Object(const char* name, unsigned short in = json_io::NONE);

private:
    unsigned short In(unsigned short in) const { return in == json_io::NONE ? base : in; }
    char* Room();

    json_io msg;
    unsigned short base;
    // A row carries about a dozen numbers of at most 21 characters each.
    char numbers[64 * 24];
    char* tmp = numbers;
};

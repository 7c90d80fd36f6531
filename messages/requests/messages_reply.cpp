#include "messages/requests/messages_reply.h"

#include "runtime/assert.h"

MessagesReply::MessagesReply(const char* mt, const char* src) : msg(nullptr)
{
    base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "mt", mt);
    if (src) msg.add_string(base, "src", src);
}

char* MessagesReply::Room()
{
    ASSERT(tmp + 24 <= numbers + sizeof(numbers), "MessagesReply out of room for numbers");
    return tmp;
}

void MessagesReply::Ulong64(const char* name, unsigned long long value, unsigned short in)
{
    Room();
    msg.add_ulong64(In(in), name, value, tmp);
}

void MessagesReply::Unsigned(const char* name, unsigned value, unsigned short in)
{
    Room();
    msg.add_unsigned(In(in), name, value, tmp);
}

void MessagesReply::Int(const char* name, int value, unsigned short in)
{
    Room();
    msg.add_int(In(in), name, value, tmp);
}

void MessagesReply::String(const char* name, const char* value, unsigned short in)
{
    if (value) msg.add_string(In(in), name, value);
}

void MessagesReply::Bool(const char* name, bool value, unsigned short in)
{
    msg.add_bool(In(in), name, value);
}

unsigned short MessagesReply::Object(const char* name, unsigned short in)
{
    return msg.add_object(In(in), name);
}

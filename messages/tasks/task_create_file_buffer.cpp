#include "messages/tasks/task_create_file_buffer.h"

#include <openssl/rand.h>

#include <random>

namespace {
const char KEY_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const unsigned KEY_ALPHABET_SIZE = sizeof(KEY_ALPHABET) - 1;

// Random bytes below the largest multiple of the alphabet's size map evenly onto it.
std::string RandomKey(unsigned length)
{
    const unsigned limit = 256 / KEY_ALPHABET_SIZE * KEY_ALPHABET_SIZE;
    std::string key;
    std::random_device fallback;
    while (key.size() < length) {
        unsigned char bytes[32];
        if (RAND_bytes(bytes, sizeof(bytes)) != 1)
            for (unsigned char& b : bytes) b = (unsigned char)fallback();
        for (unsigned char b : bytes)
            if (b < limit && key.size() < length) key.push_back(KEY_ALPHABET[b % KEY_ALPHABET_SIZE]);
    }
    return key;
}
}  // namespace

TaskCreateFileBuffer::TaskCreateFileBuffer(IDatabase* database, const char* name)
    : MessagesTaskWrite(database, 0), key(RandomKey(KEY_LENGTH)), name(name ? name : "")
{
}

void TaskCreateFileBuffer::Start(UTask* owner)
{
    user = owner;
    Insert("INSERT INTO files_buffer (key,name) VALUES (%s,%s)", key.c_str(), name.c_str());
}

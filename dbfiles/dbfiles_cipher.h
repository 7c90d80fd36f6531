#pragma once

#include <stddef.h>

#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

// AES-256-GCM on single chunks. A stored chunk is a fresh random IV, the
// ciphertext (as long as the plain chunk) and the authentication tag.
class DbFilesCipher {
public:
    static const unsigned IV_LENGTH = 16;
    static const unsigned TAG_LENGTH = 16;
    static const unsigned OVERHEAD = IV_LENGTH + TAG_LENGTH;
    static const unsigned KEY_LENGTH = 32;

    explicit DbFilesCipher(const unsigned char* key);
    ~DbFilesCipher();
    DbFilesCipher(const DbFilesCipher&) = delete;
    DbFilesCipher& operator=(const DbFilesCipher&) = delete;

    // Replaces `out` by the stored form of the chunk.
    void Encrypt(const unsigned char* plain, size_t length, std::vector<unsigned char>& out);
    // Replaces `out` by the plain chunk; false when the tag does not match
    // (another key, or altered content). `length` is at least OVERHEAD.
    bool Decrypt(const unsigned char* stored, size_t length, std::vector<unsigned char>& out);

private:
    EVP_CIPHER_CTX* encrypt;
    EVP_CIPHER_CTX* decrypt;
};

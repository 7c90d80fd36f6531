#include "dbfiles/dbfiles_cipher.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include "runtime/assert.h"

namespace {

// The key schedule is set up once; each chunk only brings its own IV.
EVP_CIPHER_CTX* CreateContext(const unsigned char* key, int encrypting)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT(ctx, "DbFilesCipher out of memory");
    bool ok = EVP_CipherInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypting) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, DbFilesCipher::IV_LENGTH, nullptr) == 1 &&
              EVP_CipherInit_ex(ctx, nullptr, nullptr, key, nullptr, encrypting) == 1;
    ASSERT(ok, "DbFilesCipher AES-256-GCM set-up failed");
    return ctx;
}

}  // namespace

DbFilesCipher::DbFilesCipher(const unsigned char* key)
    : encrypt(CreateContext(key, 1)), decrypt(CreateContext(key, 0))
{
}

DbFilesCipher::~DbFilesCipher()
{
    EVP_CIPHER_CTX_free(encrypt);
    EVP_CIPHER_CTX_free(decrypt);
}

void DbFilesCipher::Encrypt(const unsigned char* plain, size_t length, std::vector<unsigned char>& out)
{
    out.resize(length + OVERHEAD);
    unsigned char* iv = out.data();
    unsigned char* text = iv + IV_LENGTH;
    int n = 0, final = 0;
    // Reusing an IV under one key would give the content away; a failing
    // random source is not something to write through.
    ASSERT(RAND_bytes(iv, IV_LENGTH) == 1, "DbFilesCipher::Encrypt no random bytes for the IV");
    bool ok = EVP_EncryptInit_ex(encrypt, nullptr, nullptr, nullptr, iv) == 1 &&
              EVP_EncryptUpdate(encrypt, text, &n, plain, (int)length) == 1 &&
              EVP_EncryptFinal_ex(encrypt, text + n, &final) == 1 &&
              EVP_CIPHER_CTX_ctrl(encrypt, EVP_CTRL_GCM_GET_TAG, TAG_LENGTH, text + length) == 1;
    ASSERT(ok && (size_t)(n + final) == length, "DbFilesCipher::Encrypt failed");
}

bool DbFilesCipher::Decrypt(const unsigned char* stored, size_t length, std::vector<unsigned char>& out)
{
    ASSERT(length >= OVERHEAD, "DbFilesCipher::Decrypt chunk shorter than IV and tag");
    size_t plainLength = length - OVERHEAD;
    out.resize(plainLength);
    unsigned char tag[TAG_LENGTH];
    for (unsigned i = 0; i < TAG_LENGTH; i++) tag[i] = stored[IV_LENGTH + plainLength + i];
    int n = 0, final = 0;
    // A zero-length plain chunk still has its tag checked, so give Update a
    // valid pointer either way.
    unsigned char none;
    unsigned char* text = plainLength ? out.data() : &none;
    bool ok = EVP_DecryptInit_ex(decrypt, nullptr, nullptr, nullptr, stored) == 1 &&
              EVP_DecryptUpdate(decrypt, text, &n, stored + IV_LENGTH, (int)plainLength) == 1 &&
              EVP_CIPHER_CTX_ctrl(decrypt, EVP_CTRL_GCM_SET_TAG, TAG_LENGTH, tag) == 1 &&
              EVP_DecryptFinal_ex(decrypt, text + n, &final) == 1;
    if (!ok) out.clear();
    return ok;
}

#include "web/session_crypto.h"

#include <openssl/crypto.h>
#include <openssl/rc4.h>
#include <openssl/sha.h>
#include <string.h>

#include <string>

namespace {

void Hex(const unsigned char* data, size_t len, char* out)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < len; i++) {
        out[2 * i] = digits[data[i] >> 4];
        out[2 * i + 1] = digits[data[i] & 15];
    }
    out[2 * len] = 0;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void Sha256Hex(const std::string& text, char* out)
{
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), md);
    Hex(md, sizeof(md), out);
}

std::string Text(const char* s)
{
    return s ? s : "";
}

// RC4 is only offered through calls that OpenSSL 3 marks deprecated; the
// session helpers must stay compatible with what clients already store.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void Rc4(const char* seed, const char* key, const unsigned char* in, size_t len, unsigned char* out)
{
    std::string k = Text(seed) + ":" + Text(key);
    RC4_KEY state;
    RC4_set_key(&state, (int)k.size(), reinterpret_cast<const unsigned char*>(k.data()));
    RC4(&state, len, in, out);
    OPENSSL_cleanse(&state, sizeof(state));
}
#pragma GCC diagnostic pop

}  // namespace

void AppLoginDigest(const char* app, const char* domain, const char* sip, const char* guid, const char* dn,
                    const char* info, const char* challenge, const char* password, char* out)
{
    std::string text = Text(app) + ":" + Text(domain) + ":" + Text(sip) + ":" + Text(guid) + ":" + Text(dn) + ":";
    if (info) text += std::string(info) + ":";
    text += Text(challenge) + ":" + Text(password);
    Sha256Hex(text, out);
    OPENSSL_cleanse(&text[0], text.size());
}

void AppSessionKey(const char* challenge, const char* password, char* out)
{
    std::string text = "solvantiqueAppSessionKey:" + Text(challenge) + ":" + Text(password);
    Sha256Hex(text, out);
    OPENSSL_cleanse(&text[0], text.size());
}

void SessionHash(const char* seed, const char* key, const char* data, char* out)
{
    Sha256Hex(Text(seed) + ":" + Text(key) + ":" + Text(data), out);
}

void SessionEncrypt(const char* seed, const char* key, const void* data, size_t len, char* hexOut)
{
    std::string cipher(len, '\0');
    Rc4(seed, key, static_cast<const unsigned char*>(data), len, reinterpret_cast<unsigned char*>(&cipher[0]));
    Hex(reinterpret_cast<const unsigned char*>(cipher.data()), len, hexOut);
}

bool SessionDecrypt(const char* seed, const char* key, const char* hex, size_t hexLen, char* out)
{
    out[0] = 0;
    if (hexLen % 2) return false;
    std::string cipher(hexLen / 2, '\0');
    for (size_t i = 0; i < cipher.size(); i++) {
        int hi = HexValue(hex[2 * i]), lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        cipher[i] = (char)(hi << 4 | lo);
    }
    Rc4(seed, key, reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size(),
        reinterpret_cast<unsigned char*>(out));
    out[cipher.size()] = 0;
    return true;
}

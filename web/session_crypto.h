#pragma once

#include <stddef.h>

// The digests and the cipher behind the app login and the per-session key.
// Every digest is written as 64 lower-case hex digits plus NUL.
const size_t SESSION_HEX_DIGEST_SIZE = 65;

// SHA-256 of app:domain:sip:guid:dn: then, only when info is given, info:
// then challenge:password. Null strings count as empty.
void AppLoginDigest(const char* app, const char* domain, const char* sip, const char* guid, const char* dn,
                    const char* info, const char* challenge, const char* password, char* out);

void AppSessionKey(const char* challenge, const char* password, char* out);

// SHA-256 of seed:key:data.
void SessionHash(const char* seed, const char* key, const char* data, char* out);

// RC4 keyed with the text seed:key. Encrypt writes 2 * len hex digits plus
// NUL; decrypt writes half the hex length plus NUL and fails (leaving an
// empty string) when the text is not an even run of hex digits.
void SessionEncrypt(const char* seed, const char* key, const void* data, size_t len, char* hexOut);
bool SessionDecrypt(const char* seed, const char* key, const char* hex, size_t hexLen, char* out);

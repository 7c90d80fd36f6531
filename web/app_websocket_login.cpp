// The app login: challenge, digest check (now or with a password that comes
// later), login checks for another party, and the session-key helpers.
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <stdlib.h>
#include <string.h>

#include <random>

#include "json/json_io.h"
#include "runtime/assert.h"
#include "web/app_websocket.h"
#include "web/session_crypto.h"

namespace {

void Replace(char*& field, const char* value)
{
    free(field);
    field = value ? strdup(value) : nullptr;
}

bool SameDigest(const char* expected, const char* given)
{
    size_t n = strlen(expected);
    return given && strlen(given) == n && CRYPTO_memcmp(expected, given, n) == 0;
}

const char* Text(const char* s)
{
    return s ? s : "";
}

}  // namespace

void AppWebsocket::ClearIdentity()
{
    Replace(domain, nullptr);
    Replace(sip, nullptr);
    Replace(guid, nullptr);
    Replace(dn, nullptr);
    Replace(app, nullptr);
}

void AppWebsocket::Challenge()
{
    unsigned r[2];
    if (RAND_bytes(reinterpret_cast<unsigned char*>(r), sizeof(r)) != 1) {
        std::random_device device;
        r[0] = device();
        r[1] = device();
    }
    snprintf(challenge, sizeof(challenge), "%08x%08x", r[0], r[1]);
    ClearIdentity();

    json_io doc(nullptr);
    doc.add_object(json_io::NONE, nullptr);
    doc.add_string(0, "mt", "AppChallengeResult");
    doc.add_string(0, "challenge", challenge);
    if (websocket->IsSysClientAuthenticated()) doc.add_bool(0, "sysClient", true);
    SendDocument(doc);
}

bool AppWebsocket::LoginMatches(const char* password, const char* digest)
{
    // A challenge is good for one attempt; without one nothing matches.
    if (!challenge[0] || !password) return false;
    char expected[SESSION_HEX_DIGEST_SIZE];
    AppLoginDigest(app, domain, sip, guid, dn, info, challenge, password, expected);
    return SameDigest(expected, digest);
}

void AppWebsocket::Login(json_io& msg, unsigned short base)
{
    const char* a = msg.get_string(base, "app");
    const char* d = msg.get_string(base, "domain");
    const char* s = msg.get_string(base, "sip");
    const char* g = msg.get_string(base, "guid");
    const char* n = msg.get_string(base, "dn");
    const char* digest = msg.get_string(base, "digest");
    unsigned short infoObject = msg.get_object(base, "info");

    json_io result(nullptr);
    result.add_object(json_io::NONE, nullptr);
    result.add_string(0, "mt", "AppLoginResult");
    result.add_string(0, "app", a);
    result.add_string(0, "domain", AppWebsocketInstanceDomain());

    bool ok = false;
    if (a && d && s && g && n && digest) {
        Replace(app, a);
        Replace(domain, d);
        Replace(sip, s);
        Replace(guid, g);
        Replace(dn, n);
        free(info);
        info = nullptr;
        if (infoObject != json_io::NONE) {
            // The digest covers the object as compact text, whatever spacing the client used.
            info = (char*)malloc(EncodedBound(msg, infoObject));
            if (info) {
                char* out = info;
                msg.write(infoObject, out);
                *out = 0;
            }
        }

        const char* password = websocket->IsSysClientAuthenticated() ? "" : AppWebsocketPassword();
        if (!password) {
            // Receiving stays held until the subclass has answered.
            Replace(pendingDigest, digest);
            AppWebsocketLogin(msg, infoObject);
            return;
        }
        bool match = LoginMatches(password, digest);
        if (!match) {
            password = AppWebsocketPassword(d);
            match = LoginMatches(password, digest);
        }
        if (match) {
            AppSessionKey(challenge, password, sessionKey);
            ok = true;
        }
    }
    challenge[0] = 0;
    if (!ok) {
        SendDocument(result);
        Error();
        return;
    }
    result.add_bool(0, "ok", true);
    if (SendDocument(result)) sendCount++;
    loggedIn = true;
    if (AppWebsocketConnectComplete(msg, infoObject)) Next();
}

bool AppWebsocket::AppWebsocketLoginComplete(const char* password, char* keyOut, unsigned keyOutLen)
{
    char expected[SESSION_HEX_DIGEST_SIZE];
    AppLoginDigest(app, domain, sip, guid, dn, info, challenge, Text(password), expected);
    bool ok = pendingDigest && challenge[0] && password && SameDigest(expected, pendingDigest);
    // The password itself stays out of the log.
    Log("AppWebsocketLoginComplete(%s) ok=%x,  (%s:%s:%s:%s:%s:%.*s:%s:%s)=%s", Text(pendingDigest), ok, Text(app),
        Text(domain), Text(sip), Text(guid), Text(dn), info ? (int)strnlen(info, 256) : 0, Text(info), challenge,
        password ? "***" : "", expected);

    json_io result(nullptr);
    result.add_object(json_io::NONE, nullptr);
    result.add_string(0, "mt", "AppLoginResult");
    result.add_string(0, "app", app);
    if (ok) {
        result.add_string(0, "domain", AppWebsocketInstanceDomain());
        result.add_bool(0, "ok", true);
        loggedIn = true;
        AppSessionKey(challenge, password, sessionKey);
    }
    if (keyOut && keyOutLen) snprintf(keyOut, keyOutLen, "%s", ok ? sessionKey : "");
    challenge[0] = 0;
    Replace(pendingDigest, nullptr);
    if (SendDocument(result) && ok) sendCount++;
    return ok;
}

void AppWebsocket::CheckLogin(json_io& msg, unsigned short base)
{
    AppWebsocketCheckLogin(msg.get_string(base, "src"), msg.get_string(base, "app"), msg.get_string(base, "domain"),
                           msg.get_string(base, "challenge"), msg.get_string(base, "digest"));
}

void AppWebsocket::AppWebsocketCheckLogin(const char* src, const char* app, const char* domain,
                                          const char* challenge, const char* digest)
{
    AppWebsocketCheckLoginComplete(src, app, domain, challenge, digest, AppWebsocketPassword());
}

void AppWebsocket::AppWebsocketCheckLoginComplete(const char* src, const char* app, const char* domain,
                                                  const char* challenge, const char* digest, const char* password)
{
    json_io result(nullptr);
    result.add_object(json_io::NONE, nullptr);
    result.add_string(0, "mt", "AppCheckLoginResult");
    result.add_string(0, "src", src);
    if (challenge && digest && app && password) {
        char expected[SESSION_HEX_DIGEST_SIZE];
        AppLoginDigest(app, domain ? domain : this->domain, "", "", "", nullptr, challenge, password, expected);
        if (SameDigest(expected, digest)) result.add_bool(0, "ok", true);
    }
    SendDocument(result);
}

void AppWebsocket::AppWebsocketEncrypt(const char* seed, const char* data, char* out, size_t outLen)
{
    size_t len = strlen(data);
    ASSERT(outLen > 2 * len, "AppWebsocketEncrypt - output buffer too small");
    SessionEncrypt(seed, sessionKey, data, len, out);
}

void AppWebsocket::AppWebsocketDecrypt(const char* seed, const char* hex, char* out, size_t outLen)
{
    size_t len = strlen(hex);
    ASSERT(outLen > len / 2, "AppWebsocketDecrypt - output buffer too small");
    SessionDecrypt(seed, sessionKey, hex, len, out);
}

void AppWebsocket::AppWebsocketHash(const char* seed, const char* data, char* out, size_t outLen)
{
    ASSERT(outLen >= SESSION_HEX_DIGEST_SIZE, "AppWebsocketHash - output buffer too small");
    SessionHash(seed, sessionKey, data, out);
}

// The webserver's side of one websocket for the fuzz targets: it hands the
// owner messages only when it asked for one, keeps the last challenge it
// sent, and confirms sends when told.
#pragma once

#include <openssl/sha.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "web/websocket.h"

class FakeWebsocket : public IWebsocket {
public:
    FakeWebsocket(UWebsocket* user, bool sysClient) : user(user), sysClient(sysClient) {}
    const char* GetHost() override { return "h"; }
    const char* GetPath() override { return "/"; }
    const char* GetHeaderFieldValue(const char*) override { return nullptr; }
    bool IsSysClientAuthenticated() override { return sysClient; }
    bool IsLocalHost() override { return false; }
    bool IsEncryptedConnection() override { return false; }
    void Send(const void* data, size_t len, bool) override
    {
        // Our messages fit one websocket message of the webserver.
        if (len > 65535) __builtin_trap();
        std::string text((const char*)data, len);
        size_t at = text.find("\"challenge\":\"");
        if (at != std::string::npos) challenge = text.substr(at + 13, 16);
        unconfirmed++;
    }
    void Recv(void*, size_t) override
    {
        if (recvPending) __builtin_trap();
        recvPending = true;
    }
    void Close() override { closing = true; }

    void Deliver(const char* data, size_t len, bool isText, bool isFragment)
    {
        if (!recvPending) return;
        recvPending = false;
        char* b = (char*)user->WebsocketRecvBuffer(len);
        memcpy(b, data, len);
        user->WebsocketRecvResult(this, b, len, isText, isFragment);
    }
    void Confirm()
    {
        if (!unconfirmed) return;
        unconfirmed--;
        // Once closing, the webserver's side owes nothing more to the owner.
        if (!closing) user->WebsocketSendResult(this);
    }
    void End()
    {
        if (recvPending) user->WebsocketRecvCanceled(this, nullptr);
        user->WebsocketCloseComplete(this, WSCR_CONNECTION_LOST);
    }

    UWebsocket* user;
    bool sysClient;
    bool recvPending = false;
    bool closing = false;
    unsigned unconfirmed = 0;
    std::string challenge;
};

// The login digest's hex form.
inline std::string Hex(const std::string& text)
{
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256((const unsigned char*)text.data(), text.size(), md);
    char hex[65];
    for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", md[i]);
    return hex;
}

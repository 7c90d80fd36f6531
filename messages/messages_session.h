#pragma once

#include <string>

#include "messages/messages_user.h"
#include "messages/requests/request_context.h"
#include "runtime/btree.h"
#include "web/app_updates_session.h"

class Messages;
class MessagesRequest;

// A user for whom an app-object session acts, announced with "Session".
class MessagesUserSession : public btree {
public:
    MessagesUserSession(unsigned long long session, const char* user, unsigned long long key);
    MessagesUserSession(const MessagesUserSession&) = delete;
    MessagesUserSession& operator=(const MessagesUserSession&) = delete;
    ~MessagesUserSession() override;
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    unsigned long long session;
    char* user;
    unsigned long long key;
};

// A random key: two 32-bit values, the first shifted left by 20 bits.
unsigned long long MessagesRandomKey();

// The server side of one client's websocket: the login, the user's
// identity and topics, and one request at a time for each message. The
// session deletes itself once its websocket has closed and no request is
// current; a request that ends after the close deletes it.
class MessagesSession : public AppUpdatesSession, public MessagesUser, public btree, public MessagesRequestContext {
public:
    // Accepts the websocket the instance is being offered right now.
    MessagesSession(Messages* instance, IWebserverPlugin* plugin, const char* host);
    ~MessagesSession() override;

    const char* AppWebsocketPassword() override;
    const char* AppWebsocketInstanceDomain() override;
    void AppWebsocketMessage(json_io& msg, unsigned short base, const char* mt, const char* src) override;
    void AppWebsocketAppInfo(const char* app, json_io& doc, unsigned short obj) override;
    bool AppWebsocketConnectComplete(json_io& msg, unsigned short info) override;
    void AppWebsocketClosed() override;
    bool AppWebsocketApiPermission(const char*) override { return true; }
    void ResponseSent() override;
    // Ordered by the session number of the update distribution.
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    // For an app-object session: the number when `user` (exactly) has the
    // user session `number`, with its key in `key`; else 0.
    unsigned long long CheckUserSession(unsigned long long number, const char* user, unsigned long long& key) const;
    MessagesUserSession* FindUserSession(unsigned long long number) const;
    // Replaces a user session of the same number.
    void PutUserSession(MessagesUserSession* userSession);
    void RemoveUserSession(unsigned long long number);

    // The reply's "src": the one of the message being handled, or null.
    const char* Src() const { return src; }
    const char* Sip() const { return MessagesUser::sip; }

    // What requests reach (MessagesRequestContext).
    void RequestSend(json_io& msg) override;
    unsigned RequestResponsesInFlight() const override { return ResponsesInFlight(); }
    // Deletes the request and, after a close, the session too.
    void RequestEnded(MessagesRequest* request) override;
    bool RequestSessionClosed() const override { return closed; }
    IDatabase* RequestDatabase() const override;
    IDatabase* RequestReadDatabase() const override;
    MessagesUser* RequestUser() override { return this; }
    MessagesCommon* RequestCommon() override;
    AppUpdates* RequestUpdates() override { return Updates(); }
    AppUpdatesSession* RequestUpdatesSession() override { return this; }
    IIoMux* RequestIoMux() override;
    const char* RequestSrc() const override { return src; }
    unsigned long long RequestSessionNumber() const override { return SessionId(); }
    unsigned long long RequestKey() const override { return key; }

    Messages* const instance;
    // Goes with the session's HTTP file requests; never sent except in replies to this session.
    unsigned long long key = 0;
    bool Closed() const { return closed; }
    bool IsAppObject() const { return isAppObject; }
    bool Admin() const { return admin; }
    const char* AppObject() const { return appobj; }
    const char* Host() const { return host; }
    // Where this session's client reaches the instance over HTTP: "http" or
    // "https", "://", the host the client used and the instance's web path.
    std::string WebAddress() const;

private:
    void Begin(MessagesRequest* request);
    void Destroy();

    MessagesRequest* current = nullptr;
    char* src = nullptr;
    bool closed = false;
    char* host;
    char* appobj = nullptr;
    bool isAppObject = false;
    bool admin = false;
    btree* userSessions = nullptr;
};

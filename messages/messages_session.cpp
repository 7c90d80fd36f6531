#include "messages/messages_session.h"

#include <openssl/rand.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>

#include "json/json_io.h"
#include "messages/messages.h"
#include "messages/requests/dispatch.h"
#include "messages/requests/messages_request.h"
#include "messages/requests/session.h"
#include "runtime/assert.h"

namespace {

char* Copy(const char* s)
{
    return s ? strdup(s) : nullptr;
}

int Compare(unsigned long long a, unsigned long long b)
{
    return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

unsigned long long MessagesRandomKey()
{
    unsigned r[2];
    if (RAND_bytes(reinterpret_cast<unsigned char*>(r), sizeof(r)) != 1) {
        std::random_device device;
        r[0] = device();
        r[1] = device();
    }
    return (unsigned long long)r[0] << 20 | r[1];
}

MessagesUserSession::MessagesUserSession(unsigned long long session, const char* user, unsigned long long key)
    : session(session), user(strdup(user ? user : "")), key(key)
{
}

MessagesUserSession::~MessagesUserSession()
{
    free(user);
}

int MessagesUserSession::btree_compare(void* other)
{
    return Compare(*static_cast<unsigned long long*>(other), session);
}

int MessagesUserSession::btree_compare(btree* other)
{
    return Compare(static_cast<MessagesUserSession*>(other)->session, session);
}

MessagesSession::MessagesSession(Messages* instance, IWebserverPlugin* plugin, const char* host)
    : AppUpdatesSession(instance, plugin, instance, instance), MessagesUser(""), instance(instance),
      host(strdup(host ? host : ""))
{
    instance->AddSession(this);
    key = MessagesRandomKey();
}

MessagesSession::~MessagesSession()
{
    ASSERT(!current, "MessagesSession deleted with a current request");
    free(host);
    free(src);
    free(appobj);
    instance->RemoveSession(this);
    while (userSessions) {
        btree* first = userSessions;
        userSessions = btree::btree_get(userSessions, first);
        delete static_cast<MessagesUserSession*>(first);
    }
}

int MessagesSession::btree_compare(void* other)
{
    return Compare(*static_cast<unsigned long long*>(other), SessionId());
}

int MessagesSession::btree_compare(btree* other)
{
    return Compare(static_cast<MessagesSession*>(other)->SessionId(), SessionId());
}

const char* MessagesSession::AppWebsocketPassword()
{
    return instance->AppWebsocketPassword();
}

const char* MessagesSession::AppWebsocketInstanceDomain()
{
    return instance->GetAppDomain();
}

void MessagesSession::AppWebsocketAppInfo(const char* app, json_io& doc, unsigned short obj)
{
    if (!strcmp(app, "solvantique-messages-api")) {
        unsigned short apis = doc.add_object(obj, "apis");
        unsigned short discussion = doc.add_object(apis, "com.solvantique.discussion");
        unsigned short info = doc.add_object(discussion, "info");
        doc.add_string(info, "url", "solvantique-discussion.htm");
        doc.add_object(apis, "com.solvantique.messages");
        doc.add_bool(obj, "hidden", true);
    }
    else if (!strcmp(app, "solvantique-topic") || !strcmp(app, "solvantique-messages")) {
        doc.add_bool(obj, "presence", true);
    }
}

bool MessagesSession::AppWebsocketConnectComplete(json_io& msg, unsigned short info)
{
    const char* domain = instance->GetAppDomain() ? instance->GetAppDomain() : "";
    const char* loginDomain = JsonApiUserDomain() ? JsonApiUserDomain() : "";
    SetSip(JsonApiUserSip());
    SetDn(JsonApiUserDn());

    unsigned short apps = info == json_io::NONE ? json_io::NONE : msg.get_array(info, "apps");
    unsigned short last = 0;
    for (unsigned short app; apps != json_io::NONE && (app = msg.get_object(apps, last)) != json_io::NONE;) {
        const char* name = msg.get_string(app, "name");
        if (!name) continue;
        char* topic = strdup(name);
        // An app of our own domain is known by its name alone; a "~" suffix
        // is no part of the name (AddTopic would cut it too).
        if (char* tilde = strchr(topic, '~')) *tilde = 0;
        char* at = strchr(topic, '@');
        if (at && !strcmp(at + 1, domain)) *at = 0;
        AddTopic(topic, msg.get_string(app, "dn"), 0, false);
        free(topic);
    }

    if (strcmp(loginDomain, domain)) {
        char qualified[256];
        snprintf(qualified, sizeof(qualified), "%s@%s", MessagesUser::sip, loginDomain);
        SetSip(qualified);
    }
    char* personal = strdup(MessagesUser::sip);
    AddTopic(personal, MessagesUser::dn, 0, false);
    free(personal);

    const char* object = info == json_io::NONE ? nullptr : msg.get_string(info, "appobj");
    if (object) {
        isAppObject = !strcmp(object, MessagesUser::sip);
        appobj = strdup(object);
        if (char* tilde = strchr(appobj, '~')) {
            admin = !strcmp(tilde, "~admin");
            *tilde = 0;
        }
        char* topic = strdup(appobj);
        AddTopic(topic, msg.get_string(info, "appdn"), 0, false);
        free(topic);
    }

    unsigned short groups = info == json_io::NONE ? json_io::NONE : msg.get_array(info, "groups");
    last = 0;
    for (const char* group; groups != json_io::NONE && (group = msg.get_string(groups, last));) AddGroup(group);

    // Messages wait until the user's topics are complete.
    Begin(new InitSession(this, this));
    return false;
}

void MessagesSession::Begin(MessagesRequest* request)
{
    ASSERT(!current, "MessagesSession request while another is current");
    current = request;
    request->Begin();
}

void MessagesSession::AppWebsocketMessage(json_io& msg, unsigned short base, const char* mt, const char* msgSrc)
{
    free(src);
    src = Copy(msgSrc);
    const MessagesDispatchRow* row = MessagesDispatchFind(mt, admin);
    MessagesRequest* request = row ? row->create(*this, msg, base) : nullptr;
    // Unknown, refused or done already: no reply, and the next message may come.
    if (!request) return AppWebsocketMessageComplete();
    Begin(request);
}

void MessagesSession::ResponseSent()
{
    if (current) current->ResponseSent();
}

void MessagesSession::RequestSend(json_io& msg)
{
    SendResponse(msg);
}

void MessagesSession::RequestEnded(MessagesRequest* request)
{
    ASSERT(request == current, "MessagesSession::RequestEnded of a request that is not current");
    current = nullptr;
    delete request;
    if (closed) return Destroy();
    AppWebsocketMessageComplete();
}

std::string MessagesSession::WebAddress() const
{
    IWebsocket* socket = AppWebsocketSocket();
    bool encrypted = socket && socket->IsEncryptedConnection();
    return std::string(encrypted ? "https://" : "http://") + host + instance->WebPath();
}

IDatabase* MessagesSession::RequestDatabase() const
{
    return instance->UsableDatabase();
}

IDatabase* MessagesSession::RequestReadDatabase() const
{
    return instance->ReadDatabase();
}

MessagesCommon* MessagesSession::RequestCommon()
{
    return instance;
}

IIoMux* MessagesSession::RequestIoMux()
{
    return instance->GetIoMux();
}

void MessagesSession::Destroy()
{
    // A stopping instance may be waiting for its last session.
    Messages* owner = instance;
    delete this;
    owner->TryStop();
}

void MessagesSession::AppWebsocketClosed()
{
    closed = true;
    // Updates no longer reach this session's filters from here on.
    instance->keptCounts.Keep(this, Sip(), isAppObject ? MessagesReadableTopics() : MessagesReadableTopics(*this));
    if (current) current->SessionClosed();
    else Destroy();
}

MessagesUserSession* MessagesSession::FindUserSession(unsigned long long number) const
{
    return static_cast<MessagesUserSession*>(btree::btree_find(userSessions, &number));
}

void MessagesSession::RemoveUserSession(unsigned long long number)
{
    MessagesUserSession* found = FindUserSession(number);
    if (!found) return;
    userSessions = btree::btree_get(userSessions, found);
    delete found;
}

void MessagesSession::PutUserSession(MessagesUserSession* userSession)
{
    RemoveUserSession(userSession->session);
    userSessions = btree::btree_put(userSessions, userSession);
}

unsigned long long MessagesSession::CheckUserSession(unsigned long long number, const char* user,
                                                     unsigned long long& userKey) const
{
    if (!isAppObject) return 0;
    MessagesUserSession* found = FindUserSession(number);
    if (!found || !user || strcmp(found->user, user)) return 0;
    userKey = found->key;
    return number;
}

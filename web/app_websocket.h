#pragma once

#include <stddef.h>

#include "runtime/istd_list.h"
#include "web/json_api.h"
#include "web/websocket.h"

class IInstanceLog;
class IWebserverPlugin;
class json_io;

// A reassembled message longer than this closes the connection. It is what a
// json_io document can represent, and it bounds what one session holds.
const size_t APP_WEBSOCKET_MAX_MESSAGE = 65535;
// A session key as hex with its NUL.
const size_t APP_WEBSOCKET_KEY_SIZE = 65;

// One accepted websocket as a JSON message connection with the app login.
// Exactly one message is handled at a time: the next receive is issued only
// when the current message is finished, by the class itself for the
// handshake and built-in messages, else by AppWebsocketMessageComplete (or
// JsonApiMessageComplete). The subclass deletes the object in
// AppWebsocketClosed and not before: the websocket holds a pointer to it
// until then.
class AppWebsocket : public UWebsocket, public IJsonApiConnection {
public:
    // With a plugin, accepts the websocket it is offering right now.
    AppWebsocket(IWebserverPlugin* plugin, IInstanceLog* log, JsonApiContext* jsonApiContext);
    ~AppWebsocket() override;

    void WebsocketAcceptComplete(IWebsocket* websocket) override;
    void WebsocketSendResult(IWebsocket* websocket) override;
    void WebsocketRecvResult(IWebsocket* websocket, void* buffer, size_t len, bool isText, bool isFragment) override;
    void* WebsocketRecvBuffer(size_t len) override;
    void WebsocketRecvCanceled(IWebsocket* websocket, void* buffer) override;
    void WebsocketCloseComplete(IWebsocket* websocket, ws_close_reason_t reason) override;

    // Null from the first makes every login asynchronous (AppWebsocketLogin).
    // The second is tried when the first does not match, for a login domain.
    virtual const char* AppWebsocketPassword() { return nullptr; }
    virtual const char* AppWebsocketPassword(const char*) { return nullptr; }
    virtual const char* AppWebsocketInstanceDomain() { return nullptr; }
    // Every message that is neither built in nor for an API, after login.
    // msg and its strings live only for this call. The subclass may send,
    // close, and call AppWebsocketMessageComplete now or later; it must not
    // delete the object here.
    virtual void AppWebsocketMessage(json_io& msg, unsigned short base, const char* mt, const char* src) = 0;
    // data lives only for this call; the next message is read afterwards.
    virtual void AppWebsocketBinaryMessage(void*, int) {}
    // Fill the object obj of the "AppInfoResult"; whatever is added must
    // stay valid after the call (it is encoded after it returns).
    virtual void AppWebsocketAppInfo(const char*, json_io&, unsigned short) {}
    virtual void AppWebsocketServiceInfo(const char*, json_io&, unsigned short) {}
    virtual const char* AppWebsocketDeviceAppType(const char*) { return nullptr; }
    // A login waits for its password: answer later with
    // AppWebsocketLoginComplete, then AppWebsocketMessageComplete. info is
    // the index of the "info" object or 0xffff.
    virtual void AppWebsocketLogin(json_io&, unsigned short) {}
    // After a successful login; false holds receiving until AppWebsocketMessageComplete.
    virtual bool AppWebsocketConnectComplete(json_io&, unsigned short) { return true; }
    // The websocket is gone; the subclass may delete the object here.
    virtual void AppWebsocketClosed() = 0;
    virtual bool AppWebsocketApiPermission(const char*) { return true; }
    // One of the subclass's own sends has completed; it paces its queue on this.
    virtual void AppWebsocketSendResult() = 0;
    // Another party asks to verify a login it saw. The strings live only for
    // this call; an override answers with AppWebsocketCheckLoginComplete.
    virtual void AppWebsocketCheckLogin(const char* src, const char* app, const char* domain, const char* challenge,
                                        const char* digest);
    virtual const char* AppWebsocketBuildString() { return nullptr; }

    // Hex of RC4 over data keyed with seed:session key; outLen > 2 * strlen(data).
    void AppWebsocketEncrypt(const char* seed, const char* data, char* out, size_t outLen) override;
    // The reverse; outLen > strlen(hex) / 2. Text that is not hex gives "".
    void AppWebsocketDecrypt(const char* seed, const char* hex, char* out, size_t outLen) override;
    // SHA-256 of seed:session key:data as hex; outLen >= 65.
    void AppWebsocketHash(const char* seed, const char* data, char* out, size_t outLen) override;

    void RegisterJsonApi(JsonApi* api) override;
    void UnRegisterJsonApi(JsonApi* api) override;
    void JsonApiMessage(json_io& msg, char* buffer) override;
    void JsonApiMessageText(const char* text) override;
    void JsonApiMessageComplete() override;
    bool JsonApiPermission(const char* api) override;
    const char* JsonApiUserDomain() override { return domain; }
    const char* JsonApiUserSip() override { return sip; }
    const char* JsonApiUserDn() override { return dn; }
    const char* JsonApiUserGuid() override { return guid; }
    const char* JsonApiApp() override { return app; }
    const char* JsonApiInfo() override { return info; }

    // Sends for the subclass; each yields one AppWebsocketSendResult. Dropped
    // once the websocket is closing or gone. buffer must hold the encoded text.
    void AppWebsocketMessageSend(json_io& msg, char* buffer);
    void AppWebsocketMessageSendText(const char* text);
    void AppWebsocketMessageSendBinary(char* data, int len);
    void AppWebsocketMessageComplete();
    // Bytes enough to encode the item with everything in it, NUL included.
    static size_t EncodedBound(const json_io& doc, unsigned short item);
    // Finishes an asynchronous login; on success copies the session key into
    // keyOut (at most keyOutLen bytes with the NUL) when it is given.
    bool AppWebsocketLoginComplete(const char* password, char* keyOut = nullptr, unsigned keyOutLen = 0);
    void AppWebsocketCheckLoginComplete(const char* src, const char* app, const char* domain, const char* challenge,
                                        const char* digest, const char* password);
    void AppWebsocketClose();

    bool AppWebsocketLoggedIn() const { return loggedIn; }
    IWebsocket* AppWebsocketSocket() const { return websocket; }

protected:
    IInstanceLog* log;
    JsonApiContext* jsonApiContext;

private:
    // ACCEPTING until the webserver confirms; CLOSING after our Close; CLOSED
    // when the websocket is gone.
    enum State { ACCEPTING, OPEN, CLOSING, CLOSED };
    // IDLE: no receive and no message; PENDING: one receive outstanding;
    // BUSY: a message (or a fragment) is being handled.
    enum Reader { READ_IDLE, READ_PENDING, READ_BUSY };

    void SetState(State next);
    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void Receive();
    void Next();
    void Error();
    bool Collect(char*& text, size_t& len, bool& isText, bool isFragment);
    void DropPartial();
    void Dispatch(char* text, size_t len, bool isText);
    void DispatchApi(json_io& msg, unsigned short base, const char* mt, const char* src, const char* api);
    bool Send(const void* data, size_t len, bool isText);
    // Our own answers, in a buffer sized for the document.
    bool SendDocument(json_io& doc);

    void CheckBuild(json_io& msg, unsigned short base);
    void Challenge();
    void Login(json_io& msg, unsigned short base);
    bool LoginMatches(const char* password, const char* digest);
    void LoginSucceeded(const char* password);
    void CheckLogin(json_io& msg, unsigned short base);
    void AppInfo(json_io& msg, unsigned short base);
    void Test(const char* src);
    void ClearIdentity();

    IWebsocket* websocket = nullptr;
    // The plugin's handler points at us from the constructor on.
    bool offered;
    State state = ACCEPTING;
    Reader reader = READ_IDLE;
    unsigned id;

    char challenge[17] = {};
    char* pendingDigest = nullptr;
    char* domain = nullptr;
    char* sip = nullptr;
    char* guid = nullptr;
    char* dn = nullptr;
    char* app = nullptr;
    char* info = nullptr;
    bool loggedIn = false;

    char* partial = nullptr;
    size_t partialLen = 0;
    size_t partialSize = 0;
    bool partialText = false;

    unsigned sendCount = 0;
    char sessionKey[APP_WEBSOCKET_KEY_SIZE] = {};

    istd::list apis;
};

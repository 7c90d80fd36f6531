// Arbitrary PBX messages into a logged-in session that has sent "PbxInfo",
// one websocket message per line; the session routes those with "api" to
// the link. A line "!" confirms one send, so queued badges move on. The
// instance has no database: calls begin, are refused or released, and the
// link takes whatever is left when the connection ends.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fake_websocket.h"
#include "json/json_io.h"
#include "messages/messages_common.h"
#include "pbx/pbx_signalings.h"
#include "runtime/instance_log.h"
#include "runtime/iomux.h"
#include "web/app_updates.h"
#include "web/app_updates_session.h"

namespace {

class Session : public AppUpdatesSession {
public:
    Session(AppUpdates* updates, IInstanceLog* log, MessagesCommon* common)
        : AppUpdatesSession(updates, nullptr, log, nullptr), common(common)
    {
    }
    const char* AppWebsocketPassword() override { return "pw"; }
    const char* AppWebsocketInstanceDomain() override { return "d"; }
    void AppWebsocketMessage(json_io&, unsigned short, const char* mt, const char*) override
    {
        if (!strcmp(mt, "PbxInfo")) common->pbxSignalings->createPbxSignaling(this);
        AppWebsocketMessageComplete();
    }
    void AppWebsocketClosed() override {}
    MessagesCommon* common;
};

class Common : public MessagesCommon {
public:
    Common() : MessagesCommon(nullptr) {}
    IIoMux* GetIoMux() const override { return nullptr; }
    IDatabase* UsableDatabase() const override { return nullptr; }
    IDbFiles* GetDbFiles() const override { return nullptr; }
};

void Deliver(FakeWebsocket* ws, const std::string& text)
{
    ws->Deliver(text.data(), text.size(), true, false);
}

IIoMux* iomux = IIoMux::Create();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    IInstanceLog log(0);
    AppUpdates updates(iomux);
    Common* common = new Common;
    Session* session = new Session(&updates, &log, common);
    FakeWebsocket* ws = new FakeWebsocket(session, false);
    session->WebsocketAcceptComplete(ws);
    Deliver(ws, "{\"mt\":\"AppChallenge\"}");
    std::string digest = Hex("a:d:u:g:n:" + ws->challenge + ":pw");
    Deliver(ws, "{\"mt\":\"AppLogin\",\"app\":\"a\",\"domain\":\"d\",\"sip\":\"u\",\"guid\":\"g\",\"dn\":\"n\","
                "\"digest\":\"" + digest + "\"}");
    Deliver(ws, "{\"mt\":\"PbxInfo\"}");

    std::string input((const char*)data, size);
    for (size_t at = 0; at <= input.size();) {
        size_t end = input.find('\n', at);
        if (end == std::string::npos) end = input.size();
        std::string line = input.substr(at, end - at);
        at = end + 1;
        if (line == "!") ws->Confirm();
        else Deliver(ws, line);
    }
    ws->End();
    delete session;
    delete common;
    return 0;
}

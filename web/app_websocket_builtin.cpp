// The messages that AppWebsocket answers itself once logged in or not:
// "CheckBuild", "AppInfo" and "Test".
#include <ctype.h>
#include <string.h>

#include <string>

#include "json/json_io.h"
#include "runtime/build_info.h"
#include "web/app_websocket.h"

void AppWebsocket::CheckBuild(json_io& msg, unsigned short base)
{
    const char* url = msg.get_string(base, "url");
    const char* build = AppWebsocketBuildString();
    if (!build) build = messagesBuild;

    // A client page lives below /<build>/; one loaded from another build's
    // directory is told where the current one is.
    std::string rewritten;
    if (url && *url && *url != '?') {
        size_t end = strcspn(url, "?");
        const char* last = nullptr;
        const char* previous = nullptr;
        for (size_t i = 0; i < end; i++) {
            if (url[i] != '/') continue;
            previous = last;
            last = url + i;
        }
        if (previous && previous != url && isdigit((unsigned char)previous[1])) {
            std::string reference = std::string("/") + build + "/";
            size_t segment = last - previous + 1;
            if (segment != reference.size() || memcmp(previous, reference.data(), segment)) {
                rewritten = std::string(url, previous - url) + "/" + build + "/" + (last + 1);
            }
        }
    }

    json_io result(nullptr);
    result.add_object(json_io::NONE, nullptr);
    result.add_string(0, "mt", "CheckBuildResult");
    // Beyond a value's 16-bit length the answer could not be sent anyway.
    if (!rewritten.empty() && rewritten.size() < 0xffff) result.add_string(0, "url", rewritten.c_str());
    SendDocument(result);
}

void AppWebsocket::AppInfo(json_io& msg, unsigned short base)
{
    const char* name = msg.get_string(base, "app");
    if (!name || !*name) name = app;
    if (!name || !*name) return;

    json_io result(nullptr);
    result.add_object(json_io::NONE, nullptr);
    result.add_string(0, "mt", "AppInfoResult");
    result.add_string(0, "app", name);
    Log("AppWebsocketAppInfo app:%s", name);
    AppWebsocketAppInfo(name, result, result.add_object(0, "info"));
    Log("AppWebsocketServiceInfo app:%s", name);
    AppWebsocketServiceInfo(name, result, result.add_object(0, "serviceInfo"));
    result.add_string(0, "deviceapp", AppWebsocketDeviceAppType(name));
    SendDocument(result);
}

void AppWebsocket::Test(const char* src)
{
    json_io result(nullptr);
    result.add_object(json_io::NONE, nullptr);
    result.add_string(0, "mt", "TestResult");
    result.add_string(0, "src", src);
    if (SendDocument(result)) sendCount++;
}

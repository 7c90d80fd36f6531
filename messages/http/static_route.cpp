#include "messages/http/static_route.h"

#include <string.h>

#include <string>

#include "runtime/build_info.h"
#include "web/webserver_get.h"
#include "web/webserver_plugin.h"

namespace {

const char* const APP_PAGE = "solvantique-messages.htm";

// The not-found page: sent once, closed after its send result.
class MessagesNotFoundPage : public UWebserverGet {
public:
    explicit MessagesNotFoundPage(const std::string& appPage)
    {
        page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width\"><title>Not found</title></head>\n"
               "<body><main><h1>Not found</h1><p>There is no such page here. <a href=\"" +
               appPage + "\">Open Messages</a></p></main></body></html>\n";
    }
    void WebserverGetRequestAcceptComplete(IWebserverGet* get) override
    {
        get->SetTransferInfo(WSP_RESPONSE_HTML, page.size());
        // The plugin link has no status of its own for a page; the webserver
        // takes it from this field, as gateways do.
        get->SetHeaderField("Status", "404 Not Found");
        get->SetHeaderField("Cache-Control", "no-store");
        get->Send(page.data(), page.size());
    }
    void WebserverGetSendResult(IWebserverGet* get) override { get->Close(); }
    void WebserverGetCloseComplete(IWebserverGet* get) override
    {
        delete get;
        delete this;
    }

private:
    std::string page;
};

}  // namespace

void MessagesRouteStatic(IWebserverPlugin* link, const char* resource)
{
    size_t pathLen = strcspn(resource, "?");
    const char* query = resource + pathLen;
    size_t buildLen = strlen(messagesBuild);
    // Only a whole first segment names the current build.
    bool inBuild = pathLen > buildLen && resource[0] == '/' && !strncmp(resource + 1, messagesBuild, buildLen) &&
                   (pathLen == 1 + buildLen || resource[1 + buildLen] == '/');
    // Relative targets keep working behind whatever prefix the platform puts in front.
    if (pathLen == 1 || (inBuild && pathLen == 1 + buildLen)) {
        link->Redirect(("./" + std::string(messagesBuild) + "/" + APP_PAGE + query).c_str());
        return;
    }
    if (inBuild && pathLen == 2 + buildLen) {
        link->Redirect((APP_PAGE + std::string(query)).c_str());
        return;
    }
    if (link->BuildRedirect(resource, messagesBuild, (unsigned)buildLen)) return;
    // The link is relative to the folder the browser is in.
    std::string up;
    for (size_t i = 2 + buildLen; i < pathLen; i++)
        if (resource[i] == '/') up += "../";
    link->Accept(new MessagesNotFoundPage(up + APP_PAGE));
}

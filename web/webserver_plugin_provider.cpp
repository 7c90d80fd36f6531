#include "web/httpfile.h"
#include "web/webserver_plugin_link.h"

// An owner that leaves a listen callback alone refuses what it is offered.
void UWebserverPlugin::WebserverPluginClose(IWebserverPlugin*, wsp_close_reason_t, bool) {}

void UWebserverPlugin::WebserverPluginHttpListenResult(IWebserverPlugin* plugin, ws_request_type_t, char*,
                                                       const char*, unsigned long long)
{
    plugin->Cancel(WSP_CANCEL_NOT_FOUND);
}

void UWebserverPlugin::WebserverPluginPassthroughListenResult(IWebserverPlugin* plugin, char*, const char*,
                                                              unsigned long long)
{
    plugin->Cancel(WSP_CANCEL_NOT_FOUND);
}

void UWebserverPlugin::WebserverPluginWebsocketListenResult(IWebserverPlugin* plugin, const char*, const char*,
                                                            const char*)
{
    plugin->WebsocketAccept(nullptr);
}

namespace {
class WebserverPluginProvider : public IWebserverPluginProvider {
public:
    IWebserverPlugin* CreateWebserverPlugin(IIoMux* iomux, ISocketProvider* localSocketProvider,
                                            UWebserverPlugin* owner, const char* localSocketPath,
                                            const char* appWebRoot, IInstanceLog* log) override
    {
        return new WebserverPlugin(iomux, localSocketProvider, owner, localSocketPath, appWebRoot, log);
    }
};
}  // namespace

IWebserverPluginProvider* CreateWebserverPluginProvider()
{
    HttpFiles::RegisterBuiltIn();
    return new WebserverPluginProvider();
}

#include "service/app_service.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "json/json_io.h"
#include "runtime/build_info.h"
#include "runtime/debug.h"
#include "service/app_args.h"
#include "service/app_instance.h"

namespace {
const unsigned short NONE = 0xFFFF;

// "path/file" with the path's leading slash dropped, cut to 1023 characters.
void ControlPath(char* out, const char* path, const char* file)
{
    if (!file) {
        out[0] = 0;
        return;
    }
    const char* p = path ? path : "";
    if (*p == '/') p++;
    snprintf(out, 1024, "%s/%s", p, file);
}
}  // namespace

AppService::AppService(IIoMux* iomux, ISocketProvider* localSocketProvider, AppServiceArgs* args)
    : IInstanceLog(args->logFlags), iomux(iomux), localSocketProvider(localSocketProvider),
      serviceId(strdup(args->serviceId ? args->serviceId : "")), dns(args->dns ? strdup(args->dns) : nullptr),
      socket(iomux, localSocketProvider, this, args->serviceId, args->manager)
{
    if (args->disableHexdumps) debug->SetHexdump(false);
    if (args->logSize > 0) debug->SetLogFileSize((long)args->logSize);
    Log(LOG_APP, "AppService::AppService %s", messagesBuild);
}

AppService::~AppService()
{
    while (AppInstance* i = First()) {
        instances = btree::btree_get(instances, i);
        instanceCount--;
        delete i;
    }
    free(serviceId);
    free(dns);
    free(certificate);
}

AppInstance* AppService::First()
{
    return static_cast<AppInstance*>(btree::btree_find_right(instances, nullptr));
}

AppInstance* AppService::Next(AppInstance* after)
{
    return static_cast<AppInstance*>(btree::btree_find_next_right(instances, (void*)after->GetKey()));
}

AppInstance* AppService::FindInstance(const char* appName, const char* appDomain)
{
    if (!appName || !appDomain) return nullptr;
    char* key = AppInstance::GenerateKey(appName, appDomain);
    AppInstance* i = static_cast<AppInstance*>(btree::btree_find(instances, key));
    free(key);
    return i;
}

void AppService::AppStart(AppInstanceArgs* args)
{
    if (!args->appName || !*args->appName || !args->appDomain || !*args->appDomain) {
        Log(LOG_APP, "AppService::AppStart refused: name and domain are required");
        return;
    }
    Log(LOG_APP, "AppService::AppStart %s@%s", args->appName, args->appDomain);
    if (FindInstance(args->appName, args->appDomain)) {
        Log(LOG_APP, "AppService::AppStart %s@%s already running", args->appName, args->appDomain);
        return;
    }
    if (shuttingDown) {
        Log(LOG_APP, "AppService::AppStart %s@%s refused while shutting down", args->appName, args->appDomain);
        return;
    }
    AppInstance* instance = CreateInstance(args);
    instances = btree::btree_put(instances, instance);
    instanceCount++;
    instance->ServerCertificateUpdate((const unsigned char*)certificate, certificateLength);
}

void AppService::AppStop(const char* appName, const char* appDomain)
{
    AppInstance* instance = FindInstance(appName, appDomain);
    if (!instance) {
        Log(LOG_APP, "AppService::AppStop %s@%s: no such instance", appName ? appName : "", appDomain ? appDomain : "");
        return;
    }
    Log(LOG_APP, "AppService::AppStop %s@%s", appName, appDomain);
    instance->Stop();
}

void AppService::AppStopped(AppInstance* instance)
{
    Log(LOG_APP, "AppService::AppStopped %s@%s", instance->GetAppName(), instance->GetAppDomain());
    instances = btree::btree_get(instances, instance);
    instanceCount--;
    delete instance;
    if (shuttingDown) {
        StopAll();
        CheckAppsClosed();
    }
}

void AppService::StopAll()
{
    if (stopping) return;
    stopping = true;
    // The next instance is looked up first: Stop() may remove the current one.
    for (AppInstance* i = First(); i;) {
        AppInstance* next = Next(i);
        i->Stop();
        i = next;
    }
}

void AppService::CheckAppsClosed()
{
    if (!instances) socket.AppsClosed();
}

void AppService::AppServiceShutdown()
{
    Log(LOG_APP, "AppService::Shutdown");
    shuttingDown = true;
    StopAll();
    CheckAppsClosed();
}

void AppService::AppServiceShutdownTimeout()
{
    Log(LOG_APP, "AppService::ShutdownTimeout %s %p", serviceId, (void*)this);
    for (AppInstance* i = First(); i; i = Next(i)) i->AppInstanceShutdownTimeout();
}

void AppService::UpdateServerCertificate(const char* cert)
{
    free(certificate);
    certificate = nullptr;
    certificateLength = 0;
    if (cert && *cert) {
        certificate = strdup(cert);
        certificateLength = strlen(cert);
    }
    for (AppInstance* i = First(); i; i = Next(i))
        i->ServerCertificateUpdate((const unsigned char*)certificate, certificateLength);
}

void AppService::AppSetLogFlags(const char* appName, const char* appDomain, unsigned long long flags)
{
    AppInstance* instance = FindInstance(appName, appDomain);
    if (instance) instance->logFlags = flags;
}

void AppService::SetAllInstancesLogFlags(unsigned long long flags)
{
    logFlags = flags;
    for (AppInstance* i = First(); i; i = Next(i)) i->logFlags = flags;
}

void AppService::UpdateAppPlatformDNSName(const char* name)
{
    free(dns);
    dns = name ? strdup(name) : nullptr;
}

void AppService::AppDomain(const char* appName, const char* appDomain, const char* domain, const char* pwd)
{
    AppInstance* instance = FindInstance(appName, appDomain);
    if (instance) instance->SetAppDomain(domain, pwd);
    else Log(LOG_APP, "AppService::AppDomain %s@%s: no such instance", appName, appDomain);
}

void AppService::SendStatusUpdate(AppInstance* instance, const char* webserverPath, bool status)
{
    if (!socket.IsConnected()) return;
    istd::list plugins;
    AppInstancePlugins(&plugins);
    char out[65536];
    char tmp[4 * 1024 * 4];
    char* t = tmp;
    json_io msg(out);
    unsigned short root = msg.add_object(NONE, nullptr);
    msg.add_string(root, "mt", "AppStatusUpdate");
    msg.add_string(root, "appName", instance->GetAppName());
    msg.add_string(root, "appDomain", instance->GetAppDomain());
    msg.add_bool(root, "status", status);
    unsigned short controls = msg.add_array(root, "controls");
    for (istd::listElement* e = plugins.front(); e; e = e->goNext()) {
        AppInstancePlugin* p = static_cast<AppInstancePlugin*>(e);
        // Three composed paths per control; stop before the scratch area runs out.
        if (t + 3 * 1024 > tmp + sizeof(tmp)) break;
        unsigned short c = msg.add_object(controls, nullptr);
        ControlPath(t, webserverPath, p->GetPlugin());
        msg.add_string(c, "uri", t);
        t += strlen(t) + 1;
        ControlPath(t, webserverPath, p->GetIcon());
        msg.add_string(c, "png", t);
        t += strlen(t) + 1;
        ControlPath(t, webserverPath, p->GetLangFile());
        msg.add_string(c, "lang", t);
        t += strlen(t) + 1;
        msg.add_string(c, "api", p->GetApi());
        msg.add_bool(c, "wildcard", p->IsWildcard());
    }
    socket.SendMessage(out, msg.encode());
    while (istd::listElement* e = plugins.front()) delete e;
}

void AppService::SendAlarm(AppInstance* instance, int type, unsigned code, const char* severity, const char* text,
                           const char* details)
{
    if (!socket.HasSocket()) return;
    char out[65536];
    char tmp[128];
    char* t = tmp;
    json_io msg(out);
    unsigned short root = msg.add_object(NONE, nullptr);
    msg.add_string(root, "mt", "AppAlarm");
    msg.add_string(root, "serviceID", serviceId);
    if (instance && instance->GetAppName() && instance->GetAppDomain()) {
        msg.add_string(root, "appName", instance->GetAppName());
        msg.add_string(root, "appDomain", instance->GetAppDomain());
    }
    msg.add_int(root, "type", type, t);
    msg.add_string(root, "severity", severity);
    msg.add_unsigned(root, "code", code & 0xFFFF, t);
    msg.add_ulong64(root, "time", (unsigned long long)time(nullptr), t);
    msg.add_string(root, "text", text);
    msg.add_string(root, "details", details);
    socket.SendMessage(out, msg.encode());
}

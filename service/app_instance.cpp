#include "service/app_instance.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "runtime/assert.h"
#include "runtime/debug.h"
#include "service/app_args.h"
#include "service/app_service.h"

namespace {
char* Dup(const char* s)
{
    return s ? strdup(s) : nullptr;
}
}  // namespace

AppInstancePlugin::AppInstancePlugin(const char* plugin, const char* icon, const char* langFile, const char* api,
                                     bool wildcard)
    : plugin(Dup(plugin)), icon(Dup(icon)), langFile(Dup(langFile)), api(Dup(api)), wildcard(wildcard)
{
}

AppInstancePlugin::~AppInstancePlugin()
{
    free(plugin);
    free(icon);
    free(langFile);
    free(api);
}

AppServiceApp::AppServiceApp(const char* name, bool websocketOnly) : name(Dup(name)), websocketOnly(websocketOnly) {}

AppServiceApp::~AppServiceApp()
{
    free(name);
}

char* AppInstance::GenerateKey(const char* appName, const char* appDomain)
{
    size_t len = strlen(appName) + strlen(appDomain) + 2;
    char* k = (char*)malloc(len);
    snprintf(k, len, "%s@%s", appName, appDomain);
    return k;
}

AppInstance::AppInstance(AppService* service, AppInstanceArgs* args)
    : IInstanceLog(args->logFlags), service(service)
{
    ASSERT(args->appName && args->appDomain, "AppInstance::AppInstance name and domain required");
    key = GenerateKey(args->appName, args->appDomain);
    appName = Dup(args->appName);
    appDomain = Dup(args->appDomain);
    appPassword = Dup(args->appPassword);
    webserver = Dup(args->webserver);
    webserverPath = Dup(args->webserverPath);
    dbHost = Dup(args->dbHost);
    dbName = Dup(args->dbName);
    dbUser = Dup(args->dbUser);
    dbPassword = Dup(args->dbPassword);
    service->SendStatusUpdate(this, webserverPath, true);
}

AppInstance::~AppInstance()
{
    service->SendStatusUpdate(this, webserverPath, false);
    for (char* s : {key, appName, appDomain, appPassword, webserver, webserverPath, dbHost, dbName, dbUser, dbPassword})
        free(s);
}

int AppInstance::btree_compare(void* k)
{
    return strcmp((const char*)k, key);
}

int AppInstance::btree_compare(btree* other)
{
    return strcmp(static_cast<AppInstance*>(other)->key, key);
}

void AppInstance::Log(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LogV(LOG_APP, fmt, ap);
    va_end(ap);
}

void AppInstance::SetAlarm(unsigned code, const char* severity, const char* text, const char* details)
{
    service->SendAlarm(this, 0, code, severity, text, details);
}

void AppInstance::ClearAlarm(unsigned code, const char* severity, const char* text, const char* details)
{
    service->SendAlarm(this, 1, code, severity, text, details);
}

void AppInstance::SendEvent(unsigned code, const char* severity, const char* text, const char* details)
{
    service->SendAlarm(this, 2, code, severity, text, details);
}

#pragma once

#include <stddef.h>

#include "runtime/btree.h"
#include "runtime/instance_log.h"
#include "runtime/istd_list.h"

class AppService;
class AppInstanceArgs;

// One manager plug-in announced with an instance's status.
class AppInstancePlugin : public istd::listElement {
public:
    AppInstancePlugin(const char* plugin, const char* icon, const char* langFile, const char* api, bool wildcard);
    ~AppInstancePlugin() override;
    const char* GetPlugin() const { return plugin; }
    const char* GetIcon() const { return icon; }
    const char* GetLangFile() const { return langFile; }
    const char* GetApi() const { return api; }
    bool IsWildcard() const { return wildcard; }

private:
    char* plugin;
    char* icon;
    char* langFile;
    char* api;
    bool wildcard;
};

// One app announced when the manager link comes up.
class AppServiceApp : public istd::listElement {
public:
    AppServiceApp(const char* name, bool websocketOnly = false);
    ~AppServiceApp() override;
    const char* GetName() const { return name; }
    bool IsWebsocketOnly() const { return websocketOnly; }

private:
    char* name;
    bool websocketOnly;
};

// Base of every app instance: its identity, its copied arguments and its
// status towards the manager. Keyed in the service by "name@domain".
class AppInstance : public btree, public IInstanceLog {
public:
    AppInstance(AppService* service, AppInstanceArgs* args);
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;
    virtual void leak_check() {}
    ~AppInstance() override;
    const char* GetAppName() const override { return appName; }
    const char* GetAppDomain() const override { return appDomain; }
    // Starts an orderly stop; the instance reports AppService::AppStopped when done.
    virtual void Stop() = 0;
    virtual void AppInstanceShutdownTimeout() {}
    virtual void ServerCertificateUpdate(const unsigned char*, size_t) {}
    virtual void SetAppDomain(const char*, const char*) {}

    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    using IInstanceLog::Log;
    void SetAlarm(unsigned code, const char* severity, const char* text, const char* details);
    void ClearAlarm(unsigned code, const char* severity, const char* text, const char* details);
    void SendEvent(unsigned code, const char* severity, const char* text, const char* details);

    const char* GetKey() const { return key; }
    static char* GenerateKey(const char* appName, const char* appDomain);

protected:
    char* key;
    AppService* service;
    char* appName;
    char* appDomain;
    char* appPassword;
    char* webserver;
    char* webserverPath;
    char* dbHost;
    char* dbName;
    char* dbUser;
    char* dbPassword;
};

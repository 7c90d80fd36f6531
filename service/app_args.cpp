#include "service/app_args.h"

#include <stdlib.h>
#include <string.h>

const char* MatchOption(const char* arg, const char* name)
{
    if (arg[0] != '-' || arg[1] != '-') return nullptr;
    const char* eq = strchr(arg + 2, '=');
    if (!eq) return nullptr;
    size_t len = eq - (arg + 2);
    if (strlen(name) != len || memcmp(arg + 2, name, len) != 0) return nullptr;
    return eq + 1;
}

void AppServiceArgs::Clear()
{
    serviceId = nullptr;
    manager = nullptr;
    dns = nullptr;
    logFlags = 0;
    segfaulted = false;
    disableHexdumps = false;
    logSize = 0;
}

void AppServiceArgs::Parse(int argc, char* argv[], bool keep)
{
    if (!keep) Clear();
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const char* v;
        if (!strcmp(arg, "--segfaulted")) segfaulted = true;
        else if (!strcmp(arg, "--disable-hexdumps")) disableHexdumps = true;
        else if ((v = MatchOption(arg, "service-id"))) serviceId = v;
        else if ((v = MatchOption(arg, "manager"))) manager = v;
        else if ((v = MatchOption(arg, "dns"))) dns = v;
        else if ((v = MatchOption(arg, "log-flags"))) logFlags = strtoull(v, nullptr, 0);
        else if ((v = MatchOption(arg, "log-size"))) logSize = strtoll(v, nullptr, 10);
    }
}

void AppInstanceArgs::Clear()
{
    appName = appDomain = appPassword = webserver = webserverPath = nullptr;
    dbHost = dbName = dbUser = dbPassword = workingPath = nullptr;
    logFlags = 0;
}

void AppInstanceArgs::SetDefaults()
{
    appName = "messages";
    appDomain = "example.local";
    appPassword = "kfo";
    webserver = "/var/run/webserver/webserver";
    webserverPath = "/messages";
    dbHost = "";
    dbName = "messages";
    dbUser = "messages";
    dbPassword = "kfo";
}

void AppInstanceArgs::Parse(int argc, char* argv[], bool keep)
{
    if (!keep) Clear();
    static const struct {
        const char* name;
        const char* AppInstanceArgs::*field;
    } options[] = {
        {"app-name", &AppInstanceArgs::appName},         {"app-domain", &AppInstanceArgs::appDomain},
        {"app-password", &AppInstanceArgs::appPassword}, {"webserver", &AppInstanceArgs::webserver},
        {"webserver-path", &AppInstanceArgs::webserverPath}, {"db-host", &AppInstanceArgs::dbHost},
        {"db-name", &AppInstanceArgs::dbName},           {"db-user", &AppInstanceArgs::dbUser},
        {"db-password", &AppInstanceArgs::dbPassword},   {"working-path", &AppInstanceArgs::workingPath},
    };
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        const char* v;
        if ((v = MatchOption(arg, "log-flags"))) {
            if (*v) logFlags = strtoull(v, nullptr, 0);
            continue;
        }
        for (const auto& o : options) {
            if ((v = MatchOption(arg, o.name))) {
                if (*v) this->*o.field = v;
                break;
            }
        }
    }
}

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

bool AskedForHelp(int argc, char* argv[])
{
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) return true;
    }
    return false;
}

// Kept next to the parsers so that a new option is described where it is added.
const char* const appArgsUsage =
    "usage: messages [--manager=PATH] [--OPTION=VALUE]...\n"
    "Without --manager it starts one instance from the instance options below and runs until\n"
    "SIGTERM or Ctrl-C. Unknown options are ignored.\n"
    "The process:\n"
    "  --manager=PATH         the platform manager's Unix socket; the manager starts the instances\n"
    "                         (default: none, one instance of its own)\n"
    "  --service-id=ID        the name the service gives the manager (default messages)\n"
    "  --dns=NAME             the platform's DNS name (default: none)\n"
    "  --log-flags=MASK       what the process and the first instance log, 0x for hexadecimal (default 0)\n"
    "  --log-size=BYTES       the log's total size, kept in five files (default 5242880)\n"
    "  --disable-hexdumps     no hexdumps in the log (default: hexdumps on)\n"
    "  --segfaulted           accepted, nothing acts on it (default off)\n"
    "The instance started without a manager:\n"
    "  --app-name=NAME        the instance's app name (default messages)\n"
    "  --app-domain=DOMAIN    the domain it serves (default example.local)\n"
    "  --app-password=PW      the password apps and PBXs log in with (default kfo)\n"
    "  --webserver=PATH       the webserver's Unix socket for plugins (default /var/run/webserver/webserver)\n"
    "  --webserver-path=PATH  the URL path it is served under (default /messages)\n"
    "  --db-host=HOST[:PORT]  the PostgreSQL server (default: empty, the server's local socket)\n"
    "  --db-name=NAME         the database (default messages)\n"
    "  --db-user=NAME         the database user (default messages)\n"
    "  --db-password=PW       the database user's password (default kfo)\n"
    "  --working-path=DIR     the instance's working directory, unused (default: none)\n"
    "  -h, --help             prints this and exits\n"
    "It says on standard output when an instance is ready and when it has stopped. The log goes to\n"
    "/var/log/apps/<name of the executable>/ (standard error where that cannot be written).\n";

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

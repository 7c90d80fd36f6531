#pragma once

// The command line of the process, read into two records: one for the
// service, one for a first app instance. The records own nothing: strings
// point into argv (or into a decoded manager message).
class AppServiceArgs {
public:
    AppServiceArgs() { Clear(); }
    void Clear();
    void Parse(int argc, char* argv[], bool keep);

    const char* serviceId;
    const char* manager;
    const char* dns;
    unsigned long long logFlags;
    bool segfaulted;
    bool disableHexdumps;
    long long logSize;
};

class AppInstanceArgs {
public:
    AppInstanceArgs() { Clear(); }
    void Clear();
    // The defaults a process started by hand runs with.
    void SetDefaults();
    void Parse(int argc, char* argv[], bool keep);

    const char* appName;
    const char* appDomain;
    const char* appPassword;
    const char* webserver;
    const char* webserverPath;
    const char* dbHost;
    const char* dbName;
    const char* dbUser;
    const char* dbPassword;
    const char* workingPath;
    unsigned long long logFlags;
};

// "--name=value": the value when `arg` names option `name` exactly, else null.
const char* MatchOption(const char* arg, const char* name);

// "--help" or "-h" among the arguments. Everything else unknown stays ignored.
bool AskedForHelp(int argc, char* argv[]);

// What `messages --help` prints: every option of both records with its default.
extern const char* const appArgsUsage;

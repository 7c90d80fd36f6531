// platform-manager: starts and stops `messages` instances over the manager link.
//
//   platform-manager --socket=PATH [--exec=PATH/messages] [--service-arg=ARG]...
//                    [--instance=name=N,domain=D,password=P,path=/P,webserver=S,db-host=H,
//                                db-name=N,db-user=U,db-password=P,log-flags=F]...
//
// Without --exec it waits for a service started by hand with --manager=PATH.
// --help tells the rest. It says on standard output when it is ready, what
// the service sends it, and when it has stopped; that is its whole log.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>

#include "net/socket.h"
#include "platform/manager/platform_manager.h"
#include "runtime/debug.h"
#include "service/app_args.h"

namespace {

const char* const usage =
    "usage: platform-manager [--socket=PATH] [--exec=PATH/messages] [--service-arg=ARG]... [--instance=KEY=VALUE,...]...\n"
    "  --socket=PATH        where the service connects (default /tmp/platform-manager.sock)\n"
    "  --exec=PATH          starts this service executable with --manager=PATH and stops with it\n"
    "                       (default: none, wait for a service started by hand)\n"
    "  --service-arg=ARG    one more argument of the started service; repeatable (default: none)\n"
    "  --instance=KEY=VALUE,...\n"
    "                       an instance the service is told to start; repeatable (default: none). Keys and\n"
    "                       their defaults: name=messages, domain=example.local, password=kfo, path=/messages,\n"
    "                       webserver=/var/run/webserver/webserver, db-host= (the local socket),\n"
    "                       db-name=messages, db-user=messages, db-password=kfo, log-flags=0\n"
    "  -h, --help           prints this and exits\n"
    "SIGTERM or Ctrl-C stops the service first, then the manager. All it says goes to standard output.\n";

bool ParseInstance(const char* text, PlatformManager::Instance& i)
{
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        size_t eq = item.find('=');
        if (eq == std::string::npos) return false;
        std::string k = item.substr(0, eq), v = item.substr(eq + 1);
        if (k == "name") i.name = v;
        else if (k == "domain") i.domain = v;
        else if (k == "password") i.password = v;
        else if (k == "path") i.path = v;
        else if (k == "webserver") i.webserver = v;
        else if (k == "db-host") i.dbHost = v;
        else if (k == "db-name") i.dbName = v;
        else if (k == "db-user") i.dbUser = v;
        else if (k == "db-password") i.dbPassword = v;
        else if (k == "log-flags") i.logFlags = strtoull(v.c_str(), nullptr, 0);
        else return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    std::string socketPath = "/tmp/platform-manager.sock";
    std::string exec;
    std::vector<std::string> serviceArgs;
    std::vector<PlatformManager::Instance> instances;
    for (int n = 1; n < argc; n++) {
        const char* v;
        if (!strcmp(argv[n], "--help") || !strcmp(argv[n], "-h")) {
            fputs(usage, stdout);
            return 0;
        }
        if ((v = MatchOption(argv[n], "socket"))) socketPath = v;
        else if ((v = MatchOption(argv[n], "exec"))) exec = v;
        else if ((v = MatchOption(argv[n], "service-arg"))) serviceArgs.push_back(v);
        else if ((v = MatchOption(argv[n], "instance"))) {
            PlatformManager::Instance i;
            if (!ParseInstance(v, i)) {
                fprintf(stderr, "platform-manager: bad --instance=%s\n%s", v, usage);
                return 2;
            }
            instances.push_back(i);
        }
        else {
            fprintf(stderr, "platform-manager: unknown argument %s\n%s", argv[n], usage);
            return 2;
        }
    }

    IIoMux* iomux = IIoMux::Create(true, 0);
    ISocketProvider* local = CreateLocalSocketProvider();
    PlatformManager* manager = new PlatformManager(iomux, local, socketPath, instances);
    int rc = 0;
    if (!manager->Listen()) {
        fprintf(stderr, "platform-manager: cannot listen on %s\n", socketPath.c_str());
        rc = 1;
    }
    else if (!exec.empty() && !manager->StartChild(exec, serviceArgs)) {
        fprintf(stderr, "platform-manager: cannot start %s\n", exec.c_str());
        rc = 1;
    }
    else {
        printf("platform-manager: ready, listening on %s\n", socketPath.c_str());
        fflush(stdout);
        iomux->Run();
        rc = manager->ExitCode();
        // The loop ends only once the service is gone; the lines before say how.
        printf("platform-manager: stopped (the service %s), exit code %d\n", rc ? "failed" : "has ended", rc);
        fflush(stdout);
    }
    delete manager;
    delete local;
    delete iomux;
    return rc;
}

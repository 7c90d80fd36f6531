// The real programs started as a person or the platform would: the service
// under the manager, and alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/child_process.h"

using harness::Process;

TEST(platform_manager, runs_two_instances_and_stops_both_processes_on_sigterm)
{
    harness::TempDir dir;
    Process manager({PLATFORM_MANAGER_BIN, "--socket=" + dir / "manager",
                          std::string("--exec=") + MESSAGES_BIN, "--instance=name=alpha,domain=example.local,path=/alpha",
                          "--instance=name=beta,domain=example.local,path=/beta"});
    ASSERT_TRUE(manager.WaitFor("\"mt\":\"AppServiceInitConnection\""));
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"alpha\",\"appDomain\":\"example.local\",\"status\":true"));
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"beta\",\"appDomain\":\"example.local\",\"status\":true"));
    // No database answers here: each instance says so, and keeps trying.
    EXPECT_TRUE(manager.WaitFor("\"mt\":\"AppAlarm\""));
    EXPECT_TRUE(manager.WaitFor("\"text\":\"database unavailable\""));

    kill(manager.pid, SIGTERM);
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"alpha\",\"appDomain\":\"example.local\",\"status\":false"));
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"beta\",\"appDomain\":\"example.local\",\"status\":false"));
    ASSERT_TRUE(manager.WaitFor("\"mt\":\"AppServiceCloseComplete\""));
    ASSERT_TRUE(manager.WaitFor("exited (signal 0, code 0)"));
    EXPECT_EQ(manager.Stop(0), 0);
}

namespace {

// True once the process catches the signal; before its loop is set up the
// signal would kill it, however long a test waited.
bool Catches(pid_t pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 7, "SigCgt:") == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    return false;
}

}  // namespace

// Started by hand, the service runs its one instance until a termination
// signal and then ends promptly and cleanly.
TEST(service_process, runs_without_manager_until_terminated_and_exits_zero)
{
    for (int sig : {SIGTERM, SIGINT}) {
        Process service({MESSAGES_BIN, "--app-name=e2e", "--webserver=/tmp/no-webserver-here"});
        for (int i = 0; i < 2000 && !Catches(service.pid, sig); i++) usleep(5000);
        ASSERT_TRUE(Catches(service.pid, sig)) << "signal " << sig;
        usleep(200000);
        EXPECT_TRUE(service.Running()) << "the service ended by itself";
        EXPECT_EQ(service.Stop(sig, 1000), 0) << "signal " << sig;
    }
}

// The real programs started as a person or the platform would: the service
// under the manager, and alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/child_process.h"

TEST(platform_manager, runs_two_instances_and_stops_both_processes_on_sigterm)
{
    char tmpl[] = "/tmp/manager-e2e-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    ChildProcess manager({PLATFORM_MANAGER_BIN, "--socket=" + dir + "/manager",
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
    EXPECT_EQ(manager.Wait(), 0);
    rmdir(dir.c_str());
}

// Started by hand, the service runs its one instance until a termination
// signal and then ends promptly and cleanly.
TEST(service_process, runs_without_manager_until_terminated_and_exits_zero)
{
    for (int sig : {SIGTERM, SIGINT}) {
        ChildProcess service({MESSAGES_BIN, "--app-name=e2e", "--webserver=/tmp/no-webserver-here"});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(service.Wait(0), -1) << "the service ended by itself";
        kill(service.pid, sig);
        EXPECT_EQ(service.Wait(1000), 0) << "signal " << sig;
    }
}

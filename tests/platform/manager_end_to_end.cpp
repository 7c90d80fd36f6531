#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

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

// The real programs started as the platform would: the service under the
// manager. Started alone and stopped by a signal, it is e2e_service_start's.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

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

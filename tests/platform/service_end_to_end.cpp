#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "tests/support/child_process.h"

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

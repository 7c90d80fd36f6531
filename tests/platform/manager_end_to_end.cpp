#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// A child process whose standard output is read line by line with a timeout.
class Child {
public:
    explicit Child(std::vector<std::string> args)
    {
        int fds[2];
        if (pipe(fds) < 0) abort();
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
    }
    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        close(out);
    }
    // Reads lines until one contains `text`; all lines read are kept.
    bool WaitFor(const std::string& text, int timeoutMs = 10000)
    {
        for (;;) {
            size_t nl;
            while ((nl = buffer.find('\n')) != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                lines.push_back(line);
                if (line.find(text) != std::string::npos) return true;
            }
            pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) return false;
            char buf[4096];
            ssize_t n = read(out, buf, sizeof(buf));
            if (n <= 0) return false;
            buffer.append(buf, n);
        }
    }
    int Wait()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid = -1;
    int out = -1;
    std::string buffer;
    std::vector<std::string> lines;
};

}  // namespace

TEST(platform_manager, runs_two_instances_and_stops_both_processes_on_sigterm)
{
    char tmpl[] = "/tmp/manager-e2e-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    Child manager({PLATFORM_MANAGER_BIN, "--socket=" + dir + "/manager", std::string("--exec=") + MESSAGES_BIN,
                   "--instance=name=alpha,domain=example.local,path=/alpha",
                   "--instance=name=beta,domain=example.local,path=/beta"});
    ASSERT_TRUE(manager.WaitFor("\"mt\":\"AppServiceInitConnection\""));
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"alpha\",\"appDomain\":\"example.local\",\"status\":true"));
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"beta\",\"appDomain\":\"example.local\",\"status\":true"));

    kill(manager.pid, SIGTERM);
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"alpha\",\"appDomain\":\"example.local\",\"status\":false"));
    ASSERT_TRUE(manager.WaitFor("\"appName\":\"beta\",\"appDomain\":\"example.local\",\"status\":false"));
    ASSERT_TRUE(manager.WaitFor("\"mt\":\"AppServiceCloseComplete\""));
    ASSERT_TRUE(manager.WaitFor("exited (signal 0, code 0)"));
    EXPECT_EQ(manager.Wait(), 0);
    rmdir(dir.c_str());
}

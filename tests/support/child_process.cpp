#include "tests/support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

ChildProcess::ChildProcess(std::vector<std::string> args)
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

ChildProcess::~ChildProcess()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(out);
}

bool ChildProcess::WaitFor(const std::string& text, int timeoutMs)
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

int ChildProcess::Wait(int timeoutMs)
{
    int status = 0;
    for (int waited = 0;; waited++) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (waited >= timeoutMs) return -1;
        struct timespec ms = {0, 1000000};
        nanosleep(&ms, nullptr);
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A child process whose standard output is read line by line with a timeout,
// killed when the test ends without waiting for it.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> args);
    ~ChildProcess();
    // Reads lines until one contains `text`; all lines read are kept.
    bool WaitFor(const std::string& text, int timeoutMs = 10000);
    // Waits for the exit: the exit code, 128 + signal, or -1 after the timeout.
    int Wait(int timeoutMs = 10000);

    pid_t pid = -1;
    int out = -1;
    std::string buffer;
    std::vector<std::string> lines;
};

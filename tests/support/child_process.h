// Child processes of a test and the files they leave: every wait is
// bounded, and the output of every child is collected by a thread of its
// own, so that no child ever blocks on a full pipe.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace harness {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

// Bytes that differ from position to position, so that a shifted or
// repeated block shows.
inline std::string Pattern(size_t len, unsigned seed = 0)
{
    std::string s(len, '\0');
    for (size_t i = 0; i < len; i++) s[i] = char((i * 7 + i / 251 + seed) & 0xFF);
    return s;
}

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/messages-test-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// A child process with standard output and standard error in one pipe, read
// line by line by a thread of its own. With `ownDescriptorsOnly` it inherits
// none of this process's other descriptors (client sockets of the test), so
// that its descriptors are its own.
class Process {
public:
    explicit Process(std::vector<std::string> args, bool ownDescriptorsOnly = false) : name(args[0])
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) < 0) abort();
        // Built before the fork: other threads run, so the child must not allocate.
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            if (ownDescriptorsOnly) close_range(3, ~0U, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
        reader = std::thread([this] { Read(); });
    }
    ~Process()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        reader.join();
        close(out);
    }

    // The number of lines so far, to wait for lines after this point.
    size_t Mark()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    }
    // Waits for a line at or after `from` that contains `text`.
    bool WaitFor(const std::string& text, size_t from = 0, int timeoutMs = 20000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        size_t at = from;
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (; at < lines.size(); at++)
                if (lines[at].find(text) != std::string::npos) return true;
            return ended;
        }) && at < lines.size();
    }
    size_t Count(const std::string& text, size_t from = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (size_t i = from; i < lines.size(); i++) n += lines[i].find(text) != std::string::npos;
        return n;
    }
    // The first line at or after `from` that contains `text`, or "".
    std::string Line(const std::string& text, size_t from = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = from; i < lines.size(); i++)
            if (lines[i].find(text) != std::string::npos) return lines[i];
        return "";
    }
    std::string Output()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string all;
        for (auto& l : lines) all += "  | " + l + "\n";
        return name + " said:\n" + all;
    }
    // Sends `sig` and waits for the end: the exit code, 128 + signal, or -1
    // when the process outlived the timeout (it is killed then).
    int Stop(int sig = SIGTERM, int timeoutMs = 20000)
    {
        if (pid <= 0) return endedByItself;
        kill(pid, sig);
        int status = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pid_t r;
        while ((r = waitpid(pid, &status, WNOHANG)) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                pid = -1;
                return -1;
            }
            struct timespec ms = {0, 2000000};
            nanosleep(&ms, nullptr);
        }
        pid = -1;
        return r > 0 ? Decode(status) : -1;
    }
    // A process found ended here keeps its status for Stop().
    bool Running()
    {
        int status = 0;
        if (pid <= 0) return false;
        if (waitpid(pid, &status, WNOHANG) == 0) return true;
        endedByItself = Decode(status);
        pid = -1;
        return false;
    }

    std::string name;
    pid_t pid = -1;

private:
    static int Decode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
    void Read()
    {
        std::string partial;
        char buffer[4096];
        ssize_t n;
        while ((n = read(out, buffer, sizeof(buffer))) > 0) {
            partial.append(buffer, size_t(n));
            std::lock_guard<std::mutex> lock(mutex);
            size_t nl;
            while ((nl = partial.find('\n')) != std::string::npos) {
                lines.push_back(partial.substr(0, nl));
                partial.erase(0, nl + 1);
            }
            changed.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!partial.empty()) lines.push_back(partial);
        ended = true;
        changed.notify_all();
    }

    int out = -1;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    bool ended = false;
    int endedByItself = -1;
};

// No sanitizer report and no failed assertion in a process's output so far.
inline void ExpectNoCrashReport(Process& process)
{
    for (std::string marker : {"ASSERT:", "AddressSanitizer", "runtime error:", "LeakSanitizer"})
        EXPECT_EQ(process.Count(marker), 0u) << marker << "\n" << process.Output();
}

}  // namespace harness

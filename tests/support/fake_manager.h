#pragma once

#include <string>

#include "tests/support/child_process.h"

// The manager's end of the manager link, driven from the test thread with
// blocking calls that give up after a timeout instead of hanging the run.
class FakeManager {
public:
    FakeManager();
    ~FakeManager();
    const std::string& Path() const { return path; }
    bool Accept(int timeoutMs = 5000);
    void SendRaw(const void* data, size_t len);
    void SendFrame(const std::string& json);
    // The next message's JSON text; empty on end of stream or timeout.
    std::string Read(int timeoutMs = 5000);
    // Reads until a message with this "mt" arrives; empty when none does.
    std::string ReadUntil(const std::string& mt, int timeoutMs = 5000);
    // True when the service closes the connection within the timeout.
    bool WaitClosed(int timeoutMs = 5000);
    void Close();

private:
    bool ReadExact(void* buf, size_t len, int timeoutMs);

    harness::TempDir dir;
    std::string path;
    int listenFd = -1;
    int conn = -1;
};

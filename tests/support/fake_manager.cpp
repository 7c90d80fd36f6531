#include "tests/support/fake_manager.h"

#include <arpa/inet.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

FakeManager::FakeManager()
{
    path = dir / "manager";
    listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    if (bind(listenFd, (sockaddr*)&addr, sizeof(addr)) < 0 || listen(listenFd, 4) < 0) abort();
}

FakeManager::~FakeManager()
{
    Close();
    close(listenFd);
}

bool FakeManager::Accept(int timeoutMs)
{
    pollfd p = {listenFd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return false;
    conn = accept(listenFd, nullptr, nullptr);
    return conn >= 0;
}

void FakeManager::SendRaw(const void* data, size_t len)
{
    const char* p = (const char*)data;
    while (len > 0) {
        ssize_t n = send(conn, p, len, MSG_NOSIGNAL);
        if (n <= 0) return;
        p += n;
        len -= n;
    }
}

void FakeManager::SendFrame(const std::string& json)
{
    uint32_t header = htonl((uint32_t)json.size());
    std::string frame((const char*)&header, 4);
    frame += json;
    SendRaw(frame.data(), frame.size());
}

bool FakeManager::ReadExact(void* buf, size_t len, int timeoutMs)
{
    char* p = (char*)buf;
    while (len > 0) {
        pollfd pf = {conn, POLLIN, 0};
        if (poll(&pf, 1, timeoutMs) != 1) return false;
        ssize_t n = recv(conn, p, len, 0);
        if (n <= 0) return false;
        p += n;
        len -= n;
    }
    return true;
}

std::string FakeManager::Read(int timeoutMs)
{
    unsigned char header[4];
    if (conn < 0 || !ReadExact(header, 4, timeoutMs)) return "";
    uint32_t len = ntohl(*(uint32_t*)header);
    std::string body(len, 0);
    if (!ReadExact(&body[0], len, timeoutMs)) return "";
    return body;
}

std::string FakeManager::ReadUntil(const std::string& mt, int timeoutMs)
{
    std::string want = "\"mt\":\"" + mt + "\"";
    for (;;) {
        std::string m = Read(timeoutMs);
        if (m.empty() || m.find(want) != std::string::npos) return m;
    }
}

bool FakeManager::WaitClosed(int timeoutMs)
{
    char c;
    for (;;) {
        pollfd pf = {conn, POLLIN, 0};
        if (poll(&pf, 1, timeoutMs) != 1) return false;
        ssize_t n = recv(conn, &c, 1, 0);
        if (n <= 0) return true;
    }
}

void FakeManager::Close()
{
    if (conn >= 0) close(conn);
    conn = -1;
}

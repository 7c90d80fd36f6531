// platform-webserver in a child process on a free loopback port, for tests
// built with PLATFORM_WEBSERVER_BIN; plugins connect to `socketPath`.
#pragma once

#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace harness {

class StandIn {
public:
    explicit StandIn(const std::string& socketPath, std::vector<std::string> extra = {})
        : process(Arguments(socketPath, std::move(extra)))
    {
        const std::string marker = "listening on http://127.0.0.1:";
        std::string line = process.WaitFor(marker) ? process.Line(marker) : "";
        if (!line.empty()) port = atoi(line.c_str() + line.find(marker) + marker.size());
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    // A plugin's web root has registered all of `paths` ("http /messages") since `from`.
    bool Registered(const std::string& root, const std::vector<std::string>& paths, size_t from = 0,
                    int timeoutMs = 20000)
    {
        if (!process.WaitFor("plugin " + root + " connected", from, timeoutMs)) return false;
        for (auto& p : paths)
            if (!process.WaitFor("plugin " + root + ": register " + p + ": ok", from, timeoutMs)) return false;
        return true;
    }

    Process process;
    int port = 0;

private:
    static std::vector<std::string> Arguments(const std::string& socketPath, std::vector<std::string> extra)
    {
        extra.insert(extra.begin(), {PLATFORM_WEBSERVER_BIN, "--http=127.0.0.1:0", "--plugins=" + socketPath});
        return extra;
    }
};

}  // namespace harness

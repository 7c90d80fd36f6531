// The extended header that announces an HTTP request or a websocket to a plugin.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/webserver/extended_header.h"

namespace wsp {

struct RequestInfo {
    std::string resource;    // path and query below the registered path
    std::string registered;  // the registered path as its plugin sent it
    std::vector<std::pair<std::string, std::string>> fields;
    std::string host;
    uint32_t connectionFlags = 0;
    bool hasSize = false;
    uint64_t size = 0;
    bool chunked = false;
};

// The entity tag a plugin compares with its own: the first tag of If-None-Match, unquoted.
std::string EtagFromIfNoneMatch(const std::string& value);

// Ranges of a "bytes=" Range field, unreadable ones as kind 0; false when the field is to be ignored.
bool ParseRangeField(const std::string& value, std::vector<HttpRange>& ranges);

// Wide-mode encoding; the ETag and ranges come from the header fields. False when it does not fit a frame.
bool EncodeRequestHeader(const RequestInfo& info, std::string& body);

}  // namespace wsp

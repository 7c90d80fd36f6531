#include "platform/webserver/request_header.h"

#include <string.h>
#include <strings.h>

#include "platform/webserver/frame.h"
#include "platform/webserver/plugin_protocol.h"

namespace wsp {

namespace {

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool ParseNumber(const std::string& s, uint64_t& v)
{
    if (s.empty() || s.size() > 19) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    return true;
}

// A plugin keeps at most this many ranges of one request.
constexpr size_t kMaxRanges = 64;

}  // namespace

std::string EtagFromIfNoneMatch(const std::string& value)
{
    std::string v = Trim(value);
    if (v.compare(0, 2, "W/") == 0) v = v.substr(2);
    if (!v.empty() && v[0] == '"') {
        size_t close = v.find('"', 1);
        if (close == std::string::npos) return std::string();
        return v.substr(1, close - 1);
    }
    size_t comma = v.find(',');
    return Trim(v.substr(0, comma));
}

bool ParseRangeField(const std::string& value, std::vector<HttpRange>& ranges)
{
    ranges.clear();
    std::string v = Trim(value);
    if (strncasecmp(v.c_str(), "bytes=", 6) != 0) return false;
    v = v.substr(6);
    size_t at = 0;
    while (at <= v.size()) {
        size_t comma = v.find(',', at);
        std::string range = Trim(v.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        at = comma == std::string::npos ? v.size() + 1 : comma + 1;
        if (range.empty()) continue;
        size_t dash = range.find('-');
        std::string first = Trim(range.substr(0, dash));
        std::string last = dash == std::string::npos ? std::string("x") : Trim(range.substr(dash + 1));
        HttpRange r;
        bool ok;
        if (first.empty()) r.kind = RANGE_LAST, ok = ParseNumber(last, r.start);
        else if (last.empty()) r.kind = RANGE_FROM, ok = ParseNumber(first, r.start);
        else r.kind = RANGE_FROM_TO, ok = ParseNumber(first, r.start) && ParseNumber(last, r.end);
        // The plugin refuses what it cannot read; a range of kind 0 tells it so.
        if (!ok) r = HttpRange();
        if (ranges.size() == kMaxRanges) return false;
        ranges.push_back(r);
    }
    return !ranges.empty();
}

bool EncodeRequestHeader(const RequestInfo& info, std::string& body)
{
    std::string etag;
    std::vector<HttpRange> ranges;
    for (auto& f : info.fields) {
        if (strcasecmp(f.first.c_str(), "If-None-Match") == 0) etag = EtagFromIfNoneMatch(f.second);
        else if (strcasecmp(f.first.c_str(), "Range") == 0 && !ParseRangeField(f.second, ranges)) ranges.clear();
    }

    ExtendedHeaderWriter w;
    w.String(DDT_REQUEST_PATH, info.resource);
    w.String(DDT_REGISTERED_PATH_FOR_REQUEST, info.registered);
    if (!etag.empty()) w.String(DDT_ETAG, etag);
    if (!info.fields.empty()) w.HeaderFields(info.fields);
    if (!info.host.empty()) w.String(DDT_HOST, info.host);
    w.U32(DDT_CONNECTION_FLAGS, info.connectionFlags);
    if (info.chunked) w.Flag(DDT_CHUNK_ENCODED_TRANSFER);
    else if (info.hasSize && info.size) w.U64(DDT_DATA_SIZE, info.size);
    if (!ranges.empty()) {
        std::string data;
        PutU32(data, uint32_t(ranges.size()));
        for (auto& r : ranges) {
            data.push_back(char(r.kind));
            PutU64(data, r.start);
            PutU64(data, r.end);
        }
        w.Raw(DDT_REQUEST_RANGES, data);
    }
    return w.Encode(body);
}

}  // namespace wsp

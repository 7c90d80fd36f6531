#include "platform/webserver/response_meta.h"

#include <stdlib.h>
#include <strings.h>

#include "platform/webserver/frame.h"
#include "platform/webserver/plugin_protocol.h"

namespace wsp {

namespace {

const char* const kContentTypes[] = {
    nullptr,  // no type
    "application/octet-stream",
    "application/java-archive",
    "audio/wav",
    "audio/ogg",
    "audio/mpeg",
    "image/gif",
    "image/png",
    "image/bmp",
    "image/x-icon",
    "font/ttf",
    "application/vnd.ms-fontobject",
    "application/pdf",
    "text/plain; charset=utf-8",
    "text/xml; charset=utf-8",
    "text/css; charset=utf-8",
    "application/javascript; charset=utf-8",
    "application/json; charset=utf-8",
    "text/html; charset=utf-8",
    "image/svg+xml",
    "font/woff",
    "audio/basic",
    "audio/G722",
    "audio/G729",
    "image/jpeg",
    "video/mp4",
    "video/webm",
    "application/x-pem-file",
    "application/x-apple-aspen-config",
    "text/cache-manifest",
    "audio/ogg; codecs=opus",
    "text/csv; charset=utf-8",
};

const char* const kRequestNames[] = {"GET",    "POST",  "PUT",     "",     "PROPFIND", "MOVE",     "COPY",
                                     "MKCOL", "DELETE", "OPTIONS", "LOCK", "UNLOCK",   "PROPPATCH"};

// Fields that frame the message belong to this server, not to the plugin.
bool IsFramingField(const std::string& name)
{
    for (const char* f : {"Content-Length", "Transfer-Encoding", "Connection", "Keep-Alive", "Upgrade", "Trailer"})
        if (strcasecmp(name.c_str(), f) == 0) return true;
    return false;
}

// A field with line breaks would let a plugin forge headers of its own.
bool Printable(const std::string& s)
{
    for (unsigned char c : s)
        if (c < ' ' && c != '\t') return false;
    return true;
}

std::string Quoted(const std::string& etag)
{
    if (!etag.empty() && (etag[0] == '"' || etag.compare(0, 2, "W/") == 0)) return etag;
    return "\"" + etag + "\"";
}

}  // namespace

const char* ContentTypeOf(uint16_t type)
{
    if (type < WSP_RESPONSE_NO_TYPE || type > WSP_RESPONSE_CSV) return nullptr;
    return kContentTypes[type - WSP_RESPONSE_NO_TYPE];
}

unsigned CancelStatus(uint32_t code)
{
    switch (code) {
    case WSP_CANCEL_NOT_FOUND: return 404;
    case WSP_CANCEL_BAD_REQUEST: return 400;
    case WSP_CANCEL_UNAVAILABLE: return 503;
    case WSP_CANCEL_MISSING_LENGTH: return 411;
    case WSP_CANCEL_STREAM: return 0;
    case WSP_CANCEL_ACCESS_DENIED: return 403;
    default: return 500;
    }
}

std::string PlanResponse(const ExtendedHeader& meta, uint32_t general, bool optionsRequest, ResponsePlan& plan)
{
    plan = ResponsePlan();
    uint16_t type = WSP_INT_UNDEFINED, flags = 0;
    if (auto info = meta.Raw(DDT_TRANSFER_INFO)) {
        if (info->size() != 4 && info->size() != 8) return "transfer info of wrong length";
        auto p = reinterpret_cast<const unsigned char*>(info->data());
        type = GetU16(p);
        flags = GetU16(p + 2);
        // A narrow-mode sender puts the size here; all ones means chunked.
        if (info->size() == 8) {
            uint32_t size = GetU32(p + 4);
            if (size == 0xFFFFFFFF) plan.chunked = true;
            else if (size) plan.hasLength = true, plan.length = size;
        }
    }
    if (meta.Has(DDT_DATA_SIZE)) {
        uint64_t size;
        if (!meta.U64(DDT_DATA_SIZE, size)) return "data size of wrong length";
        if (size == ~uint64_t(0)) plan.chunked = true, plan.hasLength = false;
        else plan.hasLength = true, plan.length = size;
    }
    if (meta.Has(DDT_CHUNK_ENCODED_TRANSFER)) plan.chunked = true, plan.hasLength = false;
    std::vector<HttpRange> ranges;
    if (!meta.Ranges(ranges, true) && !meta.Ranges(ranges, false)) return "malformed ranges";
    std::vector<std::pair<std::string, std::string>> fields;
    if (!meta.HeaderFields(fields)) return "malformed header fields";

    std::string etag = meta.String(DDT_ETAG);
    if (!etag.empty()) plan.fields.emplace_back("ETag", Quoted(etag));
    for (auto& f : fields)
        if (!f.first.empty() && !IsFramingField(f.first) && Printable(f.first) && Printable(f.second)) plan.fields.push_back(f);

    // A plugin's page with a status of its own, such as a not-found page, names
    // the status as gateways do: "Status: 404 Not Found". The field is ours.
    unsigned pageStatus = 0;
    for (auto it = plan.fields.begin(); it != plan.fields.end(); ++it) {
        if (strcasecmp(it->first.c_str(), "Status") != 0) continue;
        unsigned code = unsigned(strtoul(it->second.c_str(), nullptr, 10));
        if (code >= 200 && code <= 599 && code != 204 && code != 206 && code != 304) pageStatus = code;
        plan.fields.erase(it);
        break;
    }

    std::string redirect = meta.String(DDT_REDIRECT_PATH);
    if (!redirect.empty() || type == WSP_INT_REDIRECT) {
        if (redirect.empty()) return "redirect without a path";
        if (!Printable(redirect)) return "redirect path with control characters";
        plan.status = 302;
        plan.fields.emplace_back("Location", redirect);
        plan.hasLength = true, plan.length = 0, plan.chunked = false, plan.bodyAllowed = false;
        plan.final = true;
        return std::string();
    }
    if (type == WSP_INT_UNCHANGED) {
        plan.status = 304;
        plan.hasLength = false, plan.chunked = false, plan.bodyAllowed = false;
        return std::string();
    }
    if (pageStatus) plan.status = pageStatus;
    if (const char* ct = ContentTypeOf(type)) plan.fields.emplace_back("Content-Type", ct);
    if (flags & WSP_FLAG_GZIP) plan.fields.emplace_back("Content-Encoding", "gzip");

    bool hasAllow = false;
    for (auto& f : plan.fields) hasAllow = hasAllow || strcasecmp(f.first.c_str(), "Allow") == 0;
    if (optionsRequest && general && !hasAllow) {
        std::string allow;
        for (unsigned bit = 0; bit < sizeof(kRequestNames) / sizeof(kRequestNames[0]); bit++)
            if ((general & (1u << bit)) && kRequestNames[bit][0]) allow += std::string(allow.empty() ? "" : ", ") + kRequestNames[bit];
        if (general & 1) allow += ", HEAD";
        plan.fields.emplace_back("Allow", allow);
    }

    // A range the plugin states but that cannot be resolved is dropped: the whole body follows.
    if (plan.status == 200 && !ranges.empty() && ranges.front().kind != RANGE_INVALID && (plan.hasLength || ranges.front().kind == RANGE_FROM_TO)) {
        HttpRange r = ranges.front();
        bool sized = plan.hasLength;
        uint64_t total = plan.length, start = r.start, end = r.end;
        if (r.kind == RANGE_FROM) end = total - 1;
        else if (r.kind == RANGE_LAST) start = r.start > total ? 0 : total - r.start, end = total - 1;
        else if (sized && end >= total) end = total - 1;
        if (start > end || (sized && start >= total)) {
            plan.status = 416;
            plan.fields.emplace_back("Content-Range", "bytes */" + std::to_string(total));
            plan.hasLength = true, plan.length = 0, plan.chunked = false, plan.bodyAllowed = false;
            return std::string();
        }
        plan.status = 206;
        plan.fields.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(end) + "/" +
                                                      (sized ? std::to_string(total) : std::string("*")));
        plan.hasLength = true, plan.length = end - start + 1, plan.chunked = false;
    }
    return std::string();
}

}  // namespace wsp

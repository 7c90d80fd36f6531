#include "platform/webserver/extended_header.h"

#include "platform/webserver/frame.h"
#include "platform/webserver/plugin_protocol.h"

namespace wsp {

namespace {

bool IsStringItem(uint8_t type)
{
    switch (type) {
    case DDT_REQUEST_PATH:
    case DDT_REGISTERED_PATH_FOR_REQUEST:
    case DDT_ETAG:
    case DDT_HOST:
    case DDT_PATH_TO_REGISTER:
    case DDT_AUTH_USER:
    case DDT_AUTH_PASSWORD:
    case DDT_CERTIFICATE_HOST:
    case DDT_CERTIFICATE_PASSWORD:
    case DDT_REDIRECT_PATH:
        return true;
    default:
        return false;
    }
}

}  // namespace

void ExtendedHeaderWriter::Raw(uint8_t type, const std::string& data)
{
    if (data.size() > 0xFFFF) {
        overflow_ = true;
        return;
    }
    items_.push_back(char(type));
    PutU16(items_, uint16_t(data.size()));
    items_ += data;
}

void ExtendedHeaderWriter::String(uint8_t type, const std::string& value)
{
    std::string data = value;
    data.push_back('\0');
    Raw(type, data);
}

void ExtendedHeaderWriter::U32(uint8_t type, uint32_t value)
{
    std::string data;
    PutU32(data, value);
    Raw(type, data);
}

void ExtendedHeaderWriter::U64(uint8_t type, uint64_t value)
{
    std::string data;
    PutU64(data, value);
    Raw(type, data);
}

void ExtendedHeaderWriter::Flag(uint8_t type) { Raw(type, std::string()); }

void ExtendedHeaderWriter::HeaderFields(const std::vector<std::pair<std::string, std::string>>& fields)
{
    std::string data;
    for (auto& f : fields) {
        data += f.first;
        data.push_back('\0');
        data += f.second;
        data.push_back('\0');
    }
    Raw(DDT_HEADER_FIELDS, data);
}

bool ExtendedHeaderWriter::Encode(std::string& out) const
{
    out.clear();
    if (overflow_ || items_.size() + 4 > kMaxDataSize) return false;
    if (items_.empty()) return true;
    PutU32(out, uint32_t(items_.size()));
    out += items_;
    return true;
}

std::string ExtendedHeader::Decode(const std::string& body)
{
    items_.clear();
    if (body.empty()) return std::string();
    if (body.size() < 4) return "extended header shorter than its length field";
    auto p = reinterpret_cast<const unsigned char*>(body.data());
    uint32_t total = GetU32(p);
    if (total != body.size() - 4) return "extended header length does not match the body";
    size_t at = 4;
    while (at < body.size()) {
        if (body.size() - at < 3) return "extended header item header truncated";
        uint8_t type = p[at];
        size_t n = GetU16(p + at + 1);
        at += 3;
        if (body.size() - at < n) return "extended header item runs past the body";
        std::string data = body.substr(at, n);
        at += n;
        if (IsStringItem(type) || type == DDT_HEADER_FIELDS) {
            if (n == 0) return "empty string item in extended header";
            if (data.back() != '\0') return "string item without terminating NUL";
        }
        if (IsStringItem(type) && data.find('\0') != n - 1) return "string item with embedded NUL";
        if (type > DDT_LAST) continue;
        if (!items_.emplace(type, std::move(data)).second) return "item repeated in extended header";
    }
    return std::string();
}

std::string ExtendedHeader::String(uint8_t type) const
{
    auto it = items_.find(type);
    if (it == items_.end() || it->second.empty()) return std::string();
    return it->second.substr(0, it->second.size() - 1);
}

const std::string* ExtendedHeader::Raw(uint8_t type) const
{
    auto it = items_.find(type);
    return it == items_.end() ? nullptr : &it->second;
}

bool ExtendedHeader::U32(uint8_t type, uint32_t& value) const
{
    auto d = Raw(type);
    if (!d || d->size() != 4) return false;
    value = GetU32(reinterpret_cast<const unsigned char*>(d->data()));
    return true;
}

bool ExtendedHeader::U64(uint8_t type, uint64_t& value) const
{
    auto d = Raw(type);
    if (!d || d->size() != 8) return false;
    value = GetU64(reinterpret_cast<const unsigned char*>(d->data()));
    return true;
}

bool ExtendedHeader::HeaderFields(std::vector<std::pair<std::string, std::string>>& fields) const
{
    fields.clear();
    auto d = Raw(DDT_HEADER_FIELDS);
    if (!d) return true;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < d->size()) {
        size_t nul = d->find('\0', at);
        if (nul == std::string::npos) return false;
        parts.push_back(d->substr(at, nul - at));
        at = nul + 1;
    }
    if (parts.size() % 2) return false;
    for (size_t i = 0; i < parts.size(); i += 2) fields.emplace_back(parts[i], parts[i + 1]);
    return true;
}

bool ExtendedHeader::Ranges(std::vector<HttpRange>& ranges, bool wide) const
{
    ranges.clear();
    auto d = Raw(DDT_REQUEST_RANGES);
    if (!d) return true;
    if (d->size() < 4) return false;
    auto p = reinterpret_cast<const unsigned char*>(d->data());
    uint32_t count = GetU32(p);
    size_t each = wide ? 17 : 9;
    if ((d->size() - 4) / each != count || (d->size() - 4) % each) return false;
    for (uint32_t i = 0; i < count; i++) {
        const unsigned char* r = p + 4 + i * each;
        HttpRange range;
        range.kind = r[0];
        range.start = wide ? GetU64(r + 1) : GetU32(r + 1);
        range.end = wide ? GetU64(r + 9) : GetU32(r + 5);
        ranges.push_back(range);
    }
    return true;
}

}  // namespace wsp

// The item list that registrations, requests and response meta data carry.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace wsp {

// Items are appended in the order the caller chooses; the caller keeps the fixed item order.
class ExtendedHeaderWriter {
public:
    void String(uint8_t type, const std::string& value);
    void U32(uint8_t type, uint32_t value);
    void U64(uint8_t type, uint64_t value);
    void Flag(uint8_t type);
    void Raw(uint8_t type, const std::string& data);
    // Name, NUL, value, NUL, ... for every field.
    void HeaderFields(const std::vector<std::pair<std::string, std::string>>& fields);
    bool Empty() const { return items_.empty(); }
    // An empty header encodes as nothing at all. Returns false when an item or the whole does not fit.
    bool Encode(std::string& out) const;

private:
    std::string items_;
    bool overflow_ = false;
};

struct HttpRange {
    uint8_t kind = 0;
    uint64_t start = 0;
    uint64_t end = 0;
};

// A decoded header: item type to raw item data; unknown item types are dropped.
class ExtendedHeader {
public:
    // Returns an error text for a body that breaks the framing rules, empty on success.
    // A zero-length body is the empty header.
    std::string Decode(const std::string& body);

    bool Has(uint8_t type) const { return items_.count(type) != 0; }
    // String items without their NUL; empty when absent.
    std::string String(uint8_t type) const;
    // False when absent or of the wrong width.
    bool U32(uint8_t type, uint32_t& value) const;
    bool U64(uint8_t type, uint64_t& value) const;
    const std::string* Raw(uint8_t type) const;
    // Pairs from DDT_HEADER_FIELDS; false when the list is not made of NUL-terminated pairs.
    bool HeaderFields(std::vector<std::pair<std::string, std::string>>& fields) const;
    // DDT_REQUEST_RANGES in wide (17-byte) or narrow (9-byte) form; false when malformed.
    bool Ranges(std::vector<HttpRange>& ranges, bool wide) const;

private:
    std::map<uint8_t, std::string> items_;
};

}  // namespace wsp

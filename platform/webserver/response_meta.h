// What a plugin's meta data or cancel code means for the HTTP response.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/webserver/extended_header.h"

namespace wsp {

struct ResponsePlan {
    unsigned status = 200;
    std::vector<std::pair<std::string, std::string>> fields;
    bool hasLength = false;  // Content-Length known from the meta data
    uint64_t length = 0;
    bool chunked = false;    // the plugin asked for chunked transfer
    bool bodyAllowed = true; // false: whatever the plugin sends is dropped
    bool final = false;      // the plugin's side ends with these meta data (a redirect)
};

// Content-Type of a `wsr_type_t`; null for the internal types and "no type".
const char* ContentTypeOf(uint16_t resourceType);

// HTTP status of a cancel code; 0 means the stream is to be dropped without an answer.
unsigned CancelStatus(uint32_t cancelCode);

// `general` is the general purpose field of the meta data frame; for an OPTIONS request it
// carries the supported request mask. Returns an error text for malformed meta data.
std::string PlanResponse(const ExtendedHeader& meta, uint32_t general, bool optionsRequest, ResponsePlan& plan);

}  // namespace wsp

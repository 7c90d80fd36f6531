// The command line of platform-pbx.
#pragma once

#include <string>
#include <vector>

#include "platform/pbx/pbx_peer.h"

namespace pbx {

struct PbxOptions {
    PeerConfig peer;
    std::vector<std::string> badges;  // users whose unread counts are watched
    std::string object = "messages";  // what they subscribe to; "chat" counts chat messages
    std::string chat, member, memberDn;
    bool help = false;
};

// What --help prints.
extern const char* const kUsage;

// Returns an error text, empty on success.
std::string ParseOptions(int argc, char** argv, PbxOptions& options);

}  // namespace pbx

#pragma once

#include <string>

#include "runtime/istd_list.h"
#include "web/webserver_types.h"

class UWebserverPlugin;

// One path the link has registered, kept so that its registration can be
// sent again on every reconnect.
class WSRegisteredPath : public istd::listElement {
public:
    WSRegisteredPath(UWebserverPlugin* owner, wsp_path_type_t type, std::string fullPath, std::string relativePath,
                     const char* staticFilePrefix, bool dynamicAuthentication, std::string registration);

    // The static file name a GET resource names under this path, or empty
    // when the resource lies outside the path's static-file prefix.
    std::string StaticFileName(const char* resource) const;

    UWebserverPlugin* owner;
    wsp_path_type_t type;
    std::string fullPath;
    // Relative to the web root; empty for the root itself.
    std::string relativePath;
    // Without leading and trailing blanks and slashes, then one "/" appended;
    // empty when no prefix was given, so that files lie right below the path.
    std::string staticPrefix;
    bool hasStaticFiles;
    bool dynamicAuthentication;
    // The encoded extended header of the registration message.
    std::string registration;
};

// A registration sent and not yet answered; the answers come in order.
class WSRegisterPathItem : public istd::listElement {
public:
    explicit WSRegisterPathItem(WSRegisteredPath* path) : path(path) {}
    WSRegisteredPath* path;
};

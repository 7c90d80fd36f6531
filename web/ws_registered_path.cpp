#include "web/ws_registered_path.h"

#include <string.h>

#include "web/httpfile.h"

namespace {
bool Trimmed(char c)
{
    return c == ' ' || c == '\t' || c == '/';
}
}  // namespace

WSRegisteredPath::WSRegisteredPath(UWebserverPlugin* owner, wsp_path_type_t type, std::string fullPath,
                                   std::string relativePath, const char* staticFilePrefix, bool dynamicAuthentication,
                                   std::string registration)
    : owner(owner), type(type), fullPath(std::move(fullPath)), relativePath(std::move(relativePath)),
      dynamicAuthentication(dynamicAuthentication), registration(std::move(registration))
{
    const char* p = staticFilePrefix ? staticFilePrefix : "";
    size_t n = strlen(p);
    while (n && Trimmed(*p)) p++, n--;
    while (n && Trimmed(p[n - 1])) n--;
    if (n) staticPrefix.assign(p, n).push_back('/');
    hasStaticFiles = type == WSP_PATH_TYPE_HTTP &&
                     (this->relativePath.empty() || HttpFiles::AnyStartsWith(this->relativePath.c_str()));
}

std::string WSRegisteredPath::StaticFileName(const char* resource) const
{
    if (*resource == '/') resource++;
    // The query does not name a file; scripts add one to get past caches.
    size_t len = strcspn(resource, "?");
    if (len < staticPrefix.size() || strncmp(resource, staticPrefix.c_str(), staticPrefix.size()) != 0)
        return std::string();
    std::string rest(resource + staticPrefix.size(), len - staticPrefix.size());
    if (rest.empty()) return rest;
    return relativePath.empty() ? rest : relativePath + "/" + rest;
}

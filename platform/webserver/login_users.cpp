#include "platform/webserver/login_users.h"

#include <fstream>

#include "platform/webserver/login_text.h"

namespace wsp {

namespace {

std::vector<std::string> SplitList(const std::string& text)
{
    std::vector<std::string> items;
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        if (!item.empty()) items.push_back(item);
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return items;
}

// Takes one recognised optional field off the end of `rest`; false when the last field is none.
bool TakeOption(std::string& rest, LoginUser& user)
{
    // The first field is always the display name.
    size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string field = rest.substr(colon + 1);
    if (field == "admin") user.admin = true;
    else if (field.compare(0, 7, "topics=") == 0) user.topics = SplitList(field.substr(7));
    else if (field.compare(0, 7, "groups=") == 0) user.groups = SplitList(field.substr(7));
    else return false;
    rest.resize(colon);
    return true;
}

}  // namespace

std::string LoginUser::InfoText(const std::string& app) const
{
    std::string text = "{\"appobj\":" + JsonString(admin ? app + "~admin" : app) + ",\"appdn\":\"Messages\",\"apps\":[";
    for (size_t i = 0; i < topics.size(); i++)
        text += std::string(i ? "," : "") + "{\"name\":" + JsonString(topics[i]) + ",\"dn\":" + JsonString(topics[i]) + "}";
    text += "],\"groups\":[";
    for (size_t i = 0; i < groups.size(); i++) text += std::string(i ? "," : "") + JsonString(groups[i]);
    return text + "]}";
}

bool ParseUserLine(const std::string& line, LoginUser& user)
{
    size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
    if (a == 0 || b == std::string::npos) return false;
    user = LoginUser();
    user.sip = line.substr(0, a);
    user.password = line.substr(a + 1, b - a - 1);
    std::string rest = line.substr(b);  // keeps its leading ':' so that every field has one
    while (TakeOption(rest, user)) {
    }
    user.dn = rest.substr(1);
    if (user.dn.empty()) user.dn = user.sip;
    return true;
}

std::string ReadUsersFile(const std::string& path, std::vector<LoginUser>& users)
{
    std::ifstream in(path);
    if (!in) return "cannot read " + path;
    std::string line;
    unsigned number = 0;
    while (std::getline(in, line)) {
        number++;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        LoginUser user;
        if (!ParseUserLine(line, user))
            return path + ":" + std::to_string(number) + ": want sip:password:display name[:topics=a,b][:groups=g,h][:admin]";
        users.push_back(user);
    }
    return std::string();
}

}  // namespace wsp

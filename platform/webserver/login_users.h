// The people who may log in from a browser, and what the platform would tell
// the app about each of them.
//
// Users file, one person a line ("#" starts a comment):
//   sip:password:display name[:topics=a,b][:groups=g,h][:admin]
// The optional fields are recognised from the end of the line, so a display
// name may itself hold colons.
#pragma once

#include <string>
#include <vector>

namespace wsp {

struct LoginUser {
    std::string sip, password, dn;
    std::vector<std::string> topics, groups;
    bool admin = false;

    // The login "info" object for app `app`, as compact JSON text.
    std::string InfoText(const std::string& app) const;
};

// Appends the people of `path`; returns an error text, empty on success.
std::string ReadUsersFile(const std::string& path, std::vector<LoginUser>& users);

// One line of a users file; false when it is no such line.
bool ParseUserLine(const std::string& line, LoginUser& user);

}  // namespace wsp

// The small text formats of the browser login: url-encoded forms and queries,
// the Cookie header, and JSON strings written the way the service writes them
// (the login digest covers JSON text, so both sides must spell it alike).
#pragma once

#include <map>
#include <string>

namespace wsp {

// "a=1&b=x%20y" -> {a:1, b:"x y"}; a name given twice keeps its last value.
std::map<std::string, std::string> ParseForm(const std::string& form);

// The value of cookie `name` in any of the request's Cookie headers, empty when absent.
std::string CookieValue(const std::string& cookieHeader, const std::string& name);

// A JSON string literal: quotes and backslashes escaped, \b \t \n \f \r by
// name, other control characters as \u00xx, everything else as it is.
std::string JsonString(const std::string& s);

}  // namespace wsp

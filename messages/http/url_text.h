#pragma once

#include <string>

// Pieces of URLs as the file endpoints read and write them. Pure functions:
// they look at nothing but their arguments.

// A number of a URL: decimal, or with base prefixes ("0x" hexadecimal, a
// leading "0" octal) when `prefixes`. No sign, no blanks, no overflow: any of
// them makes the text no number.
bool MessagesUrlNumber(const char* text, size_t length, bool prefixes, unsigned long long& value);

// Percent-decodes text into `out`. False for a broken escape, for an escape
// of NUL or of another control character, and for a result that is not
// UTF-8: names carrying those would break the header fields and the
// database rows they end up in. "+" stays "+": clients encode a blank as %20.
bool MessagesUrlDecode(const char* text, size_t length, std::string& out);

// Percent-encodes every byte but the unreserved ones (letters, digits,
// "-", ".", "_", "~"), so that a name is one path segment whatever it holds.
std::string MessagesUrlEncode(const std::string& text);

// The value of argument `name` in a query ("a=1&b=2"); an argument without
// "=" has an empty value. False when it is not there; the first one counts.
bool MessagesUrlArgument(const char* query, const char* name, const char*& value, size_t& length);

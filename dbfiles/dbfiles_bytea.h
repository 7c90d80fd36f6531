#pragma once

#include <vector>

// Decodes a BYTEA value in the server's hex output form ("\x" and two digits
// a byte) into `out`; false when the text is not of that form.
bool DbFilesDecodeBytea(const char* text, std::vector<unsigned char>& out);

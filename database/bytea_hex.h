#pragma once

#include <stddef.h>

// The hex form of BYTEA ("\x", then two digits a byte): how the driver writes
// byte strings into SQL text and text parameters, and how the server returns
// them in text results. Neither function writes the "\x" or a NUL.

// Writes the 2 * n lowercase digits of `data` to `out`.
void ByteaHexEncode(const unsigned char* data, size_t n, char* out);
// Reads 2 * n digits into n bytes; either case is accepted, and a character
// that is no hex digit counts as 0.
void ByteaHexDecode(const char* digits, size_t n, unsigned char* out);

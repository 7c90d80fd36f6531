#pragma once

#include <stddef.h>

// Builds SQL text piece by piece into a fixed room with the directives of
// sql_print.h. Once a piece does not fit, that piece and every further one
// are refused, so a statement is either whole or known to be cut.
class SqlText {
public:
    SqlText(char* buf, size_t size);

    bool Print(const char* format, ...);
    void Restart();
    // The room left for text written by other means (with its NUL), and the
    // length they wrote there.
    char* End() { return buf + len; }
    size_t Room() const { return full ? 0 : size - len; }
    void Advance(size_t written);

    size_t Length() const { return len; }
    bool Full() const { return full; }
    const char* Text() const { return buf; }

private:
    char* buf;
    size_t size;
    size_t len = 0;
    bool full = false;
};

#pragma once

#include <stdarg.h>
#include <stddef.h>

class SqlParams;

// Builds SQL text piece by piece into a fixed room with the directives of
// sql_print.h. Once a piece does not fit, that piece and every further one
// are refused, so a statement is either whole or known to be cut.
// With params, the text is the statement's shape instead: the value
// directives (%s, %i, %u, %lli, %llu) stay in it as they are, their values
// go to params, and %q, %e and %% are written out, with every % doubled.
class SqlText {
public:
    SqlText(char* buf, size_t size, SqlParams* params = nullptr);

    bool Print(const char* format, ...);
    bool PrintV(const char* format, va_list ap);
    void Restart();
    // The room left for text written by other means (with its NUL), and the
    // length they wrote there.
    char* End() { return buf + len; }
    size_t Room() const { return full ? 0 : size - len; }
    void Advance(size_t written);

    size_t Length() const { return len; }
    bool Full() const { return full; }
    const char* Text() const { return buf; }

    SqlParams* Params() const { return params; }

private:
    size_t PrintShape(char* out, size_t room, const char* format, va_list ap);

    char* buf;
    size_t size;
    size_t len = 0;
    bool full = false;
    SqlParams* params;
    // The values that were there before this text began.
    size_t firstParam;
};

#pragma once

#include <stdarg.h>
#include <stddef.h>

class IInstanceLog;

// Builds SQL text from a format whose directives quote and escape their
// arguments, so that no caller pastes a value into SQL by hand:
//   %s literal, %S identifier, %n name, %e LIKE text, %q verbatim fragment,
//   %b bool, %i %u int, %lli %llu 64-bit, %f double, %du bytes + length,
//   %pi %pu %pb %plli %pllu pointers (null writes NULL), %% a percent sign.
// Writes at most size - 1 characters and a NUL; returns the length written.
// An unknown directive is logged on behalf of the database object (logId)
// and is a fatal assertion.
size_t SqlPrintV(char* buf, size_t size, const char* format, va_list ap, IInstanceLog* log,
                 const unsigned logId[2]);

size_t SqlPrint(char* buf, size_t size, const char* format, ...);

// Copies value with a backslash before every % and _ (for LIKE patterns).
size_t SqlEscapeSearchLiterals(const char* value, char* out, size_t size);

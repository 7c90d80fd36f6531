#pragma once

// Broken invariants end the process: the line goes to the log, the file
// system is synced so the trace survives, and SIGSEGV leaves a core dump.
[[noreturn]] void fatal_assert(const char* msg, const char* func, unsigned line);

#define FATAL(msg) fatal_assert((msg), __FUNCTION__, __LINE__)
#define ASSERT(cond, msg)                                   \
    do {                                                    \
        if (!(cond)) fatal_assert((msg), __FUNCTION__, __LINE__); \
    } while (0)

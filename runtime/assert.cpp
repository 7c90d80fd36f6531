#include "runtime/assert.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "runtime/debug.h"

void fatal_assert(const char* msg, const char* func, unsigned line)
{
    // Without the log (before it exists, after it is gone) the line must
    // still reach someone.
    if (debug) debug->printf("ASSERT: %s (%s:%u)", msg, func, line);
    else fprintf(stderr, "ASSERT: %s (%s:%u)\n", msg, func, line);
    sync();
    raise(SIGSEGV);
    abort();
}

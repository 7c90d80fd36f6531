#include "runtime/assert.h"

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "runtime/debug.h"

void fatal_assert(const char* msg, const char* func, unsigned line)
{
    if (debug) debug->printf("ASSERT: %s (%s:%u)", msg, func, line);
    sync();
    raise(SIGSEGV);
    abort();
}

#include "runtime/debug.h"

#include "runtime/debug_log.h"

IDebug* IDebug::Create()
{
    static IDebug* instance = new Debug();
    return instance;
}

IDebug* debug = IDebug::Create();

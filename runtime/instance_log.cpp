#include "runtime/instance_log.h"

#include "runtime/debug.h"

void IInstanceLog::Log(LogFlags flag, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    LogV(flag, fmt, ap);
    va_end(ap);
}

void IInstanceLog::LogV(LogFlags flag, const char* fmt, va_list ap)
{
    if (!(logFlags & flag) || !debug) return;
    debug->appPrintfV(GetAppName(), GetAppDomain(), fmt, ap, true);
}

void IInstanceLog::HexDump(LogFlags flag, const void* data, unsigned len)
{
    if (!(logFlags & flag) || !debug) return;
    debug->appHexdump(GetAppName(), GetAppDomain(), data, len);
}

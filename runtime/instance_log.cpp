#include "runtime/instance_log.h"

#include "runtime/debug.h"

void IInstanceLog::Log(unsigned long long flag, const char* fmt, ...)
{
    if (!(logFlags & flag)) return;
    va_list ap;
    va_start(ap, fmt);
    debug->appPrintfV(GetAppName(), GetAppDomain(), fmt, ap, true);
    va_end(ap);
}

void IInstanceLog::LogV(unsigned long long flag, const char* fmt, va_list ap)
{
    if (!(logFlags & flag)) return;
    debug->appPrintfV(GetAppName(), GetAppDomain(), fmt, ap, true);
}

void IInstanceLog::HexDump(unsigned long long flag, const void* data, unsigned len)
{
    if (!(logFlags & flag)) return;
    debug->appHexdump(GetAppName(), GetAppDomain(), data, len);
}

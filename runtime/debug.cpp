// Temporary stand-in until the rotating file log lands: writes to stderr.
#include "runtime/debug.h"

#include <stdio.h>

namespace {
class StderrDebug : public IDebug {
public:
    void printf(const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        appPrintfV(nullptr, nullptr, fmt, ap, true);
        va_end(ap);
    }
    void iprintf(const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        appPrintfV(nullptr, nullptr, fmt, ap, true);
        va_end(ap);
    }
    void hexdump(const void*, unsigned) override {}
    void appPrintf(const char* n, const char* d, const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        appPrintfV(n, d, fmt, ap, true);
        va_end(ap);
    }
    void appPrintfV(const char*, const char*, const char* fmt, va_list ap, bool lf) override
    {
        vfprintf(stderr, fmt, ap);
        if (lf) fputc('\n', stderr);
    }
    void appHexdump(const char*, const char*, const void*, unsigned) override {}
    bool IsDebuggerPresent() override { return false; }
    void SetIIoMux(void*) override {}
    void ReOpenLogFile() override {}
    void SetLogging(bool) override {}
    void SetHexdump(bool) override {}
    void SetLogFileSize(long) override {}
    void ClearLogFiles() override {}
    bool IsCoreDumped() override { return false; }
};
}  // namespace

IDebug* IDebug::Create()
{
    static StderrDebug d;
    return &d;
}

IDebug* debug = IDebug::Create();

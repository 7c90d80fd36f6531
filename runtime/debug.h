#pragma once

#include <stdarg.h>

// The process log. One object exists for the whole process (global `debug`),
// created before main and deleted last by the process entry.
class IDebug {
public:
    static IDebug* Create();
    virtual ~IDebug() {}
    virtual void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual void iprintf(const char* fmt, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual void hexdump(const void* data, unsigned len) = 0;
    virtual void appPrintf(const char* appName, const char* appDomain, const char* fmt, ...)
        __attribute__((format(printf, 4, 5))) = 0;
    // Without lineFeed the caller's format carries its own line end (or none).
    virtual void appPrintfV(const char* appName, const char* appDomain, const char* fmt, va_list ap,
                            bool lineFeed) = 0;
    virtual void appHexdump(const char* appName, const char* appDomain, const void* data, unsigned len) = 0;
    virtual void appOSILayer4(const char*, const char*, const void*, unsigned, bool) {}
    virtual bool IsDebuggerPresent() = 0;
    virtual void SetIIoMux(void* iomux) = 0;
    virtual void ReOpenLogFile() = 0;
    virtual void SetLogging(bool on) = 0;
    virtual void SetHexdump(bool on) = 0;
    virtual void SetLogFileSize(long total) = 0;
    virtual void ClearLogFiles() = 0;
    virtual bool IsCoreDumped() = 0;
    // Trace hooks kept for interface compatibility; they do nothing here.
    virtual bool data_valid() { return false; }
    virtual void do_trace(const char*) {}
    virtual void hexdump(int, const void*, unsigned) {}
    virtual void osi_layer_4(const void*, unsigned) {}
    virtual void osi_layer_4(const char*, const void*, unsigned) {}
    virtual void trace_on() {}
    virtual void trace_off() {}
};

// Null before the log exists (static initialisers that run earlier) and after
// the process entry has deleted it; code that may run then must check.
extern IDebug* debug;

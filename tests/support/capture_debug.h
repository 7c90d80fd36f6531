#pragma once

#include <stdarg.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/iomux.h"

// Stands in for the process log while it lives: keeps every line, and, like
// the real log, registers for signals when it is handed a loop. With `echo`
// the lines also go to standard error, where death tests look for them.
class CaptureDebug : public IDebug, public ISignalConsumer {
public:
    explicit CaptureDebug(bool echo = false) : echo(echo), saved(debug) { debug = this; }
    ~CaptureDebug() override { debug = saved; }
    using IDebug::hexdump;
    void printf(const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        appPrintfV(nullptr, nullptr, fmt, ap, true);
        va_end(ap);
    }
    void iprintf(const char*, ...) override {}
    void appPrintf(const char*, const char*, const char*, ...) override {}
    void appPrintfV(const char*, const char*, const char* fmt, va_list ap, bool) override
    {
        char line[2048];
        vsnprintf(line, sizeof(line), fmt, ap);
        lines.push_back(line);
        if (echo) fprintf(stderr, "%s\n", line);
    }
    void hexdump(const void*, unsigned) override {}
    void appHexdump(const char*, const char*, const void*, unsigned) override {}
    bool IsDebuggerPresent() override { return false; }
    void SetIIoMux(void* iomux) override
    {
        handedLoop = iomux;
        static_cast<IIoMux*>(iomux)->RegisterSignalConsumer(this);
    }
    void ReOpenLogFile() override {}
    void SetLogging(bool) override {}
    void SetHexdump(bool) override {}
    void SetLogFileSize(long) override {}
    void ClearLogFiles() override {}
    bool IsCoreDumped() override { return false; }
    void OnSignal(int sig) override { signals.push_back(sig); }
    bool Logged(const std::string& part) const
    {
        for (const auto& l : lines)
            if (l.find(part) != std::string::npos) return true;
        return false;
    }

    bool echo;
    IDebug* saved;
    std::vector<std::string> lines;
    std::vector<int> signals;
    void* handedLoop = nullptr;
};

#pragma once

#include <stddef.h>
#include <stdio.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/iomux.h"

// The rotating file log of the process. Lines go to
// <logRoot><name>/<name>-<UTC time>_<ms>.txt, at most five files; after a
// crash of the previous run a crash trace with the old lines and a backtrace
// of the core dump is written first. Where no log file can be written the
// lines go to standard error instead. Thread-safe: the DNS workers log too.
class Debug : public IDebug, public ISignalConsumer {
public:
    // The roots end in "/"; the process name is appended to each. Tests point
    // them at temporary directories.
    explicit Debug(const char* logRoot = "/var/log/apps/", const char* coreDumpRoot = "/var/log/core_dumps/",
                   const char* appsRoot = "/apps/");
    // Clears the global `debug` when it is this object.
    ~Debug() override;

    __attribute__((format(printf, 2, 3))) void printf(const char* fmt, ...) override;
    __attribute__((format(printf, 2, 3))) void iprintf(const char* fmt, ...) override;
    using IDebug::hexdump;
    void hexdump(const void* data, unsigned len) override;
    __attribute__((format(printf, 4, 5))) void appPrintf(const char* appName, const char* appDomain,
                                                         const char* fmt, ...) override;
    void appPrintfV(const char* appName, const char* appDomain, const char* fmt, va_list ap,
                    bool lineFeed) override;
    void appHexdump(const char* appName, const char* appDomain, const void* data, unsigned len) override;
    bool IsDebuggerPresent() override { return debugger; }
    // The loop must outlive this object: there is no way to unregister.
    void SetIIoMux(void* iomux) override;
    void ReOpenLogFile() override;
    void SetLogging(bool on) override { logging = on; }
    void SetHexdump(bool on) override { hexdumps = on; }
    void SetLogFileSize(long total) override;
    void ClearLogFiles() override;
    bool IsCoreDumped() override { return lastCoreDump != 0; }

    void OnSignal(int sig) override;

    const char* ProcessName() const { return name.c_str(); }

private:
    void Line(bool lineFeed, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void DoPrintf(const char* text, size_t len);
    // The callers below hold the mutex (or run in the constructor).
    void Write(const char* text, size_t len);
    void ReOpenLocked();
    void CloseFile();
    FILE* OpenFile(const char* suffix, unsigned keep, bool forceNew, long* size);
    FILE* CreateFile(const char* suffix);
    bool MakeLogDirectory();
    void NoticeStderr(const char* what);
    std::vector<std::string> ListFiles(const char* suffix) const;
    void RemoveFile(const std::string& fileName);
    void CheckCoreDump();
    void CopyOldLogs(FILE* crash);
    void TraceCoreDump(FILE* crash, const std::string& dump);

    std::string name;
    std::string dir;
    std::string coreDumpRoot;
    std::string appsRoot;
    FILE* file = nullptr;
    long bytes = 0;
    long limit = 0x100000;
    std::atomic<bool> logging{true};
    std::atomic<bool> hexdumps{true};
    bool rotating = false;
    bool coreMode = false;
    bool debugger = false;
    bool stderrNoticed = false;
    long lastCoreDump = 0;
    std::mutex mutex;
};

#include "runtime/debug_log.h"

#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "runtime/assert.h"
#include "runtime/build_info.h"

namespace {

// Collects a line in a stack buffer; only lines longer than that touch the heap.
class LineText {
public:
    LineText() { local[0] = 0; }
    ~LineText() { free(heap); }
    LineText(const LineText&) = delete;
    LineText& operator=(const LineText&) = delete;

    bool Append(const char* s, size_t n)
    {
        if (len + n + 1 > cap && !Grow(len + n + 1)) return false;
        char* d = heap ? heap : local;
        memcpy(d + len, s, n);
        len += n;
        d[len] = 0;
        return true;
    }
    // App names become part of a format, so their '%' must stay literal.
    bool AppendEscaped(const char* s)
    {
        for (const char* p = s; *p; p++) {
            if (*p == '%' && !Append("%", 1)) return false;
            if (!Append(p, 1)) return false;
        }
        return true;
    }
    const char* Data() const { return heap ? heap : local; }

private:
    bool Grow(size_t need)
    {
        size_t size = cap * 2 > need ? cap * 2 : need;
        char* bigger = static_cast<char*>(malloc(size));
        if (!bigger) return false;
        memcpy(bigger, Data(), len + 1);
        free(heap);
        heap = bigger;
        cap = size;
        return true;
    }

    char local[256];
    char* heap = nullptr;
    size_t len = 0;
    size_t cap = sizeof(local);
};

bool TracedByDebugger()
{
    FILE* status = fopen("/proc/self/status", "re");
    if (!status) return false;
    char line[256];
    int tracer = 0;
    while (fgets(line, sizeof(line), status)) {
        if (sscanf(line, "TracerPid: %d", &tracer) == 1) break;
    }
    fclose(status);
    return tracer != 0;
}

}  // namespace

Debug::Debug(const char* logRoot, const char* coreDumpRoot, const char* appsRoot)
    : coreDumpRoot(coreDumpRoot), appsRoot(appsRoot)
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0) FATAL("AppPrintfFile::AppPrintfFile readlink returned no file path");
    exe[n] = 0;
    const char* slash = strrchr(exe, '/');
    name = slash ? slash + 1 : exe;
    dir = std::string(logRoot) + name + "/";
    debugger = TracedByDebugger();
    // Under a debugger the dump is most likely of the session being debugged.
    if (!debugger) CheckCoreDump();
    if (!file) file = OpenFile(".txt", 5, false, &bytes);
    if (IsCoreDumped()) {
        Line(true, "Core dumped due to a crash (current app build %s). Take a look at the core dump backtrace files!",
             messagesBuild);
    }
}

Debug::~Debug()
{
    if (debug == this) debug = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    CloseFile();
}

void Debug::printf(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    appPrintfV(nullptr, nullptr, fmt, ap, true);
    va_end(ap);
}

void Debug::iprintf(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    appPrintfV(nullptr, nullptr, fmt, ap, true);
    va_end(ap);
}

void Debug::appPrintf(const char* appName, const char* appDomain, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    appPrintfV(appName, appDomain, fmt, ap, true);
    va_end(ap);
}

void Debug::Line(bool lineFeed, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    appPrintfV(nullptr, nullptr, fmt, ap, lineFeed);
    va_end(ap);
}

void Debug::appPrintfV(const char* appName, const char* appDomain, const char* fmt, va_list ap, bool lineFeed)
{
    if (!logging) return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // Busy loops write thousands of lines a second: the date is made once a second.
    thread_local time_t second = -1;
    thread_local char date[32];
    thread_local size_t n = 0;
    if (now.tv_sec != second) {
        struct tm tm;
        gmtime_r(&now.tv_sec, &tm);
        n = strftime(date, sizeof(date), "%m-%d %H:%M:%S", &tm);
        second = now.tv_sec;
    }
    char stamp[48];
    memcpy(stamp, date, n);
    snprintf(stamp + n, sizeof(stamp) - n, ".%03u ", static_cast<unsigned>(now.tv_nsec / 1000000));

    LineText format;
    bool ok = format.Append(stamp, strlen(stamp));
    if (appName && *appName && appDomain && *appDomain) {
        ok = ok && format.AppendEscaped(appName) && format.Append("@", 1) && format.AppendEscaped(appDomain) &&
             format.Append(" ", 1);
    }
    ok = ok && format.Append(fmt, strlen(fmt));
    if (lineFeed) ok = ok && format.Append("\n", 1);
    if (!ok) return;

    va_list again;
    va_copy(again, ap);
    // Statements of several KB are logged hundreds of times a second: room
    // for them spares a second formatting pass into a heap buffer.
    char text[8192];
    int len = vsnprintf(text, sizeof(text), format.Data(), ap);
    if (len >= 0 && static_cast<size_t>(len) < sizeof(text)) {
        DoPrintf(text, len);
    }
    else if (len >= 0) {
        char* big = static_cast<char*>(malloc(len + 1));
        if (big) {
            vsnprintf(big, len + 1, format.Data(), again);
            DoPrintf(big, len);
            free(big);
        }
    }
    va_end(again);
}

void Debug::hexdump(const void* data, unsigned len)
{
    appHexdump(nullptr, nullptr, data, len);
}

void Debug::appHexdump(const char* appName, const char* appDomain, const void* data, unsigned len)
{
    if (!logging || !hexdumps || !data) return;
    static const char digits[] = "0123456789ABCDEF";
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (unsigned offset = 0; offset < len; offset += 16) {
        char line[128];
        int n = snprintf(line, sizeof(line), "      %08X:",
                         static_cast<unsigned>(reinterpret_cast<uintptr_t>(bytes + offset) & 0xffffffffu));
        for (unsigned i = 0; i < 16; i++) {
            if (i % 4 == 0) line[n++] = ' ';
            line[n++] = ' ';
            if (offset + i < len) {
                line[n++] = digits[bytes[offset + i] >> 4];
                line[n++] = digits[bytes[offset + i] & 0xf];
            }
            else {
                line[n++] = ' ';
                line[n++] = ' ';
            }
        }
        line[n++] = ' ';
        line[n++] = ' ';
        for (unsigned i = 0; i < 16 && offset + i < len; i++) {
            unsigned char c = bytes[offset + i];
            line[n++] = c >= 0x20 && c <= 0x7e ? static_cast<char>(c) : '.';
        }
        line[n] = 0;
        appPrintf(appName, appDomain, "%s", line);
    }
}

void Debug::DoPrintf(const char* text, size_t len)
{
    std::lock_guard<std::mutex> lock(mutex);
    Write(text, len);
}

void Debug::Write(const char* text, size_t len)
{
    if (debugger) {
        fwrite(text, 1, len, stdout);
        fflush(stdout);
    }
    if (!file) {
        fwrite(text, 1, len, stderr);
        return;
    }
    fwrite(text, 1, len, file);
    fflush(file);
    bytes += static_cast<long>(len);
    if (bytes > limit && !rotating) ReOpenLocked();
}

void Debug::SetIIoMux(void* iomux)
{
    if (iomux) static_cast<IIoMux*>(iomux)->RegisterSignalConsumer(this);
}

void Debug::OnSignal(int sig)
{
    if (sig == 1) ReOpenLogFile();
}

void Debug::SetLogFileSize(long total)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (total / 5 > 0) limit = total / 5;
}

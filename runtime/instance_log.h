#pragma once

#include <stdarg.h>

// Component bits of a log flag mask: a line is written only when the
// component's bit is set in the logging object's mask.
enum LogFlags : unsigned long long {
    LOG_APP = 0x1,
    LOG_DATABASE = 0x2,
    LOG_DBFILES = 0x4,
    LOG_DNS = 0x8,
    LOG_FILES = 0x20,
    LOG_HTTP_CLIENT = 0x80,
    LOG_TLS = 0x400,
    LOG_TCP = 0x800,
    LOG_LOCAL_SOCKETS = 0x1000,
    LOG_WEBSERVER_PLUGIN = 0x2000,
    LOG_WEBSERVER_PLUGIN_LINK = 0x4000,
    LOG_APP_WEBSOCKET = 0x8000,
};

// The logging identity of an object: app name, app domain and flag mask.
class IInstanceLog {
public:
    IInstanceLog(unsigned long long logFlags = 0) : logFlags(logFlags) {}
    virtual ~IInstanceLog() {}
    virtual const char* GetAppName() const { return nullptr; }
    virtual const char* GetAppDomain() const { return nullptr; }
    bool LogFlagSet(unsigned long long flag) const { return (logFlags & flag) != 0; }
    void Log(unsigned long long flag, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void LogV(unsigned long long flag, const char* fmt, va_list ap);
    void HexDump(unsigned long long flag, const void* data, unsigned len);

    unsigned long long logFlags;
};

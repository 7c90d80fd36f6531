#pragma once

#include <stdarg.h>

// Component bits of a log flag mask: a line is written only when the
// component's bit is set in the logging object's mask. A plain integer type,
// so that masks combine with '|' and can be stored and passed as they are.
typedef unsigned long long LogFlags;
inline constexpr LogFlags LOG_APP = 0x1;
inline constexpr LogFlags LOG_DATABASE = 0x2;
inline constexpr LogFlags LOG_DBFILES = 0x4;
inline constexpr LogFlags LOG_DNS = 0x8;
inline constexpr LogFlags LOG_FILES = 0x20;
inline constexpr LogFlags LOG_HTTP_CLIENT = 0x80;
inline constexpr LogFlags LOG_TLS = 0x400;
inline constexpr LogFlags LOG_TCP = 0x800;
inline constexpr LogFlags LOG_LOCAL_SOCKETS = 0x1000;
inline constexpr LogFlags LOG_WEBSERVER_PLUGIN = 0x2000;
inline constexpr LogFlags LOG_WEBSERVER_PLUGIN_LINK = 0x4000;
inline constexpr LogFlags LOG_APP_WEBSOCKET = 0x8000;

// The logging identity of an object: app name, app domain and flag mask.
// Lines carry "name@domain " only when both are known.
class IInstanceLog {
public:
    IInstanceLog(LogFlags logFlags = 0) : logFlags(logFlags) {}
    virtual ~IInstanceLog() {}
    virtual const char* GetAppName() const { return nullptr; }
    virtual const char* GetAppDomain() const { return nullptr; }
    bool LogFlagSet(LogFlags flag) const { return (logFlags & flag) != 0; }
    void Log(LogFlags flag, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
    void LogV(LogFlags flag, const char* fmt, va_list ap);
    void HexDump(LogFlags flag, const void* data, unsigned len);

    LogFlags logFlags;
};

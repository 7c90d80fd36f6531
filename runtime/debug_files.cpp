// The files behind the process log: listing, rotation, creation.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/debug_log.h"

namespace {

// "2024-05-01T12_00_00Z_123": the part of a file name between "<name>-" and
// the suffix.
const size_t stampLength = 24;

}  // namespace

void Debug::ReOpenLogFile()
{
    std::lock_guard<std::mutex> lock(mutex);
    ReOpenLocked();
}

void Debug::ReOpenLocked()
{
    rotating = true;
    bool full = bytes > limit;
    CloseFile();
    // A full core file is left behind, so that its backtrace survives the
    // rotation of the plain log; a mere reopen stays with it.
    if (coreMode && !full) {
        file = OpenFile(".core.txt", 2, false, &bytes);
    }
    else {
        coreMode = false;
        file = OpenFile(".txt", 5, false, &bytes);
    }
    rotating = false;
}

void Debug::ClearLogFiles()
{
    std::lock_guard<std::mutex> lock(mutex);
    CloseFile();
    for (const char* suffix : {".txt", ".core.txt", ".crash.txt"}) {
        for (const std::string& f : ListFiles(suffix)) RemoveFile(f);
    }
    coreMode = false;
    file = OpenFile(".txt", 5, true, &bytes);
}

void Debug::CloseFile()
{
    if (file) fclose(file);
    file = nullptr;
    bytes = 0;
}

FILE* Debug::OpenFile(const char* suffix, unsigned keep, bool forceNew, long* size)
{
    *size = 0;
    if (!MakeLogDirectory()) return nullptr;
    std::vector<std::string> files = ListFiles(suffix);
    while (files.size() > keep) {
        RemoveFile(files.front());
        files.erase(files.begin());
    }
    if (!forceNew && !files.empty()) {
        std::string newest = dir + files.back();
        struct stat st;
        if (stat(newest.c_str(), &st) == 0 && st.st_size < limit) {
            FILE* f = fopen(newest.c_str(), "ae");
            if (f) {
                fchmod(fileno(f), 0644);
                *size = st.st_size;
                return f;
            }
        }
    }
    if (!files.empty() && files.size() >= keep) RemoveFile(files.front());
    return CreateFile(suffix);
}

FILE* Debug::CreateFile(const char* suffix)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    long long ms = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    // Files opened within the same millisecond would share a name; the later
    // one takes the next free millisecond, which keeps the names in order.
    for (int attempt = 0; attempt < 1000; attempt++, ms++) {
        time_t seconds = static_cast<time_t>(ms / 1000);
        struct tm tm;
        gmtime_r(&seconds, &tm);
        char iso[32];
        strftime(iso, sizeof(iso), "%Y-%m-%dT%H:%M:%SZ", &tm);
        for (char* c = iso; *c; c++) {
            if (*c == ':') *c = '_';
        }
        char path[PATH_MAX];
        int n = snprintf(path, sizeof(path), "%s%s-%s_%03i%s", dir.c_str(), name.c_str(), iso,
                         static_cast<int>(ms % 1000), suffix);
        if (n < 0 || n >= static_cast<int>(sizeof(path))) break;
        int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // The umask must not hide the log from the platform's readers.
            fchmod(fd, 0644);
            FILE* f = fdopen(fd, "w");
            if (!f) close(fd);
            return f;
        }
        if (errno != EEXIST) {
            NoticeStderr(dir.c_str());
            break;
        }
    }
    return nullptr;
}

bool Debug::MakeLogDirectory()
{
    for (size_t i = 1; i <= dir.size(); i++) {
        if (i < dir.size() && dir[i] != '/') continue;
        std::string part = dir.substr(0, i);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            NoticeStderr(part.c_str());
            return false;
        }
    }
    return true;
}

void Debug::NoticeStderr(const char* what)
{
    if (stderrNoticed) return;
    stderrNoticed = true;
    fprintf(stderr, "%s: cannot write log files in %s (%s), logging to standard error\n", name.c_str(), what,
            strerror(errno));
}

std::vector<std::string> Debug::ListFiles(const char* suffix) const
{
    std::vector<std::string> files;
    DIR* d = opendir(dir.c_str());
    if (!d) return files;
    size_t suffixLength = strlen(suffix);
    while (struct dirent* e = readdir(d)) {
        const char* f = e->d_name;
        if (strlen(f) != name.size() + 1 + stampLength + suffixLength) continue;
        if (strncmp(f, name.c_str(), name.size()) != 0 || f[name.size()] != '-') continue;
        const char* stamp = f + name.size() + 1;
        if (stamp[4] != '-' || stamp[10] != 'T' || stamp[19] != 'Z' || stamp[20] != '_') continue;
        if (strcmp(stamp + stampLength, suffix) != 0) continue;
        files.push_back(f);
    }
    closedir(d);
    // The time stamps in the names sort oldest first.
    std::sort(files.begin(), files.end());
    return files;
}

void Debug::RemoveFile(const std::string& fileName)
{
    unlink((dir + fileName).c_str());
}

// The crash trace written at start when the previous run left a core dump.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

#include "runtime/build_info.h"
#include "runtime/debug_log.h"

namespace {

const size_t copyBlock = 65536;
// A backtrace of every thread fits well within this; a damaged dump can make
// the debugger print without end.
const unsigned maxTraceLines = 201;

bool NotOlder(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

}  // namespace

void Debug::CheckCoreDump()
{
    std::string base = coreDumpRoot + name + "/" + name;
    std::string dump = base + ".core.dump";
    std::string marker = base + ".core.checked";
    struct stat dumpStat;
    struct stat markerStat;
    if (stat(dump.c_str(), &dumpStat) != 0) return;
    if (stat(marker.c_str(), &markerStat) == 0 && NotOlder(markerStat.st_mtim, dumpStat.st_mtim)) return;

    long crashSize;
    FILE* crash = OpenFile(".crash.txt", 4, true, &crashSize);
    if (!crash) {
        file = OpenFile(".txt", 5, false, &bytes);
        Line(true, "failed to create file for crash trace dump");
        return;
    }
    fprintf(crash,
            "Traces of the webserver and app %s from before the crash (current build:%s). Backtraces can be found "
            "after the traces.\n\n",
            name.c_str(), messagesBuild);
    CopyOldLogs(crash);
    file = OpenFile(".core.txt", 2, false, &bytes);
    coreMode = file != nullptr;
    TraceCoreDump(crash, dump);
    fclose(crash);

    FILE* checked = fopen(marker.c_str(), "we");
    if (checked) {
        fprintf(checked, "processed by build %s\n", messagesBuild);
        fclose(checked);
    }
    lastCoreDump = std::max<long>(dumpStat.st_mtime, 1);
}

void Debug::CopyOldLogs(FILE* crash)
{
    std::vector<std::string> files = ListFiles(".txt");
    std::vector<std::string> coreFiles = ListFiles(".core.txt");
    files.insert(files.end(), coreFiles.begin(), coreFiles.end());
    std::sort(files.begin(), files.end());
    std::vector<char> block(copyBlock);
    for (const std::string& f : files) {
        FILE* in = fopen((dir + f).c_str(), "re");
        if (in) {
            size_t n;
            while ((n = fread(block.data(), 1, block.size(), in)) > 0) fwrite(block.data(), 1, n, crash);
            fclose(in);
        }
        // Written before the clock was set: every such start reuses the name.
        if (f.find("-1970-01-01T00_00_00Z_000.txt") != std::string::npos) RemoveFile(f);
    }
}

void Debug::TraceCoreDump(FILE* crash, const std::string& dump)
{
    std::string command = "gdb --batch -q " + appsRoot + name + "/" + name + " " + dump +
                          " --eval-command=\"thread apply all bt\" 2>&1";
    FILE* gdb = popen(command.c_str(), "r");
    if (!gdb) {
        Line(true, "failed to run GDB to get stack trace from core dump %s", dump.c_str());
        return;
    }
    Line(false, "dumping stack trace from core dump %s (current build:%s)\n", dump.c_str(), messagesBuild);
    fprintf(crash, "dumping stack trace from core dump %s (current build:%s)\n", dump.c_str(), messagesBuild);
    char text[2048];
    unsigned lines = 0;
    while (fgets(text, sizeof(text), gdb)) {
        size_t n = strlen(text);
        fwrite(text, 1, n, crash);
        DoPrintf(text, n);
        if (++lines == maxTraceLines) {
            std::string kill = "kill -9 `ps - eo pid, args | awk '/" + name +
                               ".core.dump/ && $1 != PROCINFO[\"pid\"] { print $1 }'`";
            int rc = system(kill.c_str());
            (void)rc;
            break;
        }
    }
    DoPrintf("\n", 1);
    fputc('\n', crash);
    pclose(gdb);
}

#include "runtime/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "runtime/build_info.h"
#include "runtime/instance_log.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;

namespace {

const std::string stamp = R"(\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";

struct Component : IInstanceLog {
    Component() : IInstanceLog(LOG_APP | LOG_APP_WEBSOCKET) {}
    const char* GetAppName() const override { return "chat"; }
    const char* GetAppDomain() const override { return "example.com"; }
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// Every test gets its own log, core dump and apps roots.
class DebugLog : public testing::Test {
protected:
    void SetUp() override
    {
        name = Start()->ProcessName();
        dir = root + "logs/" + name + "/";
        fs::remove_all(dir);
        fs::create_directories(dir);
        dump = root + "cores/" + name + "/" + name + ".core.dump";
    }

    std::unique_ptr<Debug> Start(const std::string& logs = "logs/")
    {
        return std::make_unique<Debug>((root + logs).c_str(), (root + "cores/").c_str(), (root + "apps/").c_str());
    }
    // This process's files with exactly this suffix, oldest first.
    std::vector<std::string> Files(const std::string& suffix = ".txt") const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) {
            std::string n = e.path().filename();
            if (n.size() == name.size() + 25 + suffix.size() && n.substr(name.size() + 25) == suffix) names.push_back(n);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string Read(const std::string& file) const
    {
        std::ifstream in(dir + file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& file, const std::string& text) const { std::ofstream(dir + file) << text; }
    void MakeDump(time_t mtime) const
    {
        fs::create_directories(root + "cores/" + name);
        std::ofstream(dump) << "not really a core dump";
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, dump.c_str(), times, 0));
    }

    harness::TempDir tmp;
    std::string root = tmp.path + "/", name, dir, dump;
};

}  // namespace

TEST_F(DebugLog, lines_carry_time_stamp_and_app_only_when_name_and_domain_are_known)
{
    auto log = Start();
    log->appPrintf("chat", "example.com", "first %d", 1);
    log->appPrintf("chat", "", "second");
    log->appPrintf("100%s", "x.com", "third %s", "arg");
    std::string longText(400, 'x');
    log->printf("%s|%d", longText.c_str(), 7);
    log->SetLogging(false);
    log->printf("while off");
    log->SetLogging(true);
    log->SetHexdump(false);
    log->hexdump("data", 4);

    // Instance logs filter by component bit and tolerate a deleted log.
    IDebug* saved = debug;
    debug = log.get();
    Component c;
    c.Log(LOG_APP, "shown %s", "here");
    c.Log(LOG_DATABASE, "hidden");
    debug = nullptr;
    c.Log(LOG_APP, "nowhere");
    debug = saved;

    std::vector<std::string> lines = Lines(Read(Files().at(0)));
    ASSERT_EQ(5u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + "chat@example\\.com first 1"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + "second"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + "100%s@x\\.com third arg"))) << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(stamp + longText + "\\|7"))) << lines[3];
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(stamp + "chat@example\\.com shown here"))) << lines[4];
}

TEST_F(DebugLog, files_rotate_at_a_fifth_of_the_total_size_and_five_are_kept)
{
    auto log = Start();
    Write(name + "-2020-01-01T00_00_00Z_000.crash.txt", "crash");
    Write(name + "-2020-01-01T00_00_00Z_000.core.txt", "core");
    std::string text(90, 'a');  // 110 bytes a line with the time stamp
    log->SetLogFileSize(5000000);
    for (int i = 0; i < 1000000 / 110 + 100; i++) log->printf("%s", text.c_str());
    ASSERT_EQ(2u, Files().size());
    EXPECT_GT(fs::file_size(dir + Files()[0]), 1000000u);
    EXPECT_LT(fs::file_size(dir + Files()[0]), 1000200u);

    log->SetLogFileSize(5000);
    std::vector<std::string> seen;
    while (seen.size() < 8) {
        log->printf("%s", text.c_str());
        if (seen.empty() || seen.back() != Files().back()) seen.push_back(Files().back());
    }
    EXPECT_EQ(std::vector<std::string>(seen.end() - 5, seen.end()), Files());
    EXPECT_EQ(1100u, fs::file_size(dir + Files()[0]));
    EXPECT_EQ(1u, Files(".crash.txt").size());
    EXPECT_EQ(1u, Files(".core.txt").size());
}

TEST_F(DebugLog, start_replaces_the_oldest_of_five_full_files_and_appends_to_a_newest_below_the_limit)
{
    for (int day = 1; day <= 5; day++) {
        std::string file = name + "-2020-01-0" + std::to_string(day) + "T00_00_00Z_000.txt";
        Write(file, "old");
        fs::resize_file(dir + file, 0x100000);
    }
    Start()->printf("first run");
    std::vector<std::string> files = Files();
    ASSERT_EQ(5u, files.size());
    EXPECT_EQ(name + "-2020-01-02T00_00_00Z_000.txt", files[0]);
    EXPECT_EQ(std::string::npos, files[4].find("2020-01-0"));

    Start()->printf("second run");
    EXPECT_EQ(files, Files());
    std::vector<std::string> lines = Lines(Read(files[4]));
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("first run"));
    EXPECT_NE(std::string::npos, lines[1].find("second run"));
}

TEST_F(DebugLog, reopen_after_deletion_starts_a_new_file_and_clearing_removes_all)
{
    auto log = Start();
    log->printf("before");
    fs::remove(dir + Files().at(0));
    log->OnSignal(1);
    log->printf("after signal");
    ASSERT_EQ(1u, Files().size());
    EXPECT_EQ(std::string::npos, Read(Files()[0]).find("before"));
    EXPECT_NE(std::string::npos, Read(Files()[0]).find("after signal"));

    Write(name + "-2020-01-01T00_00_00Z_000.crash.txt", "crash");
    log->ClearLogFiles();
    log->printf("after clear");
    ASSERT_EQ(1, std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    EXPECT_EQ(std::string::npos, Read(Files().at(0)).find("after signal"));
    EXPECT_NE(std::string::npos, Read(Files()[0]).find("after clear"));
}

TEST_F(DebugLog, unwritable_log_directory_sends_lines_to_stderr_with_one_notice)
{
    std::ofstream(root + "blocker") << "a file where a directory should be";
    testing::internal::CaptureStderr();
    {
        auto log = Start("blocker/");
        log->printf("line %d", 1);
        log->ReOpenLogFile();
        log->printf("line %d", 2);
    }
    std::string err = testing::internal::GetCapturedStderr();
    size_t notice = err.find("logging to standard error");
    ASSERT_NE(std::string::npos, notice) << err;
    EXPECT_EQ(std::string::npos, err.find("logging to standard error", notice + 1)) << err;
    EXPECT_TRUE(std::regex_search(err, std::regex(stamp + "line 1\n" + stamp + "line 2\n"))) << err;
}

TEST_F(DebugLog, core_dump_yields_one_crash_trace_with_the_old_logs_until_a_newer_dump_appears)
{
    Write(name + "-2024-01-01T00_00_00Z_000.txt", "old plain lines\n");
    Write(name + "-2024-01-02T00_00_00Z_000.core.txt", "old core lines\n");
    Write(name + "-1970-01-01T00_00_00Z_000.txt", "lines before the clock was set\n");
    MakeDump(time(nullptr) - 60);
    {
        auto log = Start();
        EXPECT_TRUE(log->IsCoreDumped());
        log->ReOpenLogFile();
        log->printf("after the crash");
        log->SetLogFileSize(500);
        log->printf("rotating");
        log->printf("plain again");
    }
    ASSERT_EQ(1u, Files(".crash.txt").size());
    std::string trace = Read(Files(".crash.txt")[0]);
    std::string dumping = "dumping stack trace from core dump " + dump + " (current build:" + messagesBuild + ")\n";
    std::string expected = "Traces of the webserver and app " + name + " from before the crash (current build:" +
                           messagesBuild + "). Backtraces can be found after the traces.\n\n" +
                           "lines before the clock was set\nold plain lines\nold core lines\n" + dumping;
    EXPECT_EQ(expected, trace.substr(0, expected.size()));
    EXPECT_GT(trace.size(), expected.size() + 1) << "the debugger's complaint about the fake dump";
    EXPECT_TRUE(fs::exists(root + "cores/" + name + "/" + name + ".core.checked"));
    EXPECT_FALSE(fs::exists(dir + name + "-1970-01-01T00_00_00Z_000.txt"));

    // The current log became the core log, holding the backtrace before the notice.
    ASSERT_EQ(1u, Files(".core.txt").size());
    std::string core = Read(Files(".core.txt")[0]);
    EXPECT_EQ(0u, core.find("old core lines\n"));
    size_t notice = core.find("Core dumped due to a crash (current app build " + std::string(messagesBuild) +
                              "). Take a look at the core dump backtrace files!\n");
    EXPECT_LT(core.find(dumping), notice);
    EXPECT_LT(notice, core.find("after the crash"));
    EXPECT_NE(std::string::npos, core.find("rotating"));
    EXPECT_NE(std::string::npos, Read(Files().back()).find("plain again"));

    EXPECT_FALSE(Start()->IsCoreDumped());
    EXPECT_EQ(1u, Files(".crash.txt").size());
    MakeDump(time(nullptr) + 60);
    EXPECT_TRUE(Start()->IsCoreDumped());
    EXPECT_EQ(2u, Files(".crash.txt").size());
}

TEST_F(DebugLog, debugger_gets_program_and_dump_and_its_output_is_cut_after_201_lines)
{
    fs::create_directories(root + "bin");
    std::ofstream(root + "bin/gdb") << "#!/bin/sh\necho \"$@\"\nseq -f 'frame %g' 500\n";
    fs::permissions(root + "bin/gdb", fs::perms::owner_all);
    std::string path = getenv("PATH");
    setenv("PATH", (root + "bin:" + path).c_str(), 1);
    MakeDump(time(nullptr));
    testing::internal::CaptureStderr();  // the cleanup of leftover debuggers may complain
    Start();
    testing::internal::GetCapturedStderr();
    setenv("PATH", path.c_str(), 1);

    std::string trace = Read(Files(".crash.txt").at(0));
    EXPECT_NE(std::string::npos, trace.find("--batch -q " + root + "apps/" + name + "/" + name + " " + dump +
                                            " --eval-command=thread apply all bt\n"));
    EXPECT_NE(std::string::npos, trace.find("\nframe 200\n"));
    EXPECT_EQ(std::string::npos, trace.find("\nframe 201\n"));
}

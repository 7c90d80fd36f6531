#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/socket.h"
#include "runtime/debug.h"
#include "runtime/iomux.h"
#include "service/app_args.h"
#include "service/app_instance.h"
#include "service/app_service.h"
#include "tests/support/fake_manager.h"

namespace {

std::mutex eventsMutex;
std::vector<std::string> events;

void Record(const std::string& e)
{
    std::lock_guard<std::mutex> lock(eventsMutex);
    events.push_back(e);
}

std::vector<std::string> Events()
{
    std::lock_guard<std::mutex> lock(eventsMutex);
    return events;
}

// Stops on a later loop pass; an instance named "slow" needs three passes.
class TestInstance : public AppInstance, public UIoExec {
public:
    TestInstance(IIoMux* iomux, AppService* service, AppInstanceArgs* args)
        : AppInstance(service, args), iomux(iomux), passes(!strcmp(args->appName, "slow") ? 3 : 1)
    {
    }
    ~TestInstance() override { iomux->CancelSetExec(this); }
    void Stop() override
    {
        Record(std::string("stop ") + GetKey());
        iomux->SetExec(this, nullptr);
    }
    void IoExec(void*) override
    {
        if (--passes > 0) iomux->SetExec(this, nullptr);
        else service->AppStopped(this);
    }
    IIoMux* iomux;
    int passes;
};

class TestService : public AppService {
public:
    TestService(IIoMux* iomux, ISocketProvider* local, AppServiceArgs* args) : AppService(iomux, local, args) {}
    void AppServiceApps(istd::list* apps) override
    {
        apps->push_back(new AppServiceApp("messages"));
        apps->push_back(new AppServiceApp("messages-ws", true));
    }
    void AppInstancePlugins(istd::list* plugins) override
    {
        plugins->push_back(new AppInstancePlugin("solvantique.ManagerMessages", "solvantique-messages.png",
                                                 "solvantique.ManagerMessagesTexts", nullptr, false));
    }
    AppInstance* CreateInstance(AppInstanceArgs* args) override
    {
        Record(std::string("create ") + args->appName + "@" + args->appDomain);
        return new TestInstance(iomux, this, args);
    }
};

// Runs a service with its own loop on a thread of its own, as the process would.
class ServiceThread {
public:
    explicit ServiceThread(std::string managerPath) : managerPath(std::move(managerPath))
    {
        events.clear();
        thread = std::thread([this] {
            IIoMux* iomux = IIoMux::Create(true, 0);
            ISocketProvider* local = CreateLocalSocketProvider();
            AppServiceArgs args;
            args.serviceId = "messages";
            args.manager = this->managerPath.c_str();
            AppService* service = new TestService(iomux, local, &args);
            iomux->Run();
            delete service;
            delete local;
            delete iomux;
            finished = true;
        });
    }
    ~ServiceThread() { Join(); }
    // True when Run returned within the timeout.
    bool WaitFinished(int timeoutMs = 5000)
    {
        for (int i = 0; i < timeoutMs / 10 && !finished; i++) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (finished) Join();
        return finished;
    }
    void Join()
    {
        if (thread.joinable()) thread.join();
    }

    std::string managerPath;
    std::atomic<bool> finished{false};
    std::thread thread;
};

std::string AppStart(const std::string& name, const std::string& domain = "example.local")
{
    return "{\"mt\":\"AppStart\",\"instance\":{\"appName\":\"" + name + "\",\"appDomain\":\"" + domain +
           "\",\"webserverPath\":\"/" + name + "\",\"logFlags\":0}}";
}

// Forwards to the process log and remembers what the manager changed in it.
class RecordingDebug : public IDebug {
public:
    explicit RecordingDebug(IDebug* real) : real(real) {}
    void printf(const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        real->appPrintfV(nullptr, nullptr, fmt, ap, true);
        va_end(ap);
    }
    void iprintf(const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        real->appPrintfV(nullptr, nullptr, fmt, ap, true);
        va_end(ap);
    }
    void hexdump(const void* d, unsigned l) override { real->hexdump(d, l); }
    void appPrintf(const char* n, const char* d, const char* fmt, ...) override
    {
        va_list ap;
        va_start(ap, fmt);
        real->appPrintfV(n, d, fmt, ap, true);
        va_end(ap);
    }
    void appPrintfV(const char* n, const char* d, const char* fmt, va_list ap, bool lf) override
    {
        real->appPrintfV(n, d, fmt, ap, lf);
    }
    void appHexdump(const char* n, const char* d, const void* p, unsigned l) override { real->appHexdump(n, d, p, l); }
    bool IsDebuggerPresent() override { return false; }
    void SetIIoMux(void*) override {}
    void ReOpenLogFile() override { calls.push_back("reopen"); }
    void SetLogging(bool on) override { calls.push_back(on ? "logging on" : "logging off"); }
    void SetHexdump(bool on) override { calls.push_back(on ? "hexdump on" : "hexdump off"); }
    void SetLogFileSize(long total) override { calls.push_back("size " + std::to_string(total)); }
    void ClearLogFiles() override {}
    bool IsCoreDumped() override { return false; }

    IDebug* real;
    std::vector<std::string> calls;
};

}  // namespace

TEST(manager_link, logging_settings_reach_the_process_log)
{
    RecordingDebug recorder(debug);
    debug = &recorder;
    {
        FakeManager manager;
        ServiceThread service(manager.Path());
        ASSERT_TRUE(manager.Accept());
        manager.Read();
        manager.SendFrame("{\"mt\":\"SetServiceLogging\",\"logFlags\":1}");
        manager.SendFrame("{\"mt\":\"SetServiceLogging\",\"logFlags\":1,\"logSize\":0,\"disableHexdumps\":true}");
        manager.SendFrame("{\"mt\":\"SetServiceLogging\",\"logFlags\":1,\"logSize\":5000000,\"disableHexdumps\":false}");
        manager.SendFrame("{\"mt\":\"LogFilesDeleted\"}");
        manager.SendFrame("{\"mt\":\"SetLogging\",\"enable\":false}");
        manager.SendFrame("{\"mt\":\"SetLogging\",\"enable\":true}");
        manager.SendFrame(AppStart("marker"));
        manager.ReadUntil("AppStatusUpdate");
        manager.Close();
        EXPECT_TRUE(service.WaitFinished());
    }
    debug = recorder.real;
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"hexdump off", "hexdump on", "size 5000000", "reopen",
                                                        "logging off", "logging on"}));
}

TEST(manager_link, announces_itself_with_version_and_apps)
{
    FakeManager manager;
    ServiceThread service(manager.Path());
    ASSERT_TRUE(manager.Accept());
    std::string init = manager.Read();
    EXPECT_EQ(init.find("{\"mt\":\"AppServiceInitConnection\",\"appServiceID\":\"messages\",\"version\":{\"id\":"), 0u)
        << init;
    EXPECT_NE(init.find("\"apps\":[{\"name\":\"messages\"},{\"name\":\"messages-ws\",\"wsOnly\":true}]"),
              std::string::npos)
        << init;
    manager.Close();
    EXPECT_TRUE(service.WaitFinished());
}

TEST(manager_link, starts_instances_and_skips_what_it_cannot_use)
{
    FakeManager manager;
    ServiceThread service(manager.Path());
    ASSERT_TRUE(manager.Accept());
    manager.Read();

    // Without "instance", with a body that is not JSON, with an unknown "mt":
    // nothing happens, and the next message is handled.
    manager.SendFrame("{\"mt\":\"AppStart\"}");
    manager.SendFrame("{{{{{");
    manager.SendFrame("{\"mt\":\"NoSuchMessage\"}");
    manager.SendFrame(AppStart("first"));
    std::string status = manager.ReadUntil("AppStatusUpdate");
    EXPECT_EQ(status,
              "{\"mt\":\"AppStatusUpdate\",\"appName\":\"first\",\"appDomain\":\"example.local\",\"status\":true,"
              "\"controls\":[{\"uri\":\"first/solvantique.ManagerMessages\",\"png\":\"first/"
              "solvantique-messages.png\",\"lang\":\"first/solvantique.ManagerMessagesTexts\",\"wildcard\":false}]}");

    // A second start of a running key is refused; the one after it still starts.
    manager.SendFrame(AppStart("first"));
    manager.SendFrame(AppStart("second"));
    status = manager.ReadUntil("AppStatusUpdate");
    EXPECT_NE(status.find("\"appName\":\"second\""), std::string::npos) << status;
    EXPECT_EQ(Events(), (std::vector<std::string>{"create first@example.local", "create second@example.local"}));

    manager.Close();
    EXPECT_TRUE(service.WaitFinished());
}

TEST(manager_link, frames_split_across_writes_or_packed_together_are_all_read)
{
    FakeManager manager;
    ServiceThread service(manager.Path());
    ASSERT_TRUE(manager.Accept());
    manager.Read();

    auto frame = [](const std::string& json) {
        uint32_t header = htonl((uint32_t)json.size());
        return std::string((const char*)&header, 4) + json;
    };
    std::string one = frame(AppStart("a1"));
    for (char c : one) {
        manager.SendRaw(&c, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::string packed = frame(AppStart("a2")) + frame("{\"mt\":\"AppStop\"}") + frame(AppStart("a3"));
    manager.SendRaw(packed.data(), packed.size());

    for (const char* name : {"a1", "a2", "a3"}) {
        std::string status = manager.ReadUntil("AppStatusUpdate");
        EXPECT_NE(status.find(std::string("\"appName\":\"") + name + "\""), std::string::npos) << status;
    }
    manager.Close();
    EXPECT_TRUE(service.WaitFinished());
}

TEST(manager_link, an_instance_stopped_alone_leaves_the_service_running)
{
    FakeManager manager;
    ServiceThread service(manager.Path());
    ASSERT_TRUE(manager.Accept());
    manager.Read();
    manager.SendFrame(AppStart("one"));
    manager.ReadUntil("AppStatusUpdate");
    manager.SendFrame("{\"mt\":\"AppStop\",\"instance\":{\"appName\":\"nobody\",\"appDomain\":\"example.local\"}}");
    manager.SendFrame("{\"mt\":\"AppStop\",\"instance\":{\"appName\":\"one\",\"appDomain\":\"example.local\"}}");
    std::string status = manager.ReadUntil("AppStatusUpdate");
    EXPECT_NE(status.find("\"appName\":\"one\",\"appDomain\":\"example.local\",\"status\":false"), std::string::npos)
        << status;

    manager.SendFrame(AppStart("two"));
    status = manager.ReadUntil("AppStatusUpdate");
    EXPECT_NE(status.find("\"appName\":\"two\""), std::string::npos) << status;
    EXPECT_FALSE(service.finished);
    manager.Close();
    EXPECT_TRUE(service.WaitFinished());
}

TEST(manager_link, service_stop_stops_instances_in_key_order_then_reports_close_complete)
{
    FakeManager manager;
    ServiceThread service(manager.Path());
    ASSERT_TRUE(manager.Accept());
    manager.Read();
    // "slow" sorts after "fast" and takes longer to stop.
    manager.SendFrame(AppStart("slow"));
    manager.SendFrame(AppStart("fast"));
    manager.ReadUntil("AppStatusUpdate");
    manager.ReadUntil("AppStatusUpdate");
    manager.SendFrame("{\"mt\":\"AppServiceStop\"}");

    std::vector<std::string> seen;
    for (;;) {
        std::string m = manager.Read();
        if (m.empty()) break;
        seen.push_back(m);
        if (m.find("AppServiceCloseComplete") != std::string::npos) break;
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[0].find("\"appName\":\"fast\",\"appDomain\":\"example.local\",\"status\":false"), std::string::npos);
    EXPECT_NE(seen[1].find("\"appName\":\"slow\",\"appDomain\":\"example.local\",\"status\":false"), std::string::npos);
    EXPECT_EQ(seen[2], "{\"mt\":\"AppServiceCloseComplete\",\"appServiceID\":\"messages\"}");
    EXPECT_FALSE(service.finished);  // the service waits for the manager to close

    manager.Close();
    EXPECT_TRUE(service.WaitFinished());
    std::vector<std::string> e = Events();
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[2], "stop fast@example.local");
    EXPECT_EQ(e[3], "stop slow@example.local");
}

TEST(manager_link, lost_manager_stops_every_instance_and_ends_the_loop)
{
    FakeManager manager;
    ServiceThread service(manager.Path());
    ASSERT_TRUE(manager.Accept());
    manager.Read();
    manager.SendFrame(AppStart("x"));
    manager.ReadUntil("AppStatusUpdate");
    manager.Close();
    EXPECT_TRUE(service.WaitFinished());
    EXPECT_EQ(Events().back(), "stop x@example.local");
}

TEST(manager_link, missing_manager_socket_ends_the_service_cleanly)
{
    ServiceThread service("/tmp/no-such-dir-for-manager/manager");
    EXPECT_TRUE(service.WaitFinished());
    ServiceThread tooLong("/tmp/" + std::string(120, 'm'));
    EXPECT_TRUE(tooLong.WaitFinished());
}

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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
#include "tests/support/capture_debug.h"
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

// Captures the log and remembers what the manager changed in it; it takes no
// part in the service loop's signals.
class RecordingDebug : public CaptureDebug {
public:
    void SetIIoMux(void*) override {}
    void ReOpenLogFile() override { calls.push_back("reopen"); }
    void SetLogging(bool on) override { calls.push_back(on ? "logging on" : "logging off"); }
    void SetHexdump(bool on) override { calls.push_back(on ? "hexdump on" : "hexdump off"); }
    void SetLogFileSize(long total) override { calls.push_back("size " + std::to_string(total)); }
    std::vector<std::string> calls;
};

// A fake manager and, once connected, the service on its thread. Closing the
// manager ends the service; TearDown checks that it does.
class manager_link : public ::testing::Test {
protected:
    void TearDown() override { Stop(); }
    // Starts the service on this manager; its announcement.
    std::string Connect()
    {
        service = std::make_unique<ServiceThread>(manager.Path());
        EXPECT_TRUE(manager.Accept());
        return manager.Read();
    }
    void Stop()
    {
        manager.Close();
        if (service) {
            EXPECT_TRUE(service->WaitFinished());
        }
        service.reset();
    }

    FakeManager manager;
    std::unique_ptr<ServiceThread> service;
};

}  // namespace

TEST_F(manager_link, logging_settings_reach_the_process_log)
{
    RecordingDebug recorder;
    Connect();
    for (const char* m : {"{\"mt\":\"SetServiceLogging\",\"logFlags\":1}",
                          "{\"mt\":\"SetServiceLogging\",\"logFlags\":1,\"logSize\":0,\"disableHexdumps\":true}",
                          "{\"mt\":\"SetServiceLogging\",\"logFlags\":1,\"logSize\":5000000,\"disableHexdumps\":false}",
                          "{\"mt\":\"LogFilesDeleted\"}", "{\"mt\":\"SetLogging\",\"enable\":false}",
                          "{\"mt\":\"SetLogging\",\"enable\":true}"})
        manager.SendFrame(m);
    // Its status shows that everything before it was handled.
    manager.SendFrame(AppStart("marker"));
    manager.ReadUntil("AppStatusUpdate");
    Stop();
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"hexdump off", "hexdump on", "size 5000000", "reopen",
                                                        "logging off", "logging on"}));
}

TEST_F(manager_link, announces_itself_then_starts_instances_from_whatever_frames_carry_them)
{
    std::string init = Connect();
    EXPECT_EQ(init.find("{\"mt\":\"AppServiceInitConnection\",\"appServiceID\":\"messages\",\"version\":{\"id\":"), 0u)
        << init;
    EXPECT_NE(init.find("\"apps\":[{\"name\":\"messages\"},{\"name\":\"messages-ws\",\"wsOnly\":true}]"),
              std::string::npos)
        << init;

    // Without "instance", with a body that is not JSON, with an unknown "mt":
    // nothing happens, and the next message is handled.
    manager.SendFrame("{\"mt\":\"AppStart\"}");
    manager.SendFrame("{{{{{");
    manager.SendFrame("{\"mt\":\"NoSuchMessage\"}");
    manager.SendFrame(AppStart("first"));
    EXPECT_EQ(manager.ReadUntil("AppStatusUpdate"),
              "{\"mt\":\"AppStatusUpdate\",\"appName\":\"first\",\"appDomain\":\"example.local\",\"status\":true,"
              "\"controls\":[{\"uri\":\"first/solvantique.ManagerMessages\",\"png\":\"first/"
              "solvantique-messages.png\",\"lang\":\"first/solvantique.ManagerMessagesTexts\",\"wildcard\":false}]}");
    // A second start of a running key is refused.
    manager.SendFrame(AppStart("first"));

    // Frames split across writes or packed together are all read.
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
    EXPECT_EQ(Events(), (std::vector<std::string>{"create first@example.local", "create a1@example.local",
                                                  "create a2@example.local", "create a3@example.local"}));
}

TEST_F(manager_link, instances_stop_alone_or_with_the_service_in_key_order_before_close_complete)
{
    Connect();
    manager.SendFrame(AppStart("one"));
    manager.ReadUntil("AppStatusUpdate");
    manager.SendFrame("{\"mt\":\"AppStop\",\"instance\":{\"appName\":\"nobody\",\"appDomain\":\"example.local\"}}");
    manager.SendFrame("{\"mt\":\"AppStop\",\"instance\":{\"appName\":\"one\",\"appDomain\":\"example.local\"}}");
    std::string status = manager.ReadUntil("AppStatusUpdate");
    EXPECT_NE(status.find("\"appName\":\"one\",\"appDomain\":\"example.local\",\"status\":false"), std::string::npos)
        << status;

    // "slow" sorts after "fast" and takes longer to stop.
    manager.SendFrame(AppStart("slow"));
    manager.SendFrame(AppStart("fast"));
    manager.ReadUntil("AppStatusUpdate");
    manager.ReadUntil("AppStatusUpdate");
    manager.SendFrame("{\"mt\":\"AppServiceStop\"}");
    std::vector<std::string> seen;
    for (std::string m; seen.size() < 3 && !(m = manager.Read()).empty();) seen.push_back(m);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[0].find("\"appName\":\"fast\",\"appDomain\":\"example.local\",\"status\":false"), std::string::npos);
    EXPECT_NE(seen[1].find("\"appName\":\"slow\",\"appDomain\":\"example.local\",\"status\":false"), std::string::npos);
    EXPECT_EQ(seen[2], "{\"mt\":\"AppServiceCloseComplete\",\"appServiceID\":\"messages\"}");
    EXPECT_FALSE(service->finished);  // the service waits for the manager to close

    Stop();
    EXPECT_EQ(Events(), (std::vector<std::string>{"create one@example.local", "stop one@example.local",
                                                  "create slow@example.local", "create fast@example.local",
                                                  "stop fast@example.local", "stop slow@example.local"}));
}

TEST_F(manager_link, a_lost_or_missing_manager_stops_every_instance_and_ends_the_loop)
{
    Connect();
    manager.SendFrame(AppStart("x"));
    manager.ReadUntil("AppStatusUpdate");
    Stop();
    EXPECT_EQ(Events().back(), "stop x@example.local");
    ServiceThread missing("/tmp/no-such-dir-for-manager/manager");
    EXPECT_TRUE(missing.WaitFinished());
    ServiceThread tooLong("/tmp/" + std::string(120, 'm'));
    EXPECT_TRUE(tooLong.WaitFinished());
}

#include "service/app_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Argv {
    explicit Argv(std::vector<std::string> a) : args(std::move(a))
    {
        args.insert(args.begin(), "messages");
        for (auto& s : args) ptrs.push_back(&s[0]);
    }
    int argc() { return (int)ptrs.size(); }
    char** argv() { return ptrs.data(); }
    std::vector<std::string> args;
    std::vector<char*> ptrs;
};

AppInstanceArgs ParseInstance(std::vector<std::string> a)
{
    static std::vector<Argv> keep;  // records borrow argv strings
    keep.emplace_back(std::move(a));
    AppInstanceArgs args;
    args.SetDefaults();
    args.Parse(keep.back().argc(), keep.back().argv(), true);
    return args;
}

}  // namespace

TEST(app_args, options_match_whole_names_and_need_two_dashes)
{
    AppInstanceArgs a = ParseInstance({"--app-name", "--app-names=x", "--app-nam=x", "-app-name=y", "app-name=z"});
    EXPECT_STREQ(a.appName, "messages");

    Argv v({"-manager=x", "--managerx=y", "--manager"});
    AppServiceArgs s;
    s.Parse(v.argc(), v.argv(), false);
    EXPECT_EQ(s.manager, nullptr);
}

TEST(app_args, empty_value_keeps_instance_default_but_sets_service_string)
{
    AppInstanceArgs a = ParseInstance({"--app-name=", "--db-host=db.local", "--webserver-path=/m2"});
    EXPECT_STREQ(a.appName, "messages");
    EXPECT_STREQ(a.dbHost, "db.local");
    EXPECT_STREQ(a.webserverPath, "/m2");
    EXPECT_STREQ(a.dbPassword, "kfo");

    Argv v({"--dns="});
    AppServiceArgs s;
    s.Parse(v.argc(), v.argv(), false);
    ASSERT_NE(s.dns, nullptr);
    EXPECT_STREQ(s.dns, "");
}

TEST(app_args, service_flags_sizes_and_log_flags_in_any_base)
{
    Argv v({"--segfaulted", "--disable-hexdumps=1", "--log-size=5000000", "--service-id=svc", "--manager=/tmp/m",
            "--app-domain=other.example"});
    AppServiceArgs s;
    s.serviceId = "messages";
    s.Parse(v.argc(), v.argv(), true);
    EXPECT_TRUE(s.segfaulted);
    EXPECT_FALSE(s.disableHexdumps);  // a flag option must match the whole argument
    EXPECT_EQ(s.logSize, 5000000);
    EXPECT_STREQ(s.serviceId, "svc");
    EXPECT_STREQ(s.manager, "/tmp/m");

    Argv w({"--disable-hexdumps"});
    s.Parse(w.argc(), w.argv(), false);
    EXPECT_TRUE(s.disableHexdumps);
    EXPECT_EQ(s.serviceId, nullptr);  // not kept: cleared first

    // Both records take the log flags, in hex, decimal or octal.
    for (const char* flags : {"--log-flags=0x10", "--log-flags=16", "--log-flags=020"}) {
        Argv f({flags});
        s.Parse(f.argc(), f.argv(), false);
        AppInstanceArgs i;
        i.Parse(f.argc(), f.argv(), false);
        EXPECT_EQ(s.logFlags, 16u) << flags;
        EXPECT_EQ(i.logFlags, 16u) << flags;
    }
}

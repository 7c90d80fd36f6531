#include <openssl/rc4.h>

#include "tests/websocket/test_session.h"

using namespace aws_test;

namespace {

class app_login : public SessionTest {};

std::string Rc4Hex(const std::string& key, const std::string& data)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    RC4_KEY k;
    RC4_set_key(&k, (int)key.size(), (const unsigned char*)key.data());
    std::string out(data.size(), '\0');
    RC4(&k, data.size(), (const unsigned char*)data.data(), (unsigned char*)&out[0]);
#pragma GCC diagnostic pop
    std::string hex;
    char b[3];
    for (unsigned char c : out) snprintf(b, sizeof(b), "%02x", c), hex += b;
    return hex;
}

}  // namespace

TEST_F(app_login, a_good_login_is_answered_ok_and_keys_the_session_helpers)
{
    auto challenge = Answer(R"({"mt":"AppChallenge"})");
    ASSERT_EQ(challenge["challenge"].size(), 16u);
    EXPECT_EQ(challenge["challenge"].find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(challenge.count("sysClient"), 0u);

    auto result = Login("pw", "example.com", "", "", challenge["challenge"]);
    EXPECT_EQ(result, (std::map<std::string, std::string>{
                          {"mt", "AppLoginResult"}, {"app", "app1"}, {"domain", "example.com"}, {"ok", "true"}}));
    EXPECT_EQ(session->events, std::vector<std::string>{"connected"});
    EXPECT_TRUE(ws->recvPending);
    EXPECT_STREQ(session->JsonApiUserSip(), "alice");
    EXPECT_EQ(session->JsonApiInfo(), nullptr);

    std::string key = Sha256Hex("solvantiqueAppSessionKey:" + challenge["challenge"] + ":pw");
    char out[200];
    session->AppWebsocketHash("s", "data", out, 65);
    EXPECT_EQ(out, Sha256Hex("s:" + key + ":data"));
    session->AppWebsocketEncrypt("s", "secret text", out, sizeof(out));
    EXPECT_EQ(out, Rc4Hex("s:" + key, "secret text"));
    char back[100];
    session->AppWebsocketDecrypt("s", out, back, sizeof(back));
    EXPECT_STREQ(back, "secret text");
    session->AppWebsocketDecrypt("s", "zz11", back, sizeof(back));
    EXPECT_STREQ(back, "");
    session->AppWebsocketDecrypt("s", "abc", back, sizeof(back));
    EXPECT_STREQ(back, "");
}

TEST_F(app_login, a_challenge_is_good_for_one_login_attempt)
{
    std::string challenge = Challenge();
    EXPECT_EQ(Login("pw", "example.com", "", "", challenge)["ok"], "true");
    auto again = Login("pw", "example.com", "", "", challenge);
    EXPECT_EQ(again.count("ok"), 0u);
    EXPECT_EQ(again["mt"], "AppLoginResult");
    EXPECT_TRUE(Closing());
    EXPECT_TRUE(Logged("::Error"));
}

TEST_F(app_login, a_wrong_digest_a_missing_challenge_or_a_missing_member_closes)
{
    // Each made on a fresh session.
    std::function<std::string()> logins[] = {
        [&] { return LoginText("not-pw"); },
        [&] {
            std::string digest = Sha256Hex("app1:example.com:alice:g1:Alice::pw");
            return R"({"mt":"AppLogin","app":"app1","domain":"example.com","sip":"alice","guid":"g1","dn":"Alice",)"
                   R"("digest":")" + digest + "\"}";
        },
        [&] {
            Challenge();
            return std::string(R"({"mt":"AppLogin","app":"app1","domain":"example.com","sip":"alice","guid":"g1"})");
        },
    };
    for (auto& make : logins) {
        std::string login = make();
        EXPECT_EQ(Answer(login).count("ok"), 0u) << login;
        EXPECT_TRUE(Closing() && !ws->recvPending) << login;
        EXPECT_FALSE(session->AppWebsocketLoggedIn());
        End();
        delete session;
        Open();
    }
}

TEST_F(app_login, info_is_hashed_as_compact_json_and_kept_for_the_apis)
{
    auto result = Login("pw", "example.com", R"({ "k" : "v", "list": [1, {"x":"\u0041"}] })",
                        R"({"k":"v","list":[1,{"x":"A"}]})");
    EXPECT_EQ(result["ok"], "true");
    EXPECT_STREQ(session->JsonApiInfo(), R"({"k":"v","list":[1,{"x":"A"}]})");
    EXPECT_EQ(session->events, std::vector<std::string>{"connected v"});
}

TEST_F(app_login, other_domains_and_system_clients_log_in_with_their_own_passwords)
{
    session->domainPasswords["other.org"] = "other-pw";
    auto result = Login("other-pw", "other.org");
    EXPECT_EQ(result["ok"], "true");
    EXPECT_EQ(result["domain"], "example.com") << "the answer names the instance's domain";
    // What a session builds its "%s@%s" user name from.
    EXPECT_STREQ(session->JsonApiUserDomain(), "other.org");
    EXPECT_STREQ(session->JsonApiUserSip(), "alice");
    End();
    delete session;

    Open(true);
    auto challenge = Answer(R"({"mt":"AppChallenge"})");
    EXPECT_EQ(challenge["sysClient"], "true");
    EXPECT_EQ(Login("", "example.com", "", "", challenge["challenge"])["ok"], "true");
}

TEST_F(app_login, a_login_without_password_waits_for_the_subclass)
{
    session->password = nullptr;
    std::string challenge = Challenge();
    Send(LoginText("late", "example.com", "", "", challenge));
    EXPECT_TRUE(ws->sent.empty());
    EXPECT_FALSE(ws->recvPending) << "receiving is held until the subclass has answered";
    EXPECT_EQ(session->events, std::vector<std::string>{"async login"});

    char key[65] = "x";
    EXPECT_FALSE(session->AppWebsocketLoginComplete("wrong", key, sizeof(key)));
    EXPECT_STREQ(key, "");
    EXPECT_EQ(Members(ws->Take()), (std::map<std::string, std::string>{{"mt", "AppLoginResult"}, {"app", "app1"}}));
    EXPECT_FALSE(Closing()) << "a late refusal leaves the connection to the client";
    EXPECT_TRUE(Logged("AppWebsocketLoginComplete("));
    EXPECT_FALSE(Logged("wrong")) << "passwords stay out of the log";
    session->AppWebsocketMessageComplete();
    ASSERT_TRUE(ws->recvPending);

    challenge = Challenge();
    Send(LoginText("late", "example.com", "", "", challenge));
    EXPECT_TRUE(session->AppWebsocketLoginComplete("late", key, sizeof(key)));
    EXPECT_EQ(key, Sha256Hex("solvantiqueAppSessionKey:" + challenge + ":late"));
    EXPECT_EQ(Members(ws->Take())["ok"], "true");
    session->AppWebsocketMessageComplete();
    EXPECT_EQ(Answer(R"({"mt":"Test","src":"t"})")["mt"], "TestResult");
}

TEST_F(app_login, check_login_verifies_a_digest_for_another_party)
{
    std::string digest = Sha256Hex("app2:example.com::::c1:pw");
    auto ok = Answer(R"({"mt":"AppCheckLogin","src":"q","app":"app2","domain":"example.com","challenge":"c1",)"
                     R"("digest":")" + digest + "\"}");
    EXPECT_EQ(ok, (std::map<std::string, std::string>{{"mt", "AppCheckLoginResult"}, {"src", "q"}, {"ok", "true"}}));
    auto bad = Answer(R"({"mt":"AppCheckLogin","src":"q","app":"app2","challenge":"c1","digest":")" + digest + "\"}");
    EXPECT_EQ(bad.count("ok"), 0u) << "no domain in the message and none logged in";

    Login("pw");
    auto fromLogin = Answer(R"({"mt":"AppCheckLogin","app":"app2","challenge":"c1","digest":")" + digest + "\"}");
    EXPECT_EQ(fromLogin["ok"], "true") << "the session's login domain stands in";
    EXPECT_EQ(Answer(R"({"mt":"AppCheckLogin","src":"r"})"),
              (std::map<std::string, std::string>{{"mt", "AppCheckLoginResult"}, {"src", "r"}}));
    EXPECT_FALSE(Closing());
}

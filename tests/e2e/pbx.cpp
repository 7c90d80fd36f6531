// The PBX integration as a PBX sees it: the PBX peer of platform/pbx logs in
// through platform-webserver, registers for "PbxSignal" and presents presence
// subscriptions and group chat calls to messages on the test PostgreSQL,
// while people post and read as app clients. Every message the peer gets is
// written as a short line ("-1 conn", "-1 #badge:2", "3 setup grp>bob Team",
// "3 text ann: hi") so that a scenario reads as the exchange it checks.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>

#include "platform/pbx/pbx_peer.h"
#include "tests/e2e/messaging_site.h"

using namespace e2e;

namespace {

std::string Line(const pbx::PbxMessage& m)
{
    if (!m.IsSignaling()) return m.mt;
    std::string id = std::to_string(m.call) + " ";
    if (m.Badge() >= 0) {
        if (m.FtyMember("presence_notify", "status") != "open" || m.FtyMember("presence_notify", "contact") != "app:")
            return id + m.text;
        std::string note = m.FtyMember("presence_notify", "note");
        return id + (note.empty() ? "open" : note);
    }
    if (m.type == "setup") {
        std::string name = m.FtyMember("name_identification", "name");
        return id + "setup " + m.cg + ">" + m.cd + (m.Fty("im_setup") ? "" : " without im_setup") +
               (name.empty() ? "" : " " + name);
    }
    if (m.Fty("im_message")) {
        std::string dn = m.FtyMember("im_message", "sender_dn");
        return id + "text " + (dn.empty() ? m.FtyMember("im_message", "sender") : dn) + ": " +
               m.FtyMember("im_message", "data");
    }
    return id + m.type;
}

class e2e_pbx : public MessagingTest {
protected:
    std::unique_ptr<pbx::PbxPeer> Pbx(const std::string& sip = "pbx")
    {
        pbx::PeerConfig c;
        c.port = std::to_string(site->web.port);
        c.domain = MessagingSite::domain;
        c.password = MessagingSite::password;
        c.sip = N(sip);
        auto p = std::make_unique<pbx::PbxPeer>(c);
        EXPECT_TRUE(p->Connect()) << p->error;
        return p;
    }
    // The next `n` lines, sorted: calls of one change come in no set order.
    static std::vector<std::string> Lines(pbx::PbxPeer& p, size_t n)
    {
        std::vector<std::string> got;
        pbx::PbxMessage m;
        while (got.size() < n && p.Next(m)) got.push_back(Line(m));
        EXPECT_EQ(got.size(), n) << p.error;
        std::sort(got.begin(), got.end());
        return got;
    }
    static std::string Next(pbx::PbxPeer& p)
    {
        std::vector<std::string> got = Lines(p, 1);
        return got.empty() ? "<nothing: " + p.error + ">" : got[0];
    }
    // What the instance had sent the PBX before it answered a "Test" sent now.
    static std::vector<std::string> Pending(pbx::PbxPeer& p)
    {
        p.Send("{\"mt\":\"Test\",\"src\":\"probe\"}");
        std::vector<std::string> got;
        pbx::PbxMessage m;
        while (p.Next(m) && m.mt != "TestResult") got.push_back(Line(m));
        EXPECT_EQ(m.mt, "TestResult") << p.error;
        return got;
    }
    static long long Subscribe(pbx::PbxPeer& p, const std::string& user, const std::string& object,
                               const std::vector<std::string>& topics = {})
    {
        pbx::Setup s;
        s.cg = user;
        s.cd = object;
        s.subscribe = true;
        for (auto& t : topics) s.apps.push_back({t, "Title of " + t});
        s.name = "Dn of " + user;
        return p.Present(s);
    }
    static long long CallGroup(pbx::PbxPeer& p, const std::string& member, const std::string& group)
    {
        pbx::Setup s;
        s.cg = member;
        s.cd = group;
        s.im = true;
        return p.Present(s);
    }
    static void Say(pbx::PbxPeer& p, long long call, const std::string& sender, const std::string& text)
    {
        pbx::ImText t;
        t.data = text;
        t.sender = sender;
        t.senderDn = "Dn of " + sender;
        t.mime = "text/plain";
        p.Signal(call, pbx::TextSig(t));
    }
    // The calls that the instance presented in `lines`, by member.
    static std::map<std::string, long long> Setups(const std::vector<std::string>& lines)
    {
        std::map<std::string, long long> calls;
        for (auto& l : lines) {
            size_t to = l.find('>');
            if (l.find(" setup ") != std::string::npos && to != std::string::npos)
                calls[l.substr(to + 1, l.find(' ', to) - to - 1)] = atoll(l.c_str());
        }
        return calls;
    }

    // A group with the display name "Team" below the app object "svc", with
    // ann (who made it), bob and carl; its SIP name.
    std::string Crew(const std::string& grp)
    {
        auto svc = Login("svc", {}, "svc");
        return MessagingTest::Crew(*svc, grp, "Team");
    }
    JsonMessage Post(Person& p, const std::string& topic, const std::string& text, const std::string& extra = "")
    {
        JsonMessage r = p.Reply("{\"mt\":\"Post\",\"topic\":" + Quote(topic) + ",\"text\":" + Quote(text) +
                                    (extra.empty() ? "" : "," + extra) + "}",
                                "PostResult");
        EXPECT_FALSE(r.Has("error")) << r.text;
        return r;
    }
    std::string Notify(const std::string& sip) { return "\"notify\":[" + Quote(N(sip)) + "]"; }
    std::string MessageRows() { return Value("SELECT count(*) FROM messages"); }
};

using Want = std::vector<std::string>;

Want Sorted(Want lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string S(long long n)
{
    return std::to_string(n);
}

}  // namespace

TEST_F(e2e_pbx, badges_count_unread_messages_follow_posts_and_read_marks_and_end_with_the_subscription)
{
    auto ann = Login("ann", {"team", "side"});
    auto bob = Login("bob", {"team", "side"});
    auto svc = Login("svc", {}, "svc");
    std::string team = N("team"), side = N("side");
    JsonMessage first = Post(*bob, team, "before", Notify("ann"));
    Post(*bob, team, "for nobody");
    auto pbx = Pbx();
    ASSERT_TRUE(pbx->Ready());
    // Any object but "chat" counts plain messages that notify ann; with "app"
    // topics only those in them; "chat" counts chat messages in her own topic.
    long long all = Subscribe(*pbx, N("ann"), "messages");
    long long again = Subscribe(*pbx, N("ann"), "messages@e2e.test~phone");
    long long sided = Subscribe(*pbx, N("ann"), "messages", {side});
    long long chat = Subscribe(*pbx, N("ann"), "chat@e2e.test~phone");
    EXPECT_EQ(Lines(*pbx, 8), Sorted({S(all) + " conn", S(all) + " #badge:1", S(again) + " conn",
                                      S(again) + " #badge:1", S(sided) + " conn", S(sided) + " open",
                                      S(chat) + " conn", S(chat) + " open"}));

    Post(*bob, team, "news", Notify("ann"));
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(all) + " #badge:2", S(again) + " #badge:2"}));
    Post(*bob, team, "for carl", Notify("carl"));
    JsonMessage aside = Post(*bob, side, "aside", Notify("ann"));
    EXPECT_EQ(Lines(*pbx, 3), Sorted({S(all) + " #badge:3", S(again) + " #badge:3", S(sided) + " #badge:1"}));
    // A chat message in ann's topic, as the app object writes bob's copy for her.
    Post(*svc, N("ann"), "psst", "\"type\":1,\"author\":" + Quote(N("bob")) + "," + Notify("bob"));
    EXPECT_EQ(Next(*pbx), S(chat) + " #badge:1");
    EXPECT_EQ(Pending(*pbx), Want{});

    // Read marks count down where the message counted.
    EXPECT_EQ(ann->Reply(Json().Str("mt", "SetRead").Num("id", first.Number("id")), "SetReadResult").Number("id"),
              first.Number("id"));
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(all) + " #badge:2", S(again) + " #badge:2"}));
    ann->Reply(Json().Str("mt", "SetRead").Num("id", aside.Number("id")), "SetReadResult");
    EXPECT_EQ(Lines(*pbx, 3), Sorted({S(all) + " #badge:1", S(again) + " #badge:1", S(sided) + " open"}));

    // A released subscription hears nothing more; the others go on.
    pbx->Signal(all, pbx::TypeSig("rel"));
    Post(*bob, team, "later", Notify("ann"));
    EXPECT_EQ(Next(*pbx), S(again) + " #badge:2");
    for (long long call : {again, sided, chat}) pbx->Signal(call, pbx::TypeSig("rel"));
    // New subscriptions count afresh, the only ones told of the next post.
    long long fresh = Subscribe(*pbx, N("ann"), "messages");
    long long freshChat = Subscribe(*pbx, N("ann"), "chat");
    EXPECT_EQ(Lines(*pbx, 4), Sorted({S(fresh) + " conn", S(fresh) + " #badge:2", S(freshChat) + " conn",
                                      S(freshChat) + " #badge:1"}));
    Post(*bob, team, "last", Notify("ann"));
    EXPECT_EQ(Next(*pbx), S(fresh) + " #badge:3");
    EXPECT_EQ(Pending(*pbx), Want{});
}

TEST_F(e2e_pbx, a_group_chat_relays_each_text_to_every_other_member_once_and_stores_nothing)
{
    std::string team = Crew("team");
    std::string ann = N("ann"), bob = N("bob"), carl = N("carl");
    auto pbx = Pbx();
    ASSERT_TRUE(pbx->Ready());
    std::string rows = MessageRows();
    long long dave = CallGroup(*pbx, N("dave"), team);
    EXPECT_EQ(Next(*pbx), S(dave) + " rel");

    // ann's call opens the group chat: the instance calls the others and connects her.
    long long annCall = CallGroup(*pbx, ann, team);
    Want got = Lines(*pbx, 3);
    auto calls = Setups(got);
    EXPECT_EQ(got, Sorted({S(annCall) + " conn", S(calls[bob]) + " setup " + team + ">" + bob + " Team",
                           S(calls[carl]) + " setup " + team + ">" + carl + " Team"}));
    EXPECT_EQ(std::min(calls[bob], calls[carl]), 1);
    EXPECT_EQ(std::max(calls[bob], calls[carl]), 2);
    for (auto type : {"call-proc", "alert", "conn"}) pbx->Signal(calls[bob], pbx::TypeSig(type));

    // Each text reaches every other member's call, answered or not, as it was written.
    const std::string hello = "hello \"all\" \\ \u00fc\u20ac\U0001F600\n\t</b>";
    Say(*pbx, annCall, ann, hello);
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(calls[bob]) + " text Dn of " + ann + ": " + hello,
                                      S(calls[carl]) + " text Dn of " + ann + ": " + hello}));
    Say(*pbx, calls[bob], bob, "hi");
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(annCall) + " text Dn of " + bob + ": hi",
                                      S(calls[carl]) + " text Dn of " + bob + ": hi"}));

    // bob hangs up: the next text calls him again and waits until his phone answers.
    pbx->Signal(calls[bob], pbx::TypeSig("rel"));
    Say(*pbx, annCall, ann, "again");
    got = Lines(*pbx, 2);
    long long recall = Setups(got)[bob];
    EXPECT_EQ(got, Sorted({S(calls[carl]) + " text Dn of " + ann + ": again",
                           S(recall) + " setup " + team + ">" + bob + " Team"}));
    EXPECT_EQ(Pending(*pbx), Want{});
    pbx->Signal(recall, pbx::TypeSig("call-proc"));
    EXPECT_EQ(Next(*pbx), S(recall) + " text Dn of " + ann + ": again");

    // Two calls of bob: a text reaches him once, on the newer one.
    long long bobPhone = CallGroup(*pbx, bob, team);
    EXPECT_EQ(Next(*pbx), S(bobPhone) + " conn");
    Say(*pbx, annCall, ann, "once");
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(bobPhone) + " text Dn of " + ann + ": once",
                                      S(calls[carl]) + " text Dn of " + ann + ": once"}));
    EXPECT_EQ(Pending(*pbx), Want{});

    // carl leaves the group: his call ends, he is not called again, and may not call in.
    auto svc = Login("svc", {}, "svc");
    std::string member = Value("SELECT m.id FROM members m JOIN objects o ON o.id=m.object WHERE o.sip=" + SqlText(carl));
    svc->Reply(Json().Str("mt", "WriteMember").Num("id", std::stoull(member)), "WriteMemberResult");
    EXPECT_EQ(Next(*pbx), S(calls[carl]) + " rel");
    Say(*pbx, bobPhone, bob, "bye carl");
    EXPECT_EQ(Next(*pbx), S(annCall) + " text Dn of " + bob + ": bye carl");
    EXPECT_EQ(Pending(*pbx), Want{});
    long long carlAgain = CallGroup(*pbx, carl, team);
    EXPECT_EQ(Next(*pbx), S(carlAgain) + " rel");

    // Everybody hangs up: the group chat goes, and the next call opens a new one.
    for (long long call : {annCall, bobPhone, recall}) pbx->Signal(call, pbx::TypeSig("rel"));
    EXPECT_EQ(Pending(*pbx), Want{});
    long long annAgain = CallGroup(*pbx, ann, team);
    got = Lines(*pbx, 2);
    EXPECT_EQ(got, Sorted({S(annAgain) + " conn", S(Setups(got)[bob]) + " setup " + team + ">" + bob + " Team"}));
    pbx->Signal(annAgain, pbx::TypeSig("rel"));
    EXPECT_EQ(Next(*pbx), S(Setups(got)[bob]) + " rel");
    EXPECT_EQ(MessageRows(), rows);
}

TEST_F(e2e_pbx, a_pbx_that_drops_ends_its_calls_everywhere_and_the_next_one_starts_clean)
{
    std::string team = Crew("team");
    std::string ann = N("ann"), bob = N("bob"), carl = N("carl");
    // One that drops while its calls' first database work still runs.
    auto hasty = Pbx("hasty");
    ASSERT_TRUE(hasty->Ready());
    Subscribe(*hasty, ann, "messages");
    CallGroup(*hasty, ann, team);
    EXPECT_TRUE(hasty->Flush());
    hasty->Drop();

    auto first = Pbx("first");
    ASSERT_TRUE(first->Ready());
    // Released at once: the membership check and the first count may end
    // before or after the "rel"; either way nothing is left behind (the leak
    // check at the service's exit) and the link goes on.
    std::string other = Crew("other");
    long long gone = CallGroup(*first, ann, other);
    first->Signal(gone, pbx::TypeSig("rel"));
    long long gauge = Subscribe(*first, ann, "messages");
    first->Signal(gauge, pbx::TypeSig("rel"));
    // Calls of the released group chat may still be set up and released
    // after the probe's answer: they are left out of what follows.
    std::set<std::string> others;
    auto otherCall = [&](const std::string& line) {
        std::string id = line.substr(0, line.find(' '));
        if (line.find(" setup " + other + ">") != std::string::npos) return others.insert(id), true;
        if (line == id + " rel" && others.erase(id)) return true;
        return false;
    };
    for (const std::string& line : Pending(*first)) otherCall(line);
    long long badge = Subscribe(*first, ann, "messages");
    long long annCall = CallGroup(*first, ann, team);
    Want got;
    while (got.size() < 5) {
        std::string line = Next(*first);
        if (line.rfind("<nothing", 0) == 0) break;
        if (!otherCall(line)) got.push_back(line);
    }
    std::sort(got.begin(), got.end());
    auto calls = Setups(got);
    EXPECT_EQ(got, Sorted({S(badge) + " conn", S(badge) + " open", S(annCall) + " conn",
                           S(calls[bob]) + " setup " + team + ">" + bob + " Team",
                           S(calls[carl]) + " setup " + team + ">" + carl + " Team"}));
    // bob's phone hangs on another PBX and joins the same group chat.
    auto second = Pbx("second");
    ASSERT_TRUE(second->Ready());
    long long bobCall = CallGroup(*second, bob, team);
    EXPECT_EQ(Next(*second), S(bobCall) + " conn");
    Say(*first, annCall, ann, "hello");
    EXPECT_EQ(Next(*second), S(bobCall) + " text Dn of " + ann + ": hello");
    EXPECT_EQ(Next(*first), S(calls[carl]) + " text Dn of " + ann + ": hello");

    // The first PBX vanishes mid-call: its group chat goes with it, and so
    // does bob's call on the second.
    first->Drop();
    EXPECT_EQ(Next(*second), S(bobCall) + " rel");
    auto bobApp = Login("bob");
    Post(*bobApp, bob, "for ann", Notify("ann"));

    // A new PBX gets its own identifiers from 1 and a group chat of its own.
    auto third = Pbx("third");
    ASSERT_TRUE(third->Ready());
    long long again = CallGroup(*third, ann, team);
    got = Lines(*third, 3);
    calls = Setups(got);
    EXPECT_EQ(got, Sorted({S(again) + " conn", S(calls[bob]) + " setup " + team + ">" + bob + " Team",
                           S(calls[carl]) + " setup " + team + ">" + carl + " Team"}));
    EXPECT_EQ(std::min(calls[bob], calls[carl]), 1);
    EXPECT_EQ(Pending(*second), Want{});
    // This one closes properly, its calls still up.
    third->Close();
}

TEST_F(e2e_pbx, malformed_signaling_is_ignored_and_the_link_goes_on)
{
    std::string team = Crew("team");
    std::string ann = N("ann"), bob = N("bob"), carl = N("carl");
    auto pbx = Pbx();
    ASSERT_TRUE(pbx->Ready());
    long long annCall = CallGroup(*pbx, ann, team);
    auto calls = Setups(Lines(*pbx, 3));
    pbx::Setup subscribe;
    subscribe.cg = ann;
    subscribe.cd = "messages";
    subscribe.subscribe = true;
    std::string setup = pbx::SetupSig(subscribe);
    const std::string head = "{\"mt\":\"Signaling\",\"api\":\"PbxSignal\"";
    long long id = -100;
    auto next = [&id] { return S(--id); };
    for (const std::string& m : {
             head + ",\"sig\":" + setup + "}",
             head + ",\"call\":0,\"sig\":" + setup + "}",
             head + ",\"call\":\"" + next() + "\",\"sig\":" + setup + "}",
             head + ",\"call\":" + next() + ",\"sig\":\"setup\"}",
             head + ",\"call\":" + next() + ",\"sig\":[" + setup + "]}",
             head + ",\"call\":" + next() + "}",
             head + ",\"call\":" + next() + ",\"sig\":{\"cg\":{\"sip\":" + Quote(ann) + "}}}",
             head + ",\"call\":" + next() + ",\"sig\":{\"type\":7}}",
             "{\"mt\":\"Setup\",\"api\":\"PbxSignal\",\"call\":" + next() + ",\"sig\":" + setup + "}",
             pbx::SignalingMessage(--id, "{\"type\":\"setup\",\"cd\":{\"sip\":\"messages\"},\"fty\":[{\"type\":\"presence_subscribe\"}]}"),
             pbx::SignalingMessage(--id, "{\"type\":\"setup\",\"cg\":{\"sip\":" + Quote(ann) + "},\"fty\":[{\"type\":\"im_setup\"}]}"),
             pbx::SignalingMessage(--id, "{\"type\":\"setup\",\"cg\":\"x\",\"cd\":\"y\",\"fty\":[{\"type\":\"presence_subscribe\"}]}"),
             pbx::SignalingMessage(--id, "{\"type\":\"setup\",\"cg\":{\"sip\":" + Quote(ann) + "},\"cd\":{\"sip\":" + Quote(team) + "},\"fty\":[{\"type\":\"app\"},7,{}]}"),
             pbx::SignalingMessage(--id, "{\"type\":\"setup\",\"cg\":{\"sip\":" + Quote(ann) + "},\"cd\":{\"sip\":" + Quote(team) + "},\"fty\":{\"type\":\"im_setup\"}}"),
             pbx::SignalingMessage(--id, pbx::TypeSig("bogus")),
             pbx::SignalingMessage(77, pbx::TypeSig("conn")),
             pbx::SignalingMessage(-99999, pbx::TypeSig("rel")),
             pbx::SignalingMessage(5000, pbx::TextSig({"lost", ann, "", "", ""})),
             head + ",\"call\":99999999999999999999,\"sig\":{\"type\":\"conn\"}}",
             // Ann's call identifier plus 2^32: no call of the table.
             pbx::SignalingMessage(annCall + 4294967296LL, pbx::TypeSig("rel")),
             // Live calls: a text without data, facilities that are none, types nobody knows.
             pbx::SignalingMessage(annCall, "{\"type\":\"facility\",\"fty\":[{\"type\":\"im_message\",\"sender\":\"x\"}]}"),
             pbx::SignalingMessage(annCall, "{\"type\":\"facility\",\"fty\":\"hello\"}"),
             pbx::SignalingMessage(annCall, "{\"type\":\"facility\",\"fty\":[{\"data\":\"untyped\"},{\"type\":\"im_message\",\"data\":7}]}"),
             pbx::SignalingMessage(annCall, "{\"type\":\"facility\"}"),
             pbx::SignalingMessage(annCall, pbx::TypeSig("bogus")),
             pbx::SignalingMessage(calls[bob], setup),
             pbx::SignalingMessage(calls[carl], pbx::TypeSig("")),
         })
        pbx->Send(m);
    EXPECT_EQ(Pending(*pbx), Want{});

    // The link works as before.
    Say(*pbx, annCall, ann, "still here");
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(calls[bob]) + " text Dn of " + ann + ": still here",
                                      S(calls[carl]) + " text Dn of " + ann + ": still here"}));
    long long sub = pbx->Present(subscribe);
    EXPECT_EQ(Lines(*pbx, 2), Sorted({S(sub) + " conn", S(sub) + " open"}));
}

TEST_F(e2e_pbx, platform_pbx_shows_badges_and_takes_part_in_a_group_chat_from_a_terminal)
{
    std::string team = Crew("team");
    std::string ann = N("ann"), bob = N("bob");
    auto annApp = Login("ann");
    Post(*annApp, ann, "for bob", Notify("bob"));
    // Its standard input is a FIFO that the test writes lines to and closes.
    std::string fifo = site->site.dir / (N("input"));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto arg = [](const std::string& a) { return " '" + a + "'"; };
    Process cli({"/bin/sh", "-c",
                 "exec " PLATFORM_PBX_BIN + arg("--http=127.0.0.1:" + S(site->web.port)) +
                     arg("--domain=" + std::string(MessagingSite::domain)) +
                     arg("--password=" + std::string(MessagingSite::password)) + arg("--sip=" + N("cli")) +
                     arg("--badges=" + bob) + arg("--chat=" + team) + arg("--member=" + bob) + arg("--member-dn=Bobby") +
                     " <" + fifo});
    int input = -1;
    for (int tries = 0; input < 0 && tries < 2000; tries++) {
        input = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (input < 0) usleep(5000);
    }
    ASSERT_GE(input, 0) << cli.Output();
    auto type = [input](const std::string& line) { return write(input, line.data(), line.size()) == ssize_t(line.size()); };

    EXPECT_TRUE(cli.WaitFor("badge " + bob + " 1")) << cli.Output();
    EXPECT_TRUE(cli.WaitFor("joined " + team + " as " + bob)) << cli.Output();
    auto phone = Pbx();
    ASSERT_TRUE(phone->Ready());
    long long annCall = CallGroup(*phone, ann, team);
    EXPECT_EQ(Next(*phone), S(annCall) + " conn");
    Say(*phone, annCall, ann, "hello bob");
    EXPECT_TRUE(cli.WaitFor("Dn of " + ann + ": hello bob")) << cli.Output();
    EXPECT_TRUE(type("hello ann\n"));
    EXPECT_EQ(Next(*phone), S(annCall) + " text Bobby: hello ann");
    Post(*annApp, ann, "more for bob", Notify("bob"));
    EXPECT_TRUE(cli.WaitFor("badge " + bob + " 2")) << cli.Output();

    // The end of its input releases its calls; the group chat it opened goes with its link.
    close(input);
    for (int i = 0; cli.Running() && i < 2000; i++) usleep(10000);
    EXPECT_EQ(cli.Stop(), 0) << cli.Output();
    EXPECT_EQ(Next(*phone), S(annCall) + " rel");
}

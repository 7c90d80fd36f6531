// Topics and who may use them, as administrators write them and users find
// them at their next login; saved filters that only their owner sees; tag
// names paged newest first. Real app clients through platform-webserver
// against messages on the test PostgreSQL, one service for the file.
#include "tests/e2e/messaging_site.h"

#include <map>

using namespace e2e;

namespace {

class e2e_topics_filters : public MessagingTest {
protected:
    // Logged in with this test's topics and groups, as an administrator when asked.
    std::unique_ptr<Person> Login(const std::string& sip, const std::vector<std::string>& topics,
                                  const std::vector<std::string>& groups = {}, bool admin = false)
    {
        return MessagingTest::Login(sip, topics, admin ? "svc~admin" : "", groups);
    }
    std::string Count(const std::string& table) { return Value("SELECT COUNT(*) FROM " + table); }

    // The "id" of the reply to `mt`, 0 when it has none.
    static unsigned long long Write(Person& p, const std::string& mt, const Json& members)
    {
        JsonMessage r = p.Reply(Request(mt, members), mt + "Result");
        EXPECT_FALSE(r.Has("error")) << r.text;
        return r.Number("id");
    }
    static std::map<std::string, JsonMessage> Topics(Person& p)
    {
        std::map<std::string, JsonMessage> topics;
        for (auto& t : Rows(p, "ReadTopics", Json(), "Topic")) topics[t.String("sip")] = std::move(t);
        return topics;
    }
    static std::vector<unsigned long long> FilterIds(Person& p)
    {
        std::vector<unsigned long long> ids;
        for (auto& f : Rows(p, "ReadFilters", Json(), "Filter")) ids.push_back(f.Number("id"));
        return ids;
    }
    // Tag names; `last` gets the smallest id.
    static std::vector<std::string> Tags(Person& p, const Json& members, unsigned long long* last = nullptr)
    {
        std::vector<std::string> names;
        for (auto& t : Rows(p, "ReadTags", members, "Tag")) {
            names.push_back(t.String("tag"));
            if (last) *last = t.Number("id");
        }
        return names;
    }
};

// A LIKE pattern that matches `text` as it stands.
std::string Literal(const std::string& text)
{
    std::string out;
    for (char c : text) out += (c == '%' || c == '_' || c == '\\' ? "\\" : "") + std::string(1, c);
    return out;
}

}  // namespace

TEST_F(e2e_topics_filters, administrators_write_sub_topics_whose_grants_reach_users_at_their_next_login)
{
    auto boss = Login("boss", {"team"}, {}, true);
    auto mallory = Login("mallory", {"team"});
    std::string team = N("team"), alpha = team + "?alpha", beta = alpha + "?beta";

    // Created by the administrator, who administers it and has it in the session at once.
    unsigned long long a = Write(*boss, "WriteTopic", Json().Str("sip", alpha).Str("dn", "Alpha"));
    unsigned long long b = Write(*boss, "WriteTopic", Json().Str("sip", beta).Str("dn", "Beta"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Value("SELECT sip || '|' || dn FROM objects WHERE id=" + std::to_string(a)), alpha + "|Alpha");
    EXPECT_EQ(Value("SELECT sip || ':' || grp::int || admin::int FROM topic_access WHERE topic=" + std::to_string(a)),
              N("boss") + ":01");
    std::map<std::string, JsonMessage> topics = Topics(*boss);
    EXPECT_EQ(topics[alpha].String("dn") + std::to_string(topics[alpha].Number("id")), "Alpha" + std::to_string(a));
    // Only sub-topics of the administrator's own topics get a title.
    EXPECT_EQ(Write(*boss, "WriteTopic", Json().Str("sip", N("elsewhere?x")).Str("dn", "X")), 0u);
    EXPECT_EQ(Write(*boss, "WriteTopic", Json().Str("sip", N("plain")).Str("dn", "Plain")), 0u);

    // Granted to a group and to a user; the same grant twice fails.
    auto grant = [&](const std::string& topic, bool grp, const std::string& sip, bool admin) {
        return Write(*boss, "WriteTopicAccess",
                     Json().Str("topic", topic).Bool("grp", grp).Str("sip", sip).Bool("admin", admin));
    };
    unsigned long long devs = grant(alpha, true, N("devs"), false);
    EXPECT_NE(devs, 0u);
    EXPECT_NE(grant(beta, false, N("carl"), true), 0u);
    EXPECT_EQ(grant(beta, false, N("carl"), false), 0u);
    std::map<std::string, std::string> access;
    for (auto& row : Rows(*boss, "ReadTopicAccess", Json().Str("topic", alpha).Str("src", "ra"), "TopicAccess"))
        access[row.String("sip")] = (row.Number("id") == devs ? "devs " : "") + row.String("src") +
                                    (row.True("grp") ? " grp" : "") + (row.True("admin") ? " admin" : "");
    EXPECT_EQ(access, (std::map<std::string, std::string>{{N("boss"), "ra admin"}, {N("devs"), "devs ra grp"}}));
    EXPECT_TRUE(Rows(*boss, "ReadTopicAccess", Json().Str("topic", N("nowhere")), "TopicAccess").empty());

    // Others than administrators get no reply, and nothing changes.
    std::string objects = Count("objects"), grants = Count("topic_access");
    for (const Json& request : {
             Json().Str("mt", "WriteTopic").Str("sip", team + "?evil").Str("dn", "Evil"),
             Json().Str("mt", "WriteTopic").Num("id", a).Str("sip", alpha),
             Json().Str("mt", "ReadTopicAccess").Str("topic", alpha),
             Json().Str("mt", "WriteTopicAccess").Str("topic", team).Str("sip", N("mallory")).Bool("admin", true),
         }) {
        ASSERT_TRUE(mallory->Send(request));
        EXPECT_TRUE(mallory->Pushed().empty()) << request.Text();
    }
    EXPECT_EQ(Count("objects"), objects);
    EXPECT_EQ(Count("topic_access"), grants);

    // At their next login: a member of the group, the user, and someone with neither.
    auto dora = Login("dora", {"team"}, {"devs"});
    auto carl = Login("carl", {"team"});
    auto erin = Login("erin", {"team"}, {"qa"});
    topics = Topics(*dora);
    EXPECT_EQ(topics[alpha].String("dn"), "Alpha");
    EXPECT_FALSE(topics[alpha].Has("admin"));
    EXPECT_EQ(topics.count(beta), 0u);
    topics = Topics(*carl);
    EXPECT_EQ(topics.count(alpha), 0u);
    EXPECT_TRUE(topics[beta].True("admin"));
    topics = Topics(*erin);
    EXPECT_EQ(topics.count(alpha) + topics.count(beta), 0u);
    EXPECT_FALSE(dora->Reply(Request("Post", Json().Str("topic", alpha).Str("text", "hi")), "PostResult").Has("error"));
    EXPECT_TRUE(erin->Reply(Request("Post", Json().Str("topic", alpha).Str("text", "hi")), "PostResult").True("error"));

    // Renamed: the session's entry of that id goes under its new name.
    std::string alpha2 = team + "?alpha2";
    EXPECT_EQ(Write(*boss, "WriteTopic", Json().Num("id", a).Str("sip", alpha2).Str("dn", "Alpha 2")), a);
    EXPECT_EQ(Value("SELECT sip || '|' || dn FROM objects WHERE id=" + std::to_string(a)), alpha2 + "|Alpha 2");
    topics = Topics(*boss);
    EXPECT_EQ(topics.count(alpha), 0u);
    EXPECT_EQ(topics[alpha2].String("dn") + std::to_string(topics[alpha2].Number("id")), "Alpha 2" + std::to_string(a));

    // Deleted with its access rows; one with a discussion stays, also in the session.
    EXPECT_EQ(Write(*boss, "WriteTopic", Json().Num("id", b).Str("sip", beta)), b);
    EXPECT_EQ(Value("SELECT COUNT(*) FROM topic_access WHERE topic=" + std::to_string(b)) +
                  Value("SELECT COUNT(*) FROM objects WHERE id=" + std::to_string(b)),
              "00");
    EXPECT_EQ(Write(*boss, "WriteTopic", Json().Num("id", a).Str("sip", alpha2)), a);
    EXPECT_EQ(Value("SELECT COUNT(*) FROM objects WHERE id=" + std::to_string(a)), "1");
    topics = Topics(*boss);
    EXPECT_EQ(topics.count(beta), 0u);
    EXPECT_EQ(topics.count(alpha2), 1u);

    // A grant taken back.
    EXPECT_EQ(Write(*boss, "WriteTopicAccess", Json().Str("topic", alpha2).Num("id", devs)), devs);
    EXPECT_EQ(Value("SELECT COUNT(*) FROM topic_access WHERE id=" + std::to_string(devs)), "0");
}

TEST_F(e2e_topics_filters, saved_filters_keep_their_owners_order_and_no_one_else_reads_or_changes_them)
{
    auto ann = Login("ann", {});
    auto bob = Login("bob", {});
    auto filter = [](const std::string& name) {
        return Json().Str("filter", "{\"topics\":[\"" + name + "\"]}").Str("text", "text " + name).Str(
            "topic", "topic " + name).Str("dn", "dn " + name).Str("tag", "tag " + name);
    };
    auto read = [&](Person& p, unsigned long long id) {
        std::string all;
        for (auto& f : Rows(p, "ReadFilters", Json().Num("id", id).Str("src", "r"), "Filter"))
            for (const char* member : {"src", "filter", "text", "topic", "dn", "tag"})
                all += (f.IsString(member) ? f.String(member) : "-") + "|";
        return all;
    };
    unsigned long long f1 = Write(*ann, "WriteFilter", filter("one"));
    unsigned long long f2 = Write(*ann, "WriteFilter", filter("two"));
    unsigned long long f3 = Write(*ann, "WriteFilter", filter("three"));
    ASSERT_TRUE(f1 && f2 && f3);
    EXPECT_EQ(FilterIds(*ann), (std::vector<unsigned long long>{f1, f2, f3}));
    EXPECT_EQ(read(*ann, f1), "r|{\"topics\":[\"one\"]}|text one|topic one|dn one|tag one|");

    // Moved to the end; replaced and moved; replaced in place with fewer members.
    EXPECT_EQ(Write(*ann, "WriteFilter", Json().Num("id", f1).Bool("seq", true)), f1);
    EXPECT_EQ(FilterIds(*ann), (std::vector<unsigned long long>{f2, f3, f1}));
    EXPECT_EQ(Write(*ann, "WriteFilter", filter("3").Num("id", f3).Bool("seq", true)), f3);
    EXPECT_EQ(Write(*ann, "WriteFilter", Json().Num("id", f2).Str("filter", "only")), f2);
    EXPECT_EQ(FilterIds(*ann), (std::vector<unsigned long long>{f2, f1, f3}));
    EXPECT_EQ(read(*ann, f3), "r|{\"topics\":[\"3\"]}|text 3|topic 3|dn 3|tag 3|");
    EXPECT_EQ(read(*ann, f2), "r|only|-|-|-|-|");

    // Someone else reads, replaces, moves and deletes none of them.
    EXPECT_TRUE(FilterIds(*bob).empty());
    EXPECT_EQ(read(*bob, f1), "");
    std::string before = Value("SELECT string_agg(id || filter || seq, ',' ORDER BY id) FROM filters");
    EXPECT_EQ(Write(*bob, "WriteFilter", filter("stolen").Num("id", f1)), f1);
    EXPECT_EQ(Write(*bob, "WriteFilter", Json().Num("id", f2).Bool("seq", true)), f2);
    EXPECT_EQ(Write(*bob, "WriteFilter", Json().Num("id", f3)), f3);
    EXPECT_EQ(Value("SELECT string_agg(id || filter || seq, ',' ORDER BY id) FROM filters"), before);

    // Deleted by its owner; one that could not be read back in one websocket message is not stored.
    EXPECT_EQ(Write(*ann, "WriteFilter", Json().Num("id", f1)), f1);
    EXPECT_EQ(Write(*ann, "WriteFilter", Json().Str("filter", std::string(9000, '\x01'))), 0u);
    EXPECT_EQ(FilterIds(*ann), (std::vector<unsigned long long>{f2, f3}));
}

TEST_F(e2e_topics_filters, tags_are_paged_newest_first_under_a_like_pattern)
{
    auto ann = Login("ann", {"team"});
    std::vector<std::string> tags;
    for (int i = 1; i <= 5; i++) {
        tags.push_back(N("k" + std::to_string(i)));
        Json post = Json().Str("topic", N("team")).Str("text", "t").Strs("tags", {tags.back()});
        JsonMessage r = ann->Reply(Request("Post", post), "PostResult");
        ASSERT_FALSE(r.Has("error")) << r.text;
    }
    Json page = Json().Str("like", Literal(N("k")) + "%").Num("count", 2);
    unsigned long long last = 0;
    EXPECT_EQ(Tags(*ann, page, &last), (std::vector<std::string>{tags[4], tags[3]}));
    EXPECT_EQ(Tags(*ann, Json(page).Num("more", last), &last), (std::vector<std::string>{tags[2], tags[1]}));
    EXPECT_EQ(Tags(*ann, Json(page).Num("more", last), &last), (std::vector<std::string>{tags[0]}));
    EXPECT_TRUE(Tags(*ann, Json(page).Num("more", last)).empty());
    // Without members: a page of 20 of all tags, the newest first.
    std::vector<JsonMessage> all = Rows(*ann, "ReadTags", Json().Str("src", "all"), "Tag");
    ASSERT_GE(all.size(), 5u);
    EXPECT_LE(all.size(), 20u);
    EXPECT_EQ(all[0].String("tag") + all[0].String("src"), tags[4] + "all");
    for (size_t i = 1; i < all.size(); i++) EXPECT_LT(all[i].Number("id"), all[i - 1].Number("id"));
}

TEST_F(e2e_topics_filters, names_with_quotes_wildcards_injections_and_4_byte_utf8_survive_unchanged)
{
    const std::vector<std::string>& nasty = nastyStrings;
    auto boss = Login("boss", {"team"}, {}, true);
    for (const std::string& s : nasty) {
        SCOPED_TRACE(s);
        // A sub-topic of that name and title, and an access row for that name.
        std::string sub = N("team") + "?" + s;
        unsigned long long topic = Write(*boss, "WriteTopic", Json().Str("sip", sub).Str("dn", s));
        EXPECT_EQ(Value("SELECT sip || '|' || dn FROM objects WHERE id=" + std::to_string(topic)), sub + "|" + s);
        EXPECT_EQ(Topics(*boss)[sub].String("dn"), s);
        EXPECT_NE(Write(*boss, "WriteTopicAccess", Json().Str("topic", sub).Str("sip", s)), 0u);
        std::vector<JsonMessage> access = Rows(*boss, "ReadTopicAccess", Json().Str("topic", sub), "TopicAccess");
        ASSERT_EQ(access.size(), 2u);
        EXPECT_TRUE(access[0].String("sip") == s || access[1].String("sip") == s);

        // A saved filter of those strings.
        Json filter = Json().Str("filter", s).Str("text", s).Str("topic", s).Str("dn", s).Str("tag", s);
        unsigned long long f = Write(*boss, "WriteFilter", filter);
        std::vector<JsonMessage> read = Rows(*boss, "ReadFilters", Json().Num("id", f).Str("src", s), "Filter");
        ASSERT_EQ(read.size(), 1u);
        for (const char* member : {"src", "filter", "text", "topic", "dn", "tag"}) EXPECT_EQ(read[0].String(member), s);

        // A tag of that name, found by a pattern that takes it literally.
        std::string tag = N("tag ") + s;
        ASSERT_FALSE(boss->Reply(Request("Post", Json().Str("topic", N("team")).Str("text", s).Strs("tags", {tag})),
                                 "PostResult")
                         .Has("error"));
        EXPECT_EQ(Tags(*boss, Json().Str("like", Literal(tag))), std::vector<std::string>{tag});
    }
    // Wildcards of a pattern are the client's.
    EXPECT_TRUE(Tags(*boss, Json().Str("like", Literal(N("tag 50")) + "\\_%")).empty());
    EXPECT_EQ(Tags(*boss, Json().Str("like", Literal(N("tag 50")) + "_ of%")),
              std::vector<std::string>{N("tag ") + nasty[1]});
}

TEST_F(e2e_topics_filters, malformed_requests_get_their_reply_and_the_session_goes_on)
{
    auto boss = Login("boss", {"team"}, {}, true);
    std::string team = N("team");
    size_t topics = Topics(*boss).size();
    ExpectEachAnswered(*boss, {
        "{\"mt\":\"WriteTopic\",\"src\":[1],\"sip\":5,\"dn\":[],\"id\":\"abc\"}",
        "{\"mt\":\"WriteTopic\",\"sip\":\"?\",\"dn\":\"x\"}",
        "{\"mt\":\"WriteTopic\",\"sip\":" + Quote(team + "?" + std::string(300, 'x')) + ",\"dn\":\"long\"}",
        "{\"mt\":\"WriteTopic\",\"sip\":" + Quote(team + "?t") + ",\"dn\":" + Quote(std::string(300, 'y')) + "}",
        "{\"mt\":\"WriteTopic\",\"id\":-1,\"sip\":" + Quote(team + "?t") + ",\"dn\":{}}",
        "{\"mt\":\"ReadTopicAccess\",\"topic\":{\"a\":1}}",
        "{\"mt\":\"WriteTopicAccess\",\"topic\":7,\"grp\":\"yes\",\"sip\":[],\"admin\":1}",
        "{\"mt\":\"WriteTopicAccess\",\"topic\":" + Quote(team) + ",\"id\":123456789012}",
        "{\"mt\":\"ReadFilters\",\"id\":-7}",
        "{\"mt\":\"ReadFilters\",\"id\":99999999999999999999}",
        "{\"mt\":\"WriteFilter\",\"id\":\"1\",\"filter\":{},\"seq\":\"yes\",\"tag\":9}",
        "{\"mt\":\"WriteFilter\",\"filter\":\"f\",\"text\":[\"a\"],\"id\":18446744073709551615}",
        "{\"mt\":\"ReadTags\",\"count\":\"x\",\"like\":7,\"more\":-5}",
        "{\"mt\":\"ReadTags\",\"count\":4294967295,\"like\":\"a\\\\\"}",
        "{\"mt\":\"ReadTags\",\"like\":\"%\",\"more\":18446744073709551615}",
    }, true);
    // No topic was written, and the session has the topics it had.
    EXPECT_EQ(Value("SELECT COUNT(*) FROM objects WHERE sip LIKE " + SqlText(Literal(team) + "?%")), "0");
    EXPECT_EQ(Topics(*boss).size(), topics);
    EXPECT_NE(Write(*boss, "WriteTopic", Json().Str("sip", team + "?after").Str("dn", "After")), 0u);
}

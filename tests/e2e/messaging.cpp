// Posting, editing, deleting, reading, read marks, likes and unread counts
// as people see them: real app clients through platform-webserver against
// messages on the test PostgreSQL. Every test makes up its own people and
// topics on the one service of the file.
#include "tests/e2e/messaging_site.h"

#include <algorithm>
#include <map>
#include <set>

using namespace e2e;

namespace {

class e2e_messaging : public MessagingTest {
protected:
    // A post's reply; `extra` adds members (compact JSON without braces).
    JsonMessage Post(Person& p, const std::string& topic, const std::string& text, const std::string& extra = "",
                     const std::string& src = "post")
    {
        std::string request = "{\"mt\":\"Post\",\"src\":" + Quote(src) + ",\"topic\":" + Quote(topic) +
                              ",\"text\":" + Quote(text) + (extra.empty() ? "" : "," + extra) + "}";
        return p.Reply(request, "PostResult");
    }
    // A new discussion's id.
    unsigned long long Open(Person& p, const std::string& topic, const std::string& text)
    {
        JsonMessage r = Post(p, topic, text);
        EXPECT_FALSE(r.Has("error")) << r.text;
        return r.Number("addsTo");
    }
    // The "msg" objects of the rows of a read, in order.
    static std::vector<JsonMessage> Rows(std::vector<JsonMessage>& got)
    {
        std::vector<JsonMessage> rows;
        for (auto& m : got)
            if (m.Mt() == "Add" && !m.Has("update")) rows.push_back(std::move(m));
        return rows;
    }
    static unsigned long long MsgNumber(const JsonMessage& m, const char* name)
    {
        return m.Number(name, m.Object("msg"));
    }
    static std::string MsgString(const JsonMessage& m, const char* name) { return m.String(name, m.Object("msg")); }
    static std::string Msg(const JsonMessage& m, std::initializer_list<const char*> names)
    {
        return Fields(m, names, m.Object("msg"));
    }
    // The discussion list of `topic`, with read counts when asked.
    std::vector<JsonMessage> List(Person& p, const std::string& topic, bool read)
    {
        Json request = Json().Str("mt", "SetFilter").Str("src", "list").Bool("discussion", true).Num("count", 10);
        if (read) request.Bool("read", true);
        std::vector<JsonMessage> got = p.Ask(request.Raw("filter", Json().Strs("topics", {topic})), "SetFilterResult");
        return Rows(got);
    }
};

}  // namespace

TEST_F(e2e_messaging, a_discussion_is_opened_added_to_and_replied_to)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team");
    auto repliesTo = [&](const JsonMessage& m) {
        return Value("SELECT coalesce(replies_to, 0) FROM messages WHERE id=" + std::to_string(m.Number("id")));
    };

    JsonMessage opened = Post(*ann, team, "first", "\"guid\":\"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9\"", "p1");
    EXPECT_EQ(opened.Mt() + " " + opened.String("src"), "PostResult p1");
    EXPECT_TRUE(!opened.Has("error") && opened.Has("session") && opened.Has("key")) << opened.text;
    unsigned long long discussion = opened.Number("addsTo"), root = opened.Number("id");
    ASSERT_TRUE(discussion && root) << opened.text;
    EXPECT_EQ(repliesTo(opened), "0");
    std::string openedAt = Value("SELECT time FROM discussions WHERE id=" + std::to_string(discussion));

    // Added to the discussion without naming a message: it answers the root,
    // and the discussion takes its time.
    usleep(5000);
    JsonMessage added = Post(*bob, team, "second", "\"addsTo\":" + std::to_string(discussion));
    EXPECT_EQ(added.Number("addsTo"), discussion) << added.text;
    EXPECT_EQ(repliesTo(added), std::to_string(root));
    std::string addedAt = Value("SELECT time FROM messages WHERE id=" + std::to_string(added.Number("id")));
    EXPECT_EQ(Value("SELECT time FROM discussions WHERE id=" + std::to_string(discussion)), addedAt);
    EXPECT_LT(std::stoull(openedAt), std::stoull(addedAt));

    // A reply names the message; the discussion comes from it.
    JsonMessage reply = Post(*ann, team, "third", "\"repliesTo\":" + std::to_string(added.Number("id")));
    EXPECT_EQ(reply.Number("addsTo"), discussion) << reply.text;
    EXPECT_EQ(repliesTo(reply), std::to_string(added.Number("id")));

    // Reading the discussion: the two newest messages after the root, newest
    // first; bob has read neither of ann's messages.
    std::vector<JsonMessage> got =
        bob->Ask(Json().Str("mt", "Discussion").Str("src", "d").Num("discussion", discussion).Num("count", 2),
                 "DiscussionResult");
    std::vector<JsonMessage> rows = Rows(got);
    ASSERT_EQ(rows.size(), 2u) << Texts(got);
    EXPECT_EQ(Msg(rows[0], {"text", "author", "dn", "tdn", "replies", "unread"}),
              "text=third author=" + N("ann") + " dn=Dn of " + N("ann") + " tdn=Title of " + team + " replies=2 unread=2");
    EXPECT_EQ(MsgString(rows[1], "text"), "second");
    EXPECT_FALSE(rows[0].Has("initial"));

    // The discussion list shows the root with its guid as clients know it.
    rows = List(*ann, team, false);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].True("initial"));
    EXPECT_EQ(Msg(rows[0], {"id", "guid", "rtimestamp"}),
              "id=" + std::to_string(root) + " guid=0a1b2c3d4e5f60718293a4b5c6d7e8f9 rtimestamp=" +
                  Value("SELECT time FROM messages WHERE id=" + std::to_string(reply.Number("id"))));

    // Counted for the reader per discussion: ann's root is unread, bob's own
    // message never counts, and the reply he marked read no longer does.
    JsonMessage marked = bob->Reply(Json().Str("mt", "SetRead").Num("id", reply.Number("id")), "SetReadResult");
    EXPECT_EQ(marked.Number("id"), reply.Number("id")) << marked.text;
    rows = List(*bob, team, true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Msg(rows[0], {"replies", "unread", "read"}), "replies=2 unread=1 read=0");

    // A topic the poster may not see: refused, nothing stored.
    std::string before = Value("SELECT count(*) FROM messages");
    EXPECT_TRUE(Post(*bob, N("elsewhere"), "nope").True("error"));
    EXPECT_EQ(Value("SELECT count(*) FROM messages"), before);
}

TEST_F(e2e_messaging, names_that_do_not_exist_yet_or_differ_in_letter_case_are_stored_once)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team");
    // A new tag, a new notified user, repeats and letter-case variants: the
    // careful way creates what is missing and stores each name once.
    JsonMessage r = Post(*ann, team, "careful",
                         "\"tags\":[" + Quote(N("Fresh")) + "," + Quote(N("Fresh")) + "," + Quote(N("fresh")) +
                             "],\"notify\":[" + Quote(N("carl")) + "," + Quote(N("carl")) + "," + Quote(N("BOB")) +
                             "," + Quote(N("bob")) + "]");
    ASSERT_FALSE(r.Has("error")) << r.text;
    std::string id = std::to_string(r.Number("id"));
    EXPECT_EQ(Value("SELECT count(*) FROM message_tags WHERE message=" + id), "1");
    EXPECT_EQ(Value("SELECT string_agg(o.sip, ',' ORDER BY o.sip) FROM message_notifications n JOIN objects o ON "
                    "o.id=n.object WHERE n.message=" + id),
              N("bob") + "," + N("carl"));
    EXPECT_EQ(Value("SELECT dn IS NULL FROM objects WHERE sip=" + SqlText(N("carl"))), "t");

    // Author's topic spelt in other letters still finds the topic's row.
    std::string upper = team;
    for (auto& c : upper) c = char(toupper(c));
    JsonMessage shouted = Post(*bob, upper, "loud", "\"tags\":[" + Quote(N("FRESH")) + "]");
    ASSERT_FALSE(shouted.Has("error")) << shouted.text;
    EXPECT_EQ(Value("SELECT o.sip FROM discussions d JOIN objects o ON o.id=d.topic WHERE d.id=" +
                    std::to_string(shouted.Number("addsTo"))),
              team);
    EXPECT_EQ(Value("SELECT count(*) FROM tags WHERE LOWER(name)=LOWER(" + SqlText(N("fresh")) + ")"), "1");
    // Unknown messages and discussions store nothing.
    EXPECT_TRUE(Post(*bob, team, "x", "\"repliesTo\":999999999").True("error"));
    EXPECT_TRUE(Post(*bob, team, "x", "\"addsTo\":999999999").True("error"));
    // An app object posts for others, in any topic; without an author there is nobody to post as.
    auto svc = Login("svc", {}, "svc");
    JsonMessage forCarl = Post(*svc, N("lobby"), "on behalf", "\"author\":" + Quote(N("carl")));
    ASSERT_FALSE(forCarl.Has("error")) << forCarl.text;
    EXPECT_EQ(Value("SELECT o.sip FROM messages m JOIN objects o ON o.id=m.author WHERE m.id=" +
                    std::to_string(forCarl.Number("id"))),
              N("carl"));
    EXPECT_TRUE(Post(*svc, N("lobby"), "nobody").True("error"));
}

TEST_F(e2e_messaging, only_the_author_edits_and_deletes_and_what_nothing_uses_goes)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team");
    unsigned long long discussion = Open(*ann, team, "root");
    JsonMessage first = Post(*ann, team, "old text",
                             "\"addsTo\":" + std::to_string(discussion) + ",\"tags\":[" + Quote(N("gone")) +
                                 "],\"notify\":[" + Quote(N("ghost")) + "]");
    std::string id = std::to_string(first.Number("id"));
    ASSERT_NE(Value("SELECT count(*) FROM objects WHERE sip=" + SqlText(N("ghost"))), "0");

    JsonMessage refused =
        bob->Reply(Json().Str("mt", "Update").Str("src", "u").Num("id", first.Number("id")).Str("text", "hijacked"),
                   "UpdateResult");
    EXPECT_TRUE(refused.True("error")) << refused.text;
    EXPECT_EQ(Value("SELECT text FROM messages WHERE id=" + id), "old text");
    EXPECT_EQ(Value("SELECT edited IS NULL FROM messages WHERE id=" + id), "t");

    JsonMessage edited = ann->Reply(Json()
                                        .Str("mt", "Update")
                                        .Str("src", "u")
                                        .Num("id", first.Number("id"))
                                        .Str("text", "new text")
                                        .Strs("tags", {N("kept"), N("kept")}),
                                    "UpdateResult");
    EXPECT_FALSE(edited.Has("error")) << edited.text;
    EXPECT_EQ(edited.Number("id"), first.Number("id"));
    EXPECT_TRUE(edited.Has("session") && edited.Has("key")) << edited.text;
    EXPECT_EQ(Value("SELECT text FROM messages WHERE id=" + id), "new text");
    EXPECT_EQ(Value("SELECT o.sip FROM messages m JOIN objects o ON o.id=m.editor WHERE m.id=" + id), N("ann"));
    EXPECT_EQ(Value("SELECT string_agg(t.name, ',') FROM message_tags mt JOIN tags t ON t.id=mt.tag WHERE message=" + id),
              N("kept"));
    // The tag and the nameless user that nothing refers to any more are gone.
    EXPECT_EQ(Value("SELECT count(*) FROM tags WHERE name=" + SqlText(N("gone"))), "0");
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip=" + SqlText(N("ghost"))), "0");

    JsonMessage notYours = bob->Reply(Json().Str("mt", "Delete").Str("src", "d").Num("id", discussion), "DeleteResult");
    EXPECT_TRUE(notYours.True("error")) << notYours.text;
    EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE adds_to=" + std::to_string(discussion)), "2");
    // Deleting the root takes the whole discussion's messages; the discussion row stays.
    std::string root = Value("SELECT id FROM messages WHERE replies_to IS NULL AND adds_to=" + std::to_string(discussion));
    JsonMessage deleted =
        ann->Reply(Json().Str("mt", "Delete").Str("src", "d").Num("id", std::stoull(root)), "DeleteResult");
    EXPECT_FALSE(deleted.Has("error")) << deleted.text;
    EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE adds_to=" + std::to_string(discussion)), "0");
    EXPECT_EQ(Value("SELECT count(*) FROM discussions WHERE id=" + std::to_string(discussion)), "1");
    EXPECT_EQ(Value("SELECT count(*) FROM tags WHERE name=" + SqlText(N("kept"))), "0");
    EXPECT_TRUE(ann->Reply(Json().Str("mt", "Delete").Num("id", std::stoull(root)), "DeleteResult").True("error"));
    EXPECT_TRUE(ann->Reply(Json().Str("mt", "Update").Num("id", 0), "UpdateResult").True("error"));
}

namespace {

// One reading mode: its members, and the members of a row that name the
// position of the next page.
struct Mode {
    std::string name;
    std::string members;
    const char* timeKey;
    const char* idKey;
    // The members a page is ordered by, descending.
    std::vector<const char*> order;
};

}  // namespace

TEST_F(e2e_messaging, every_reading_mode_pages_without_repeating_or_skipping_a_row)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team");
    std::vector<unsigned long long> discussions;
    for (int d = 1; d <= 6; d++) {
        discussions.push_back(Open(d % 2 ? *ann : *bob, team, "root " + std::to_string(d)));
        for (int m = 1; m < d; m++)
            Post(m % 2 ? *bob : *ann, team, "m" + std::to_string(m), "\"addsTo\":" + std::to_string(discussions.back()));
    }
    // Times in pairs, so that every page boundary may fall between equal times.
    std::string topicId = Value("SELECT id FROM objects WHERE sip=" + SqlText(team));
    std::string ofTopic = "adds_to IN (SELECT id FROM discussions WHERE topic=" + topicId + ")";
    site->Exec("UPDATE messages m SET time=1700000000000+x.n/2 FROM (SELECT id, row_number() OVER (ORDER BY id) AS n "
               "FROM messages WHERE " + ofTopic + ") x WHERE m.id=x.id");
    site->Exec("UPDATE discussions d SET time=(SELECT MAX(time) FROM messages WHERE adds_to=d.id) WHERE topic=" + topicId);
    // Likes on every other message, their times in pairs too.
    std::string bobId = Value("SELECT id FROM objects WHERE sip=" + SqlText(N("bob")));
    site->Exec("INSERT INTO message_likes (message,object,time) SELECT id," + bobId +
               ",1700000000000+(row_number() OVER (ORDER BY id))/2 FROM messages WHERE " + ofTopic + " AND id%2=0");

    const std::string topics = "\"filter\":{\"topics\":[" + Quote(team) + "]}";
    std::vector<Mode> modes = {
        {"discussion list", "\"discussion\":true," + topics, "rtimestamp", "addsTo", {"rtimestamp", "addsTo"}},
        {"messages of a discussion", "\"addsTo\":" + std::to_string(discussions.back()), "timestamp", "id",
         {"timestamp", "id"}},
        {"filtered messages", topics, "rtimestamp", "id", {"rtimestamp", "addsTo", "timestamp", "id"}},
        {"all messages", "", "rtimestamp", "id", {"rtimestamp", "addsTo", "timestamp", "id"}},
        {"liked", "\"liked\":true," + topics, "ltimestamp", "id", {"ltimestamp", "id"}},
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        std::string members = mode.members.empty() ? "" : "," + mode.members;
        auto read = [&](const std::string& mt, unsigned count, const std::string& position) {
            std::vector<JsonMessage> got = ann->Ask("{\"mt\":\"" + mt + "\",\"src\":\"paging\",\"count\":" +
                                                        std::to_string(count) + members + position + "}",
                                                    mt + "Result");
            return Rows(got);
        };
        std::vector<JsonMessage> all = read("SetFilter", 1000, "");
        std::vector<unsigned long long> reference;
        for (size_t i = 0; i < all.size(); i++) {
            reference.push_back(MsgNumber(all[i], "id"));
            // Only the first page of a list is "initial"; a discussion's messages never are.
            EXPECT_EQ(all[i].True("initial"), mode.name != "messages of a discussion") << all[i].text;
            auto key = [&](const JsonMessage& m) {
                std::vector<unsigned long long> k;
                for (const char* member : mode.order) k.push_back(MsgNumber(m, member));
                return k;
            };
            if (i) {
                EXPECT_GT(key(all[i - 1]), key(all[i])) << all[i - 1].text << "\n" << all[i].text;
            }
        }
        EXPECT_GE(reference.size(), 5u);
        for (unsigned size : {1u, 2u, 5u}) {
            std::vector<unsigned long long> paged;
            std::vector<JsonMessage> page = read("SetFilter", size, "");
            for (int pages = 0; !page.empty() && pages < 200; pages++) {
                for (auto& row : page) paged.push_back(MsgNumber(row, "id"));
                const JsonMessage& last = page.back();
                page = read("GetMore", size,
                            ",\"timestamp\":" + std::to_string(MsgNumber(last, mode.timeKey)) +
                                ",\"id\":" + std::to_string(MsgNumber(last, mode.idKey)));
                for (auto& row : page) EXPECT_FALSE(row.Has("initial")) << row.text;
            }
            EXPECT_EQ(paged, reference) << "pages of " << size;
        }
    }
}

TEST_F(e2e_messaging, a_post_reaches_every_session_whose_filter_matches_and_no_other)
{
    auto ann = Login("ann", {"team", "diary"});
    auto annElsewhere = Login("ann", {"team", "diary"});
    auto bob = Login("bob", {"team"});
    auto cyd = Login("cyd", {"other"});
    std::string team = N("team");
    auto filter = [](const std::string& src, const std::string& topic) {
        return Json().Str("mt", "SetFilter").Str("src", src).Num("count", 0).Raw("filter", Json().Strs("topics", {topic}));
    };
    for (auto* p : {ann.get(), annElsewhere.get(), bob.get()}) p->Ask(filter("f", team), "SetFilterResult");
    cyd->Ask(filter("f", N("other")), "SetFilterResult");

    // Posting under the name of its own filter, ann's session is answered
    // by the reply alone; her other session and bob's see it.
    JsonMessage posted = Post(*ann, team, "hello team", "\"filterSrc\":\"f\"", "f");
    ASSERT_FALSE(posted.Has("error")) << posted.text;
    JsonMessage add;
    for (auto* p : {annElsewhere.get(), bob.get()}) {
        ASSERT_TRUE(p->WaitFor("Add", add)) << p->sip;
        EXPECT_TRUE(add.True("update")) << add.text;
        EXPECT_EQ(Fields(add, {"src"}) + " " + Msg(add, {"id", "addsTo", "text", "dn", "tdn"}),
                  "src=f id=" + std::to_string(posted.Number("id")) +
                      " addsTo=" + std::to_string(posted.Number("addsTo")) + " text=hello team dn=Dn of " + N("ann") +
                      " tdn=-");
    }
    EXPECT_EQ(ann->Pushed().size(), 0u);
    EXPECT_EQ(cyd->Pushed().size(), 0u);

    // A post in a topic only ann has reaches no filter of the others.
    JsonMessage privately = Post(*ann, N("diary"), "dear diary");
    ASSERT_FALSE(privately.Has("error"));
    // A filter on a discussion gets its replies even when its terms would not.
    bob->Ask(Json()
                 .Str("mt", "SetFilter")
                 .Str("src", "thread")
                 .Num("count", 0)
                 .Num("addsTo", posted.Number("addsTo"))
                 .Raw("filter", Json().Strs("tags", {N("never")})),
             "SetFilterResult");
    Post(*ann, team, "reply", "\"repliesTo\":" + std::to_string(posted.Number("id")));
    std::set<std::string> srcs;
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(bob->WaitFor("Add", add));
        EXPECT_EQ(MsgString(add, "text"), "reply") << add.text;
        srcs.insert(add.String("src"));
    }
    EXPECT_EQ(srcs, (std::set<std::string>{"f", "thread"}));
    for (auto& m : bob->Pushed()) EXPECT_NE(MsgString(m, "text"), "dear diary") << m.text;
    EXPECT_EQ(cyd->Pushed().size(), 0u);
}

TEST_F(e2e_messaging, unread_counts_follow_posts_and_read_marks)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    auto bobPhone = Login("bob", {"team"});
    std::string team = N("team");
    auto unread = [&](Person& p, const char* src = "u") {
        JsonMessage r = p.Reply(Json().Str("mt", "SetUnreadFilter").Str("src", src).Raw("filter", "{}"),
                                "SetUnreadFilterResult");
        EXPECT_FALSE(r.Has("error")) << r.text;
        return r.Number("count");
    };
    EXPECT_EQ(unread(*bob) + unread(*bobPhone) + unread(*ann), 0u);
    // Both of bob's sessions are told of a post, and of his read mark; ann,
    // who has no unread messages of her own, of neither.
    auto told = [&](const std::string& mt) {
        JsonMessage pushed;
        for (auto* p : {bob.get(), bobPhone.get()}) {
            ASSERT_TRUE(p->WaitFor(mt, pushed)) << p->sip;
            EXPECT_EQ(pushed.String("src"), "u");
        }
        EXPECT_EQ(ann->Pushed().size(), 0u);
    };
    JsonMessage posted = Post(*ann, team, "news");
    told("SetUnread");
    EXPECT_EQ(unread(*bob), 1u);
    EXPECT_EQ(unread(*ann), 0u);
    JsonMessage read =
        bob->Reply(Json().Str("mt", "SetRead").Str("src", "r").Num("id", posted.Number("id")), "SetReadResult");
    EXPECT_EQ(read.Number("id"), posted.Number("id")) << read.text;
    told("SetRead");
    EXPECT_EQ(unread(*bob), 0u);
    // Twice, one's own message, an unknown one and none: "id" 0, nothing announced.
    for (unsigned long long id : {posted.Number("id"), 999999999ull, 0ull})
        EXPECT_EQ(bob->Reply(Json().Str("mt", "SetRead").Num("id", id), "SetReadResult").Number("id"), 0u) << id;
    EXPECT_EQ(ann->Reply(Json().Str("mt", "SetRead").Num("id", posted.Number("id")), "SetReadResult").Number("id"), 0u);
    for (auto& m : bobPhone->Pushed()) EXPECT_NE(m.Mt(), "SetRead") << m.text;

    // Discussions quiet for more than 30 days count no more, and reading
    // their messages moves no count.
    JsonMessage old = Post(*ann, team, "old news");
    told("SetUnread");
    EXPECT_EQ(unread(*bob), 1u);
    site->Exec("UPDATE discussions SET time=time-31*24*3600*1000::bigint WHERE topic=(SELECT id FROM objects WHERE "
               "sip=" + SqlText(team) + ")");
    // Asked again under its name a moment later, the filter answers with its count (days cannot pass in a
    // moment); under a new name it is counted afresh.
    EXPECT_EQ(unread(*bob, "quiet"), 0u);
    EXPECT_EQ(bob->Reply(Json().Str("mt", "SetRead").Num("id", old.Number("id")), "SetReadResult").Number("id"),
              old.Number("id"));
    for (auto* p : {bob.get(), bobPhone.get()})
        for (auto& m : p->Pushed()) EXPECT_NE(m.Mt(), "SetRead") << m.text;
}

TEST_F(e2e_messaging, counts_asked_for_while_read_marks_stream_in_end_exact)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    auto bobPhone = Login("bob", {"team"});
    const int marks = 60, asks = 12;
    std::vector<unsigned long long> ids;
    for (int i = 0; i < marks; i++) ids.push_back(Post(*ann, N("team"), "news " + std::to_string(i)).Number("id"));
    // The phone reads them all while bob asks for counts under ever new
    // names, neither waiting for an answer: marks land during counts.
    for (int i = 0; i < marks; i++) {
        ASSERT_TRUE(bobPhone->Send(Json().Str("mt", "SetRead").Num("id", ids[i])));
        if (i % (marks / asks) == 0)
            ASSERT_TRUE(bob->Send(
                Json().Str("mt", "SetUnreadFilter").Str("src", "u" + std::to_string(i)).Raw("filter", "{}")));
    }
    std::vector<JsonMessage> got;
    for (int i = 0; i < marks; i++) {
        ASSERT_TRUE(bobPhone->Collect("SetReadResult", got));
        EXPECT_EQ(got.back().Number("id"), ids[i]) << got.back().text;
    }
    // As bob's client holds them: an answer replaces a count, a later step moves it.
    std::map<std::string, long long> counts;
    auto take = [&](const JsonMessage& m) {
        std::string src = m.String("src");
        if (m.Mt() == "SetUnreadFilterResult") counts[src] = (long long)m.Number("count");
        else if (m.Mt() == "SetRead" && counts.count(src)) counts[src]--;
    };
    // Each update waits for the one before it: the steps may take a while.
    auto settled = [&] {
        return counts.size() == size_t(asks) &&
               std::all_of(counts.begin(), counts.end(), [](auto& c) { return c.second == 0; });
    };
    for (JsonMessage m; !settled() && bob->Receive(m);) take(m);
    for (JsonMessage m; bob->Receive(m, 500);) take(m);
    ASSERT_EQ(counts.size(), size_t(asks));
    for (auto& [src, count] : counts) EXPECT_EQ(count, 0) << src;
}

TEST_F(e2e_messaging, a_persons_unread_counts_are_kept_across_a_return_or_a_repeated_request_and_counted_again_after_edits_or_deletions)
{
    auto ann = Login("ann", {"team"});
    auto bobPhone = Login("bob", {"team"});
    std::string team = N("team"), urgent = N("urgent");
    unsigned long long plain = Post(*ann, team, "plain").Number("id");
    unsigned long long tagged = Post(*ann, team, "tagged", "\"tags\":[" + Quote(urgent) + "]").Number("id");
    // Bob's two counts: everything, and what is tagged urgent.
    auto counts = [&](Person& p) {
        std::vector<unsigned long long> got;
        for (auto& [src, filter] : {std::pair<std::string, std::string>("all", "{}"),
                                    {"urgent", Json().Strs("tags", {urgent}).Text()}}) {
            JsonMessage r = p.Reply(Json().Str("mt", "SetUnreadFilter").Str("src", src).Raw("filter", filter),
                                    "SetUnreadFilterResult");
            EXPECT_FALSE(r.Has("error")) << r.text;
            got.push_back(r.Number("count"));
        }
        return got;
    };
    using Counts = std::vector<unsigned long long>;
    auto bob = Login("bob", {"team"});
    EXPECT_EQ(counts(*bob), Counts({2, 1}));
    auto away = [&] { ASSERT_TRUE(bob->ws.Close()) << bob->ws.error.message(); };
    away();
    // While bob is away, a tagged post comes and his phone reads the plain one.
    unsigned long long late = Post(*ann, team, "late", "\"tags\":[" + Quote(urgent) + "]").Number("id");
    EXPECT_EQ(bobPhone->Reply(Json().Str("mt", "SetRead").Num("id", plain), "SetReadResult").Number("id"), plain);
    // A read mark the service does not know of shows whether a count is
    // counted again (it holds the mark) or kept (it does not).
    site->Exec("INSERT INTO message_read (message, object) VALUES (" + std::to_string(tagged) +
         ", (SELECT id FROM objects WHERE sip=" + SqlText(N("bob")) + "))");
    bob = Login("bob", {"team"});
    EXPECT_EQ(counts(*bob), Counts({2, 2})) << "kept, moved by the post and the read mark";
    EXPECT_EQ(counts(*bob), Counts({2, 2})) << "asked again by the same session: its filters answer";
    away();
    // An edit may move counts that look at tags: those are counted again.
    JsonMessage edited = ann->Reply(Json().Str("mt", "Update").Num("id", late).Str("text", "late, calmer"),
                                    "UpdateResult");
    EXPECT_FALSE(edited.Has("error")) << edited.text;
    bob = Login("bob", {"team"});
    EXPECT_EQ(counts(*bob), Counts({2, 0}));
    away();
    // A deletion may move any count.
    EXPECT_FALSE(ann->Reply(Json().Str("mt", "Delete").Num("id", plain), "DeleteResult").Has("error"));
    bob = Login("bob", {"team"});
    EXPECT_EQ(counts(*bob), Counts({1, 0}));
}

TEST_F(e2e_messaging, likes_are_kept_once_announced_and_listed_newest_first)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team");
    JsonMessage posted = Post(*ann, team, "like me");
    std::string id = std::to_string(posted.Number("id"));
    ann->Ask(Json().Str("mt", "SetFilter").Str("src", "liked").Num("count", 0).Bool("liked", true).Raw(
                 "filter", Json().Strs("topics", {team})),
             "SetFilterResult");
    std::string like = Json()
                           .Str("mt", "Like")
                           .Str("src", "l")
                           .Num("id", posted.Number("id"))
                           .Str("author", N("ann"))
                           .Str("topic", team)
                           .Str("text", "like me")
                           .Num("addsTo", posted.Number("addsTo"));
    for (int i = 0; i < 2; i++) {
        JsonMessage r = bob->Reply(like, "LikeResult");
        EXPECT_EQ(r.Number("id"), posted.Number("id")) << r.text;
    }
    EXPECT_EQ(Value("SELECT count(*) FROM message_likes WHERE message=" + id), "1");
    JsonMessage add;
    ASSERT_TRUE(ann->WaitFor("Add", add));
    EXPECT_EQ(add.String("src"), "liked");
    EXPECT_EQ(MsgNumber(add, "id"), posted.Number("id"));

    // 150 more likes, older than bob's: the 100 newest, newest first.
    site->Exec("INSERT INTO objects (sip) SELECT " + SqlText(N("fan")) + "||n FROM generate_series(1,150) n");
    site->Exec("INSERT INTO message_likes (message,object,time) SELECT " + id + ",o.id,1700000000000+n FROM objects o "
               "JOIN generate_series(1,150) n ON o.sip=" + SqlText(N("fan")) + "||n");
    std::vector<JsonMessage> got = bob->Ask(Json().Str("mt", "Likes").Str("src", "who").Num("id", posted.Number("id")),
                                            "LikesResult");
    ASSERT_EQ(got.size(), 101u);
    EXPECT_EQ(got[0].String("sip"), N("bob"));
    EXPECT_EQ(got[1].String("sip"), N("fan") + "150");
    EXPECT_EQ(got[99].String("sip"), N("fan") + "52");
    for (size_t i = 0; i + 1 < got.size(); i++) {
        EXPECT_EQ(got[i].Mt(), "Like");
        EXPECT_EQ(got[i].String("src"), "who");
        EXPECT_EQ(got[i].Number("id"), posted.Number("id"));
        if (i) {
            EXPECT_GE(got[i - 1].Number("time"), got[i].Number("time"));
        }
    }

    EXPECT_EQ(bob->Reply(Json().Str("mt", "UnLike").Str("src", "x").Num("id", posted.Number("id")), "UnLikeResult")
                  .String("src"),
              "x");
    EXPECT_EQ(Value("SELECT count(*) FROM message_likes WHERE message=" + id + " AND object=(SELECT id FROM objects "
                    "WHERE sip=" + SqlText(N("bob")) + ")"),
              "0");
}

TEST_F(e2e_messaging, every_string_is_stored_and_read_back_unchanged)
{
    const std::vector<std::string>& nasty = nastyStrings;
    for (size_t i = 0; i < nasty.size(); i++) {
        SCOPED_TRACE(nasty[i]);
        std::string topic = N("topic " + nasty[i]);
        auto ann = site->Login(N("ann") + nasty[i], {topic});
        JsonMessage r =
            Post(*ann, topic, nasty[i], Json().Strs("tags", {nasty[i]}).Strs("notify", {N("friend ") + nasty[i]}).Members());
        ASSERT_FALSE(r.Has("error")) << r.text;
        std::string id = std::to_string(r.Number("id"));
        EXPECT_EQ(Value("SELECT text FROM messages WHERE id=" + id), nasty[i]);
        EXPECT_EQ(Value("SELECT t.name FROM message_tags mt JOIN tags t ON t.id=mt.tag WHERE mt.message=" + id), nasty[i]);
        // Read back under a filter on the tag: the SQL text and the match agree.
        std::vector<JsonMessage> got = ann->Ask(Json()
                                                    .Str("mt", "SetFilter")
                                                    .Str("src", nasty[i])
                                                    .Num("count", 10)
                                                    .Raw("filter", Json().Strs("topics", {topic}).Strs("tags", {nasty[i]})),
                                                "SetFilterResult");
        std::vector<JsonMessage> rows = Rows(got);
        ASSERT_EQ(rows.size(), 1u) << Texts(got);
        EXPECT_EQ(rows[0].String("src"), nasty[i]);
        EXPECT_EQ(MsgString(rows[0], "text"), nasty[i]);
        EXPECT_EQ(MsgString(rows[0], "topic"), topic);
        EXPECT_EQ(MsgString(rows[0], "author"), N("ann") + nasty[i]);
        JsonMessage edited = ann->Reply(Json().Str("mt", "Update").Num("id", r.Number("id")).Str("text", nasty[i] + "!"),
                                        "UpdateResult");
        EXPECT_FALSE(edited.Has("error")) << edited.text;
        EXPECT_EQ(Value("SELECT text FROM messages WHERE id=" + id), nasty[i] + "!");
    }
}

TEST_F(e2e_messaging, malformed_requests_get_their_reply_or_none_and_the_session_goes_on)
{
    auto ann = Login("ann", {"team"});
    std::string team = N("team");
    unsigned long long discussion = Open(*ann, team, "root");
    ExpectEachAnswered(*ann, {
        "{\"mt\":\"Post\",\"src\":1,\"topic\":[\"x\"],\"text\":{}}",
        "{\"mt\":\"Post\",\"topic\":" + Quote(team) + ",\"text\":1,\"addsTo\":\"7\",\"notify\":\"bob\",\"tags\":[1,null]}",
        "{\"mt\":\"Post\",\"topic\":" + Quote(team) + ",\"guid\":\"not a uuid\"}",
        "{\"mt\":\"Update\",\"id\":\"abc\",\"text\":\"x\"}",
        "{\"mt\":\"Delete\"}",
        "{\"mt\":\"Discussion\",\"discussion\":-1,\"count\":\"x\"}",
        "{\"mt\":\"Discussion\",\"discussion\":" + std::to_string(discussion) + ",\"count\":4294967295}",
        "{\"mt\":\"SetFilter\",\"src\":\"f\",\"count\":-1,\"filter\":\"all\",\"discussion\":\"yes\"}",
        "{\"mt\":\"SetFilter\",\"src\":\"f\",\"count\":99999999999,\"filter\":{\"topics\":7,\"filters\":[1,{}]}}",
        "{\"mt\":\"GetMore\",\"src\":\"nothing registered\",\"count\":1,\"timestamp\":-5,\"id\":[]}",
        "{\"mt\":\"SetUnreadFilter\",\"filter\":[]}",
        "{\"mt\":\"SetRead\",\"id\":-1}",
        "{\"mt\":\"Like\",\"id\":0}",
        "{\"mt\":\"UnLike\"}",
        "{\"mt\":\"Likes\",\"id\":99999999999999}",
    });
    // A text whose rows would not fit a websocket message is refused; a long one that fits is read back.
    std::string control(10000, '\x01'), longText(20000, '"');
    EXPECT_TRUE(Post(*ann, team, control).True("error"));
    JsonMessage stored = Post(*ann, team, longText, "\"addsTo\":" + std::to_string(discussion));
    ASSERT_FALSE(stored.Has("error")) << stored.text;
    std::vector<JsonMessage> got = ann->Ask(
        Json().Str("mt", "Discussion").Num("discussion", discussion).Num("count", 1), "DiscussionResult");
    std::vector<JsonMessage> read = Rows(got);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_TRUE(MsgString(read[0], "text") == longText);
    // Unknown and refused messages get nothing; the session still answers.
    for (std::string quiet : {"{\"mt\":\"DatabaseReset\"}", "{\"mt\":\"NoSuchThing\"}", "{\"mt\":\"PbxInfoX\"}"})
        ASSERT_TRUE(ann->Send(quiet));
    std::vector<JsonMessage> topics = ann->Ask("{\"mt\":\"ReadTopics\",\"src\":\"still\"}", "ReadTopicsResult");
    EXPECT_EQ(topics.size(), 3u) << Texts(topics);
}

TEST_F(e2e_messaging, nothing_of_a_topic_reaches_a_user_who_may_not_use_it)
{
    auto ann = Login("ann", {"team", "secret"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team"), secret = N("secret"), tag = N("classified");
    std::string filterOr = Json().Str("op", "or").Strs("tags", {tag}).Strs("topics", {secret});
    // Bob watches with filters that name the topic and widen with OR.
    bob->Ask(Json().Str("mt", "SetFilter").Str("src", "watch").Num("count", 0).Raw("filter", filterOr),
             "SetFilterResult");
    bob->Ask(Json().Str("mt", "SetFilter").Str("src", "likes").Num("count", 0).Bool("liked", true).Raw("filter",
                                                                                                      filterOr),
             "SetFilterResult");
    JsonMessage opened = Post(*ann, secret, "for ann only", Json().Strs("tags", {tag}).Members());
    ASSERT_FALSE(opened.Has("error")) << opened.text;
    std::string root = std::to_string(opened.Number("id")), discussion = std::to_string(opened.Number("addsTo"));
    JsonMessage liked = ann->Reply(Json().Str("mt", "Like").Num("id", opened.Number("id")).Str("topic", secret),
                                   "LikeResult");
    ASSERT_EQ(Value("SELECT count(*) FROM message_likes WHERE message=" + root), "1");

    // Posting into it through its discussion, whatever topic the post names.
    std::string count = Value("SELECT count(*) FROM messages WHERE adds_to=" + discussion);
    EXPECT_TRUE(Post(*bob, team, "sneaking in", "\"addsTo\":" + discussion).True("error"));
    EXPECT_TRUE(Post(*bob, team, "sneaking in", "\"repliesTo\":" + root).True("error"));
    EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE adds_to=" + discussion), count);

    // Every way of reading.
    auto rows = [&](const std::string& request, const std::string& resultMt) {
        std::vector<JsonMessage> got = bob->Ask(request, resultMt);
        std::vector<JsonMessage> found;
        for (auto& m : Rows(got))
            if (MsgString(m, "topic") == secret) found.push_back(std::move(m));
        return found.size();
    };
    EXPECT_EQ(rows(Json().Str("mt", "Discussion").Num("discussion", opened.Number("addsTo")).Num("count", 10),
                   "DiscussionResult"),
              0u);
    for (std::string members : {"\"discussion\":true,\"filter\":" + filterOr, std::string("\"discussion\":false"),
                                "\"liked\":true,\"filter\":" + filterOr, "\"addsTo\":" + discussion})
        EXPECT_EQ(rows("{\"mt\":\"SetFilter\",\"src\":\"r\",\"count\":100," + members + "}", "SetFilterResult"), 0u)
            << members;
    EXPECT_EQ(rows("{\"mt\":\"GetMore\",\"src\":\"unregistered\",\"count\":100,\"timestamp\":9000000000000,\"id\":1}",
                   "GetMoreResult"),
              0u);
    EXPECT_EQ(bob->Reply(Json().Str("mt", "SetUnreadFilter").Str("src", "u").Raw("filter", filterOr),
                         "SetUnreadFilterResult")
                  .Number("count"),
              0u);
    EXPECT_EQ(bob->Ask(Json().Str("mt", "Likes").Num("id", opened.Number("id")), "LikesResult").size(), 1u);
    // Marking it read or liking it leaves nothing behind.
    EXPECT_EQ(bob->Reply(Json().Str("mt", "SetRead").Num("id", opened.Number("id")), "SetReadResult").Number("id"), 0u);
    bob->Reply(Json().Str("mt", "Like").Num("id", opened.Number("id")).Str("topic", team), "LikeResult");
    EXPECT_EQ(Value("SELECT count(*) FROM message_read WHERE message=" + root), "0");
    EXPECT_EQ(Value("SELECT count(*) FROM message_likes WHERE message=" + root), "1");
    // Nothing of it was pushed: not the post, not ann's like, not bob's own attempt.
    for (auto& m : bob->Pushed()) EXPECT_NE(MsgString(m, "topic"), secret) << m.text;
    // Ann, who may, still sees it all.
    EXPECT_EQ(ann->Ask(Json().Str("mt", "Discussion").Num("discussion", opened.Number("addsTo")).Num("count", 10),
                       "DiscussionResult")
                  .size(),
              1u) << "a discussion's messages leave its root out: the reply alone";
}

TEST_F(e2e_messaging, search_finds_words_by_prefix_and_phrases_in_any_language_within_the_users_topics)
{
    auto ann = Login("ann", {"team", "secret"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team");
    std::vector<std::string> texts = {"Deployment of the new build tonight", "deploy failed: rolling back",
                                      "the quick brown fox", "brown, quick; fox!", "Die Bereitstellung läuft",
                                      "日本語のテキスト", "unrelated chatter",
                                      "Internationalization works"};
    std::map<std::string, unsigned long long> ids;
    for (auto& t : texts) ids[t] = Post(*ann, team, t).Number("id");
    Post(*ann, N("secret"), "deployment of the secret");
    auto search = [&](Person& p, const std::string& text, unsigned count = 10, const std::string& extra = "") {
        std::vector<JsonMessage> got = p.Ask("{\"mt\":\"Search\",\"src\":\"s\",\"count\":" + std::to_string(count) +
                                                 ",\"text\":" + Quote(text) + extra + "}",
                                             "SearchResult");
        std::vector<std::string> found;
        for (auto& m : Rows(got)) found.push_back(MsgString(m, "text"));
        EXPECT_EQ(got.empty() ? ~0ull : got.back().Number("count"), found.size()) << text;
        return found;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(search(*bob, "deplo"), (V{"deploy failed: rolling back", "Deployment of the new build tonight"}));
    EXPECT_EQ(search(*bob, "\"quick brown\""), (V{"the quick brown fox"}));
    EXPECT_EQ(search(*bob, "quick BROWN"), (V{"brown, quick; fox!", "the quick brown fox"}));
    EXPECT_EQ(search(*bob, "bereitstellung"), (V{"Die Bereitstellung läuft"}));
    EXPECT_EQ(search(*bob, "läu"), (V{"Die Bereitstellung läuft"}));
    EXPECT_EQ(search(*bob, "LÄU"), (V{"Die Bereitstellung läuft"})) << "letters beyond ASCII have a case too";
    EXPECT_EQ(search(*bob, "日本"), (V{"日本語のテキスト"}));
    EXPECT_EQ(search(*bob, "qu br"), (V{"brown, quick; fox!", "the quick brown fox"}));
    // Words longer than the beginnings that the prefix index keeps.
    EXPECT_EQ(search(*bob, "internationalizati"), (V{"Internationalization works"}));
    EXPECT_EQ(search(*bob, "internationalizatiom"), V{});
    EXPECT_EQ(search(*bob, "\"internationalization works\" inter"), (V{"Internationalization works"}));
    // The search syntax's own operators are only separators.
    EXPECT_EQ(search(*bob, "fox' & !quick | (brown:*"), (V{"brown, quick; fox!", "the quick brown fox"}));
    EXPECT_EQ(search(*bob, "'; DROP TABLE messages; --"), V{});
    EXPECT_EQ(search(*bob, "   \"\" ,.;"), V{});
    // Topics: only the user's, and one of them when named.
    EXPECT_EQ(search(*ann, "deplo", 10, ",\"topic\":" + Quote(N("secret"))), (V{"deployment of the secret"}));
    EXPECT_EQ(search(*bob, "deplo", 10, ",\"topic\":" + Quote(N("secret"))), V{});
    // Pages of one, each below the last id.
    std::vector<JsonMessage> first = bob->Ask("{\"mt\":\"Search\",\"src\":\"p\",\"count\":1,\"text\":\"deplo\"}", "SearchResult");
    std::vector<JsonMessage> page = Rows(first);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(MsgNumber(page[0], "id"), ids["deploy failed: rolling back"]);
    EXPECT_EQ(search(*bob, "deplo", 1, ",\"more\":" + std::to_string(MsgNumber(page[0], "id"))),
              (V{"Deployment of the new build tonight"}));
    EXPECT_EQ(search(*bob, "deplo", 1, ",\"more\":" + std::to_string(ids["Deployment of the new build tonight"])), V{});
}

TEST_F(e2e_messaging, search_pages_go_newest_first_across_the_newest_ids_without_repeats_or_skips)
{
    auto ann = Login("ann", {"team", "secret"});
    auto bob = Login("bob", {"team"});
    std::string team = N("team"), secret = N("secret");
    JsonMessage first = Post(*ann, team, "needle in the team");
    unsigned long long teamDiscussion = first.Number("addsTo");
    unsigned long long secretDiscussion = Post(*ann, secret, "needle in secret").Number("addsTo");
    unsigned long long base = first.Number("id");
    // Messages far above the others, so that a search reads the newest
    // 20000 ids, the 80000 below them and then the rest, and its pages end
    // at and around those bounds; the newest id ends the run. Some are in a
    // topic bob may not read, one does not match.
    unsigned long long top = base + 200000;
    std::vector<unsigned long long> offsets = {0, 1, 2, 19998, 19999, 20000, 20001, 20002, 99999, 100000, 100001};
    std::set<unsigned long long> hidden = {1, 20002}, unmatched = {2};
    std::vector<unsigned long long> want;
    std::string values;
    for (unsigned long long o : offsets) {
        unsigned long long id = top - o;
        if (!hidden.count(o) && !unmatched.count(o)) want.push_back(id);
        values += (values.empty() ? "(" : ",(") + std::to_string(id) + "," +
                  std::to_string(hidden.count(o) ? secretDiscussion : teamDiscussion) + ",'" +
                  (unmatched.count(o) ? "no such word" : "a needle") + "')";
    }
    want.push_back(base);
    EXPECT_EQ(Value("WITH added AS (INSERT INTO messages (id,adds_to,author,text) SELECT v.id,v.adds_to,m.author,v.text "
                    "FROM (VALUES " + values + ") AS v(id,adds_to,text), messages m WHERE m.id=" +
                    std::to_string(base) + " RETURNING 1) SELECT COUNT(*) FROM added"),
              std::to_string(offsets.size()));
    Value("SELECT setval('messages_id_seq', " + std::to_string(top) + ")");
    // A two-letter word is walked by id among the newest, not asked of the index.
    for (std::string text : {"needle", "ne"})
    for (std::string topic : {std::string(), ",\"topic\":" + Quote(team)}) {
        for (unsigned count : {1u, 2u, 3u, 5u, 100u}) {
            std::vector<unsigned long long> got;
            std::string more;
            for (size_t page = 0; page <= want.size(); page++) {
                std::vector<JsonMessage> reply = bob->Ask("{\"mt\":\"Search\",\"src\":\"w\",\"count\":" +
                                                              std::to_string(count) + ",\"text\":\"" + text + "\"" + topic +
                                                              more + "}",
                                                          "SearchResult");
                std::vector<JsonMessage> rows = Rows(reply);
                for (auto& m : rows) got.push_back(MsgNumber(m, "id"));
                if (rows.size() < count) break;
                more = ",\"more\":" + std::to_string(got.back());
            }
            EXPECT_EQ(got, want) << text << ", pages of " << count << topic;
        }
    }
}

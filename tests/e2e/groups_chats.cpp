// Groups, their members and chats as people see them: real app clients
// through platform-webserver against messages on the test PostgreSQL. Chat
// messages get where real clients put them: a writer posts the own copy
// ("type": 1, notifying the partner) into the own topic, and the app object
// posts the copy of each other side into that side's topic for the writer.
#include "tests/e2e/messaging_site.h"

#include <algorithm>

using namespace e2e;

namespace {

class e2e_groups_chats : public MessagingTest {
protected:
    void SetUp() override
    {
        MessagingTest::SetUp();
        svc = Login("svc", {}, "svc");
    }
    // Everybody logs in under the app object "svc".
    std::unique_ptr<Person> User(const std::string& sip) { return Login(sip, {}, "svc"); }
    std::string Id(const std::string& sip) { return Value("SELECT id FROM objects WHERE sip=" + SqlText(sip)); }

    JsonMessage Post(Person& p, const std::string& topic, const std::string& text, const std::string& extra)
    {
        JsonMessage r = p.Reply("{\"mt\":\"Post\",\"src\":\"p\",\"topic\":" + Quote(topic) +
                                    ",\"text\":" + Quote(text) + ",\"type\":1," + extra + "}",
                                "PostResult");
        EXPECT_FALSE(r.Has("error")) << r.text;
        // Distinct times keep the expected order of a chat certain.
        usleep(3000);
        return r;
    }
    // `from` writes to `to`: the own copy, then the app object's copy for `to`.
    JsonMessage Chat(Person& from, const std::string& to, const std::string& text, const std::string& extra = "")
    {
        JsonMessage own = Post(from, from.sip, text, "\"notify\":[" + Quote(to) + "]" + extra);
        Post(*svc, to, text, "\"author\":" + Quote(from.sip) + ",\"notify\":[" + Quote(from.sip) + "]" + extra);
        return own;
    }
    // `from` writes into the group chat of `group`: one copy per member.
    void GroupChat(Person& from, const std::string& group, const std::vector<std::string>& others,
                   const std::string& text)
    {
        Post(from, from.sip, text, "\"notify\":[" + Quote(group) + "]");
        for (auto& m : others)
            Post(*svc, m, text, "\"author\":" + Quote(from.sip) + ",\"notify\":[" + Quote(group) + "]");
    }
    std::vector<JsonMessage> ReadChat(Person& p, const Json& members)
    {
        return Rows(p, "ReadChat", members, "ReadChatInd");
    }
    // "sip:unread" of each chat of p, latest first.
    std::vector<std::string> Chats(Person& p, bool unread)
    {
        std::vector<std::string> chats;
        for (auto& r : Rows(p, "ReadChats", Json().Bool("unread", unread), "ReadChatsInd")) {
            EXPECT_EQ(r.Has("unread"), unread) << r.text;
            chats.push_back(r.String("sip") + (r.True("grp") ? "(group)" : "") +
                            (unread ? ":" + std::to_string(r.Number("unread")) : ""));
        }
        return chats;
    }
    // A read filter on p's chats: the personal topic, whatever a message notifies.
    void WatchChats(Person& p)
    {
        p.Reply(Json()
                    .Str("mt", "SetUnreadFilter")
                    .Str("src", "u")
                    .Raw("filter", Json().Strs("topics", {p.sip}).Strs("notifies", {""})),
                "SetUnreadFilterResult");
    }
    JsonMessage WriteGroup(Person& p, const Json& members)
    {
        return p.Reply(Request("WriteGroup", members), "WriteGroupResult");
    }
    std::string Crew(const std::string& grp, const std::string& dn) { return MessagingTest::Crew(*svc, grp, dn); }
    // "sip dn admin" of each member of a group, in the order they joined.
    std::vector<std::string> Members(Person& p, unsigned long long group,
                                     std::vector<unsigned long long>* ids = nullptr)
    {
        std::vector<std::string> members;
        for (auto& r : Rows(p, "ReadMembers", Json().Str("src", "m").Num("id", group), "ReadMembersInd")) {
            EXPECT_EQ(r.String("src"), "m");
            EXPECT_FALSE(r.Has("gdn")) << r.text;
            members.push_back(r.String("sip") + " " + r.String("dn") + (r.True("admin") ? " admin" : ""));
            if (ids) ids->push_back(r.Number("id"));
        }
        return members;
    }

    std::unique_ptr<Person> svc;
};

}  // namespace

TEST_F(e2e_groups_chats, groups_are_created_renamed_filled_and_deleted)
{
    auto ann = User("ann");
    auto bob = User("bob");
    // Created below the app object, with its creator as the first admin.
    JsonMessage created =
        WriteGroup(*ann, Json().Str("src", "w").Str("grp", "team").Str("dn", "Team").Str("user", N("ann")));
    EXPECT_EQ(created.String("src"), "w");
    EXPECT_EQ(created.String("sip"), N("svc") + "?team");
    unsigned long long team = created.Number("id");
    ASSERT_NE(team, 0u) << created.text;
    EXPECT_EQ(Value("SELECT dn || grp FROM objects WHERE id=" + std::to_string(team)), "Teamtrue");
    // Without "grp" a random number names it; a creator the database does not know yet gets a row.
    JsonMessage unnamed = WriteGroup(*ann, Json().Str("dn", "Other").Str("user", N("newbie")));
    std::string sip = unnamed.String("sip");
    ASSERT_GT(sip.size(), N("svc?").size()) << unnamed.text;
    EXPECT_EQ(sip.substr(0, N("svc?").size()), N("svc?"));
    EXPECT_TRUE(std::all_of(sip.begin() + long(N("svc?").size()), sip.end(), ::isdigit)) << sip;
    EXPECT_EQ(Members(*ann, unnamed.Number("id")), std::vector<std::string>{N("newbie") + "  admin"});
    EXPECT_EQ(Value("SELECT dn IS NULL FROM objects WHERE sip=" + SqlText(N("newbie"))), "t");
    // The same name twice, or a session without an app object to name it: nothing.
    EXPECT_EQ(WriteGroup(*bob, Json().Str("grp", "team").Str("user", N("bob"))).Number("id"), 0u);
    auto loner = Login("loner");
    std::string groups = Value("SELECT count(*) FROM objects WHERE grp");
    EXPECT_EQ(WriteGroup(*loner, Json().Str("grp", "x").Str("user", N("loner"))).Number("id"), 0u);
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE grp"), groups);

    // Members join, bob (whatever the letter case) and carl, who has no row yet.
    for (std::string member : {N("BOB"), N("carl")})
        bob->Reply(Json().Str("mt", "WriteMember").Num("grp", team).Str("member", member).Bool("admin", true),
                   "WriteMemberResult");
    std::vector<unsigned long long> ids;
    EXPECT_EQ(Members(*bob, team, &ids), (std::vector<std::string>{N("ann") + " Dn of " + N("ann") + " admin",
                                                                   N("bob") + " Dn of " + N("bob"), N("carl") + " "}));
    ASSERT_EQ(ids.size(), 3u);
    // bob is promoted; carl leaves.
    bob->Reply(
        Json().Str("mt", "WriteMember").Num("id", ids[1]).Num("grp", team).Str("member", N("bob")).Bool("admin", true),
        "WriteMemberResult");
    JsonMessage left =
        bob->Reply(Json().Str("mt", "WriteMember").Str("src", "x").Num("id", ids[2]), "WriteMemberResult");
    EXPECT_EQ(left.String("src"), "x");
    EXPECT_EQ(Members(*ann, team), (std::vector<std::string>{N("ann") + " Dn of " + N("ann") + " admin",
                                                             N("bob") + " Dn of " + N("bob") + " admin"}));

    // Renamed; listed for each member (bob's own without naming himself).
    JsonMessage renamed = WriteGroup(*ann, Json().Num("id", team).Str("grp", "team").Str("dn", "Crew"));
    EXPECT_EQ(renamed.Number("id"), team);
    EXPECT_EQ(renamed.String("sip"), N("svc") + "?team");
    auto groupsOf = [&](Person& p, const Json& members) {
        std::vector<std::string> g;
        for (auto& r : Rows(p, "ReadGroups", members, "ReadGroupsInd"))
            g.push_back(std::to_string(r.Number("id")) + " " + r.String("sip") + " " + r.String("dn"));
        return g;
    };
    std::vector<std::string> crew = {std::to_string(team) + " " + N("svc") + "?team Crew"};
    EXPECT_EQ(groupsOf(*bob, Json()), crew);
    EXPECT_EQ(groupsOf(*bob, Json().Str("user", N("ANN"))), crew);
    EXPECT_TRUE(groupsOf(*bob, Json().Str("user", N("carl"))).empty());

    // A user's row is no group: neither renamed nor deleted.
    unsigned long long annId = std::stoull(Id(N("ann")));
    EXPECT_NE(WriteGroup(*bob, Json().Num("id", annId).Str("dn", "Hacked")).Number("id"), 0u);
    WriteGroup(*bob, Json().Num("id", annId));
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE id=" + std::to_string(annId)), "Dn of " + N("ann"));
    // Deleted: the row and its memberships go; the reply says 0.
    JsonMessage deleted = WriteGroup(*ann, Json().Num("id", team).Str("user", N("ann")));
    EXPECT_EQ(deleted.Number("id", 0), 0u);
    EXPECT_TRUE(deleted.Has("id")) << deleted.text;
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE id=" + std::to_string(team)), "0");
    EXPECT_EQ(Value("SELECT count(*) FROM members WHERE grp=" + std::to_string(team)), "0");
    EXPECT_TRUE(groupsOf(*bob, Json()).empty());
}

TEST_F(e2e_groups_chats, group_and_member_names_are_stored_and_read_back_unchanged)
{
    const std::vector<std::string>& nasty = nastyStrings;
    auto ann = User("ann");
    for (size_t i = 0; i < nasty.size(); i++) {
        SCOPED_TRACE(nasty[i]);
        JsonMessage g = WriteGroup(*ann, Json().Str("grp", nasty[i]).Str("dn", nasty[i]).Str("user", N("ann")));
        ASSERT_NE(g.Number("id"), 0u) << g.text;
        EXPECT_EQ(g.String("sip"), N("svc") + "?" + nasty[i]);
        EXPECT_EQ(Value("SELECT dn FROM objects WHERE id=" + std::to_string(g.Number("id"))), nasty[i]);
        ann->Reply(Json().Str("mt", "WriteMember").Num("grp", g.Number("id")).Str("member", N(nasty[i])),
                   "WriteMemberResult");
        EXPECT_EQ(Members(*ann, g.Number("id")),
                  (std::vector<std::string>{N("ann") + " Dn of " + N("ann") + " admin", N(nasty[i]) + " "}));
        std::vector<JsonMessage> mine = Rows(*ann, "ReadGroups", Json().Str("user", N(nasty[i])), "ReadGroupsInd");
        ASSERT_EQ(mine.size(), 1u);
        EXPECT_EQ(mine[0].String("sip"), N("svc") + "?" + nasty[i]);
        EXPECT_EQ(mine[0].String("dn"), nasty[i]);
    }
}

TEST_F(e2e_groups_chats, people_chat_one_to_one_and_in_a_group)
{
    auto ann = User("ann");
    auto bob = User("bob");
    auto carl = User("carl");
    std::string team = Crew("team", "Team");
    WatchChats(*bob);

    Chat(*ann, N("bob"), "hi bob", ",\"guid\":\"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9\"");
    Chat(*ann, N("bob"), "how are you?");
    Chat(*carl, N("bob"), "yo");
    GroupChat(*carl, team, {N("ann"), N("bob")}, "meeting at 10");
    bob->Pushed();

    // Each chat once, latest first, with what bob has not read.
    EXPECT_EQ(Chats(*bob, true), (std::vector<std::string>{team + "(group):1", N("carl") + ":1", N("ann") + ":2"}));
    EXPECT_EQ(Chats(*bob, false), (std::vector<std::string>{team + "(group)", N("carl"), N("ann")}));
    std::vector<JsonMessage> chats = Rows(*bob, "ReadChats", Json(), "ReadChatsInd");
    ASSERT_EQ(chats.size(), 3u);
    EXPECT_EQ(chats[0].String("dn"), "Team");
    EXPECT_EQ(std::to_string(chats[2].Number("timestamp")),
              Value("SELECT max(m.time) FROM messages m JOIN discussions d ON d.id=m.adds_to WHERE d.topic=" +
                    Id(N("bob")) + " AND m.author=" + Id(N("ann"))));

    // Reading the chat with ann: newest first, and now read.
    std::vector<JsonMessage> rows = ReadChat(*bob, Json().Str("src", "c").Str("sip", N("ann")));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].String("text"), "how are you?");
    EXPECT_EQ(Fields(rows[1], {"text", "src", "author", "dn", "guid"}),
              "text=hi bob src=c author=" + N("ann") + " dn=Dn of " + N("ann") + " guid=0a1b2c3d4e5f60718293a4b5c6d7e8f9");
    EXPECT_GT(rows[0].Number("timestamp"), rows[1].Number("timestamp"));
    EXPECT_FALSE(rows[0].Has("attached") || rows[0].Has("attach")) << rows[0].text;
    EXPECT_EQ(Value("SELECT count(*) FROM message_read WHERE object=" + Id(N("bob"))), "2");
    // The unread chat count is announced to bob's own read filter.
    JsonMessage count;
    ASSERT_TRUE(bob->WaitFor("", count));
    EXPECT_EQ(count.String("src"), "u");
    EXPECT_EQ(Chats(*bob, true), (std::vector<std::string>{team + "(group):1", N("carl") + ":1"}));
    // Read again, the messages are still there and nothing is marked twice.
    EXPECT_EQ(ReadChat(*bob, Json().Str("topic", N("bob")).Str("sip", N("ann"))).size(), 2u);
    EXPECT_EQ(Value("SELECT count(*) FROM message_read WHERE object=" + Id(N("bob"))), "2");

    // bob's answer is unread for ann only; noind marks it read without sending it.
    JsonMessage answer = Chat(*bob, N("ann"), "fine");
    EXPECT_EQ(Chats(*bob, true), (std::vector<std::string>{team + "(group):1", N("carl") + ":1"}));
    EXPECT_EQ(Chats(*ann, true), (std::vector<std::string>{N("bob") + ":1", team + "(group):1"}));
    EXPECT_TRUE(ReadChat(*ann, Json().Str("sip", N("bob")).Bool("noind", true)).empty());
    EXPECT_EQ(Chats(*ann, true), (std::vector<std::string>{team + "(group):1"}));
    EXPECT_EQ(Chats(*ann, false), (std::vector<std::string>{N("bob"), team + "(group)"}));

    // Nobody reads or deletes another user's chats; the app object reads them for its users.
    for (std::string mt : {"ReadChat", "DeleteChat", "ReadChats"}) {
        std::vector<JsonMessage> got =
            carl->Ask(Json().Str("mt", mt).Str("topic", N("ann")).Str("sip", N("bob")), mt + "Result");
        ASSERT_EQ(got.size(), 1u) << Texts(got);
        EXPECT_TRUE(got[0].True("error")) << got[0].text;
    }
    EXPECT_EQ(
        Value("SELECT count(*) FROM message_notifications n JOIN messages m ON m.id=n.message JOIN discussions d ON "
              "d.id=m.adds_to WHERE d.topic=" +
              Id(N("ann")) + " AND n.object=" + Id(N("bob"))),
        "3");

    // File links name the reading session, or the user session the app object reads for.
    std::string first = std::to_string(rows[1].Number("id"));
    site->Exec("UPDATE messages SET attached='12/file%20one.txt 13/b%ZZ%00.pdf' WHERE id=" + first);
    // bob's own "fine" is part of the chat too.
    rows = ReadChat(*bob, Json().Str("sip", N("ann")).Num("count", 5));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].String("author"), N("bob"));
    unsigned short files = rows[2].doc->get_array(0, "attached");
    ASSERT_EQ(rows[2].Members(files), 2u) << rows[2].text;
    std::string link = rows[2].String("url", files + 1);
    std::string query = "?session=" + std::to_string(answer.Number("session")) +
                        "&usersession=0&key=" + std::to_string(answer.Number("key"));
    EXPECT_EQ(link.substr(0, 7), "http://");
    EXPECT_NE(link.find("/messages/files/12/file%20one.txt" + query), std::string::npos) << link;
    EXPECT_EQ(rows[2].String("name", files + 1), "file one.txt");
    EXPECT_EQ(rows[2].String("name", files + 4), "b%ZZ%00.pdf");
    ASSERT_EQ(svc->Reply(Json().Str("mt", "Session").Num("session", 7).Str("user", N("bob")), "SessionResult")
                  .Number("session"),
              7u);
    rows = ReadChat(*svc, Json().Str("user", N("bob")).Str("sip", N("ann")).Num("session", 7));
    ASSERT_EQ(rows.size(), 3u);
    link = rows[2].String("url", rows[2].doc->get_array(0, "attached") + 1);
    EXPECT_NE(link.find("&usersession=7&key="), std::string::npos) << link;
    EXPECT_EQ(link.find("&key=0"), std::string::npos) << link;

    // A link opens with the key of the session it names, and only while that
    // session lasts: a user session started again under its number, or
    // closed, takes its links along. User names match exactly, and only the
    // app object has user sessions.
    auto linkFor = [&](Person& p, Json request) {
        std::vector<JsonMessage> read = ReadChat(p, request.Str("sip", N("ann")));
        return read.size() == 3 ? read[2].String("url", read[2].doc->get_array(0, "attached") + 1) : "<no chat>";
    };
    // The file named does not exist: a refused key is "not found", an accepted one an empty file.
    auto opens = [&](const std::string& url) {
        return Http(site->site.dir, {site->web.Url(url.substr(url.find("/messages/")))}).status == 200;
    };
    auto swapped = [](std::string url, const std::string& from, const std::string& to) {
        size_t at = url.find(from);
        return at == std::string::npos ? "<no " + from + ">" : url.replace(at, from.size(), to);
    };
    std::string own = linkFor(*svc, Json().Str("user", N("bob")));
    EXPECT_NE(own.find("&usersession=0&"), std::string::npos) << own;
    std::string userKey = link.substr(link.find("&key=")), ownKey = own.substr(own.find("&key="));
    EXPECT_TRUE(opens(link)) << link;
    EXPECT_TRUE(opens(own)) << own;
    EXPECT_FALSE(opens(swapped(link, userKey, ownKey)));
    EXPECT_FALSE(opens(swapped(own, ownKey, userKey)));
    EXPECT_FALSE(opens(swapped(link, "usersession=7", "usersession=8")));
    std::string upper = N("bob");
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_NE(linkFor(*svc, Json().Str("user", upper).Num("session", 7)).find("&usersession=0&"), std::string::npos);
    ASSERT_EQ(bob->Reply(Json().Str("mt", "Session").Num("session", 7).Str("user", N("bob")), "SessionResult")
                  .Number("session"),
              7u);
    EXPECT_NE(linkFor(*bob, Json().Str("user", N("bob")).Num("session", 7)).find("&usersession=0&"), std::string::npos);
    svc->Reply(Json().Str("mt", "Session").Num("session", 7).Str("user", N("bob")).Str("dn", "Bob"), "SessionResult");
    EXPECT_FALSE(opens(link)) << link;
    std::string again = linkFor(*svc, Json().Str("user", N("bob")).Num("session", 7));
    EXPECT_NE(again, link);
    EXPECT_TRUE(opens(again)) << again;
    ASSERT_TRUE(svc->Send(Json().Str("mt", "SessionClose").Num("session", 7)));
    EXPECT_NE(linkFor(*svc, Json().Str("user", N("bob")).Num("session", 7)).find("&usersession=0&"), std::string::npos);
    EXPECT_FALSE(opens(again)) << again;
}

// Clients without an app object of their own (the web client) post only
// their own copy with "deliver": the service writes the other sides'.
TEST_F(e2e_groups_chats, the_service_delivers_the_copies_of_a_chat_message_when_asked)
{
    auto ann = User("ann");
    auto bob = User("bob");
    auto carl = User("carl");
    std::string crew = Crew("crew", "Crew");

    Post(*ann, N("ann"), "hello bob", "\"deliver\":true,\"notify\":[" + Quote(N("bob")) + "]");
    Post(*ann, N("ann"), "hello crew", "\"deliver\":true,\"notify\":[" + Quote(crew) + "]");
    // Without "deliver", or into another topic, nothing is copied.
    Post(*ann, N("ann"), "note to self", "\"notify\":[" + Quote(N("carl")) + "]");

    EXPECT_EQ(Chats(*bob, true), (std::vector<std::string>{crew + "(group):1", N("ann") + ":1"}));
    EXPECT_EQ(Chats(*carl, true), (std::vector<std::string>{crew + "(group):1"}));
    EXPECT_EQ(Chats(*ann, false), (std::vector<std::string>{N("carl"), crew + "(group)", N("bob")}));
    std::vector<JsonMessage> rows = ReadChat(*bob, Json().Str("sip", N("ann")));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].String("text"), "hello bob");
    EXPECT_EQ(rows[0].String("author"), N("ann"));
    // One copy per other side; the writer keeps only the own one.
    EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE text='hello crew'"), "3");
    EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE text='hello bob'"), "2");
    EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE text='note to self'"), "1");
}

TEST_F(e2e_groups_chats, a_chat_pages_back_exactly_and_every_unread_message_is_marked)
{
    auto ann = User("ann");
    auto bob = User("bob");
    for (int i = 0; i < 23; i++) Chat(*ann, N("bob"), "m" + std::to_string(i));
    // Times in threes, so that page ends fall inside runs of equal times.
    std::string ofChat =
        "m.id IN (SELECT m.id FROM messages m JOIN discussions d ON d.id=m.adds_to WHERE d.type=1 AND "
        "d.topic=" +
        Id(N("bob")) + ")";
    site->Exec(
        "UPDATE messages SET time=1700000000000+x.n/3 FROM (SELECT m.id, row_number() OVER (ORDER BY m.id) AS n "
        "FROM messages m WHERE " +
        ofChat + ") x WHERE messages.id=x.id");
    std::vector<std::string> reference;
    for (int i = 0; i < 23; i++) reference.push_back("m" + std::to_string(i));

    for (unsigned count : {0u, 1u, 2u, 4u, 5u}) {
        SCOPED_TRACE(count);
        std::vector<std::string> paged;
        unsigned long long older = 0, pages = 0;
        for (;;) {
            Json request = Json().Str("sip", N("ann")).Num("older", older);
            if (count) request.Num("count", count);
            std::vector<JsonMessage> page = ReadChat(*bob, request);
            if (page.empty() || ++pages > 30) break;
            unsigned wanted = count ? count : 20;
            // A page is longer than asked only to finish a run of equal times.
            for (size_t i = wanted; i < page.size(); i++)
                EXPECT_EQ(page[i].Number("timestamp"), page[wanted - 1].Number("timestamp"));
            for (size_t i = 0; i < page.size(); i++) {
                if (i) {
                    EXPECT_GE(page[i - 1].Number("timestamp"), page[i].Number("timestamp"));
                }
                paged.push_back(page[i].String("text"));
            }
            older = page.back().Number("timestamp");
        }
        std::vector<std::string> sorted = paged;
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::string> expected = reference;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sorted, expected) << "neither repeated nor skipped";
    }
    EXPECT_EQ(Value("SELECT count(*) FROM message_read WHERE object=" + Id(N("bob"))), "23");

    // A thousand unread messages of carl: a page of 150 marks them all, and
    // noind marks the rest, several statements' worth.
    site->Exec("INSERT INTO objects (sip) VALUES (" + SqlText(N("carl")) + ")");
    std::string carl = Id(N("carl")), bobId = Id(N("bob"));
    std::string d = Value("INSERT INTO discussions (topic,type) VALUES (" + bobId + ",1) RETURNING id");
    site->Exec("INSERT INTO messages (adds_to,author,text,time) SELECT " + d + "," + carl +
               ",'x'||n,1700000000000+n FROM generate_series(1,1000) n");
    site->Exec("INSERT INTO message_notifications (message,object) SELECT id," + carl +
               " FROM messages WHERE adds_to=" + d);
    std::string marks = "SELECT count(*) FROM message_read r JOIN messages m ON m.id=r.message WHERE m.adds_to=" + d;
    EXPECT_EQ(ReadChat(*bob, Json().Str("sip", N("carl")).Num("count", 150)).size(), 150u);
    EXPECT_EQ(Value(marks), "150");
    EXPECT_TRUE(ReadChat(*bob, Json().Str("sip", N("carl")).Num("count", 5000).Bool("noind", true)).empty());
    EXPECT_EQ(Value(marks), "1000");
    EXPECT_EQ(Chats(*bob, true), std::vector<std::string>{});
}

TEST_F(e2e_groups_chats, deleting_a_chat_removes_only_the_users_copy_of_it)
{
    auto ann = User("ann");
    auto bob = User("bob");
    auto carl = User("carl");
    Chat(*ann, N("bob"), "one");
    Chat(*bob, N("ann"), "two");
    Chat(*ann, N("carl"), "three");
    GroupChat(*carl, N("svc?g"), {N("ann")}, "group");
    // A plain discussion in ann's topic that mentions bob is no chat.
    ann->Reply(Json().Str("mt", "Post").Str("topic", N("ann")).Str("text", "note").Strs("notify", {N("bob")}),
               "PostResult");
    WatchChats(*ann);
    auto texts = [&](const std::string& topic) {
        return Value(
            "SELECT string_agg(m.text, ',' ORDER BY m.id) FROM messages m JOIN discussions d ON d.id=m.adds_to "
            "WHERE d.topic=" +
            Id(topic));
    };
    EXPECT_EQ(texts(N("ann")), "one,two,three,group,note");

    JsonMessage r = ann->Reply(Json().Str("mt", "DeleteChat").Str("src", "d").Str("sip", N("BOB")), "DeleteChatResult");
    EXPECT_EQ(r.String("src"), "d");
    EXPECT_FALSE(r.Has("error"));
    // The unread chat count is announced to ann's own read filter.
    JsonMessage count;
    ASSERT_TRUE(ann->WaitFor("", count));
    EXPECT_EQ(count.String("src"), "u");
    EXPECT_EQ(texts(N("ann")), "three,group,note");
    EXPECT_EQ(texts(N("bob")), "one,two");
    EXPECT_EQ(Chats(*ann, false), (std::vector<std::string>{N("svc?g"), N("carl")}));
}

TEST_F(e2e_groups_chats, malformed_requests_get_their_reply_and_the_session_goes_on)
{
    auto ann = User("ann");
    Chat(*ann, N("bob"), "hello");
    ExpectEachAnswered(*ann, {
        "{\"mt\":\"WriteGroup\",\"id\":\"x\",\"grp\":[1],\"dn\":{},\"user\":7}",
        "{\"mt\":\"WriteGroup\",\"id\":-1}",
        "{\"mt\":\"WriteGroup\",\"grp\":\"" + std::string(3000, 'g') + "\",\"user\":\"" + N("ann") + "\"}",
        "{\"mt\":\"WriteGroup\",\"user\":\"\"}",
        "{\"mt\":\"ReadGroups\",\"user\":[]}",
        "{\"mt\":\"ReadMembers\"}",
        "{\"mt\":\"ReadMembers\",\"id\":99999999999999999999}",
        "{\"mt\":\"WriteMember\"}",
        "{\"mt\":\"WriteMember\",\"grp\":1,\"member\":\"\"}",
        "{\"mt\":\"WriteMember\",\"id\":5,\"grp\":0,\"member\":null,\"admin\":\"yes\"}",
        "{\"mt\":\"ReadChat\",\"sip\":7,\"older\":-1,\"count\":4294967295}",
        "{\"mt\":\"ReadChat\",\"topic\":{},\"count\":-5,\"noind\":\"x\"}",
        "{\"mt\":\"ReadChat\",\"sip\":\"" + N("bob") + "\",\"older\":\"soon\",\"session\":\"x\"}",
        "{\"mt\":\"DeleteChat\",\"sip\":[]}",
        "{\"mt\":\"ReadChats\",\"unread\":1,\"user\":\"\"}",
    });
    // The app object names whose chats it means; naming nobody reads nothing.
    EXPECT_TRUE(svc->Reply("{\"mt\":\"ReadChats\"}", "ReadChatsResult").True("error"));
    EXPECT_TRUE(svc->Reply("{\"mt\":\"ReadChat\",\"user\":\"\",\"sip\":\"x\"}", "ReadChatResult").True("error"));
    // Nothing was stored by the nonsense, and the session still answers.
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip='' OR sip LIKE " + SqlText(N("svc") + "?ggg%")), "0");
    EXPECT_EQ(ReadChat(*ann, Json().Str("sip", N("bob")).Num("older", 0)).size(), 1u);
}

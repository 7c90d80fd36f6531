// A seeded random day of four people in three topics (one shared by all,
// two by pairs): posts, replies, messages added to discussions, read marks,
// likes, unlikes, edits and deletes, each by a real client. Every client
// keeps a view built only from what is pushed to it (its own posts from
// their replies); at each quiet point that view must equal what fresh reads
// of the same filters return, and both must equal a model of the day. Edits
// and deletes are announced to nobody: the test tracks them and checks that
// fresh reads show them. Reproduce a failure with MESSAGES_REPLAY_SEED=<seed>.
#include <stdlib.h>
#include <time.h>

#include <map>
#include <random>
#include <set>

#include "tests/e2e/messaging_site.h"

using namespace e2e;

namespace {

const int USERS = 4;
const int OPERATIONS = 1600;
const int QUIET_EVERY = 100;
// Who may see each topic.
const std::vector<std::set<int>> TOPIC_MEMBERS = {{0, 1, 2, 3}, {0, 1}, {2, 3}};

struct Message {
    unsigned long long id, discussion, repliesTo;
    int author, topic;
    std::string text;
    std::set<int> likers, readers;
};

// What one client has been told.
struct View {
    std::map<unsigned long long, std::string> messages;
    long long unread = 0;
    std::set<unsigned long long> liked;
};

class Replay {
public:
    Replay(MessagingSite& site, unsigned seed) : site(site), random(seed)
    {
        for (int t = 0; t < int(TOPIC_MEMBERS.size()); t++) topics.push_back("replay-topic-" + std::to_string(t));
        for (int u = 0; u < USERS; u++) {
            std::vector<std::string> mine;
            for (int t = 0; t < int(topics.size()); t++)
                if (TOPIC_MEMBERS[t].count(u)) mine.push_back(topics[t]);
            clients.push_back(site.Login(User(u), mine));
            topicsOf.push_back(mine);
        }
        views.resize(USERS);
        deletedUnread.resize(USERS);
        for (int u = 0; u < USERS; u++) Register(u);
    }

    void Run()
    {
        for (int op = 1; op <= OPERATIONS && !::testing::Test::HasFatalFailure(); op++) {
            Step();
            if (op % QUIET_EVERY == 0) Quiet(op);
        }
        Quiet(OPERATIONS);
    }

    int operations[8] = {};

private:
    static std::string User(int u) { return "replay-user-" + std::to_string(u); }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    // Without named topics a filter covers all of the user's topics (named
    // topics would all have to hold, as every term of a filter does).
    static std::string Filter(int) { return "{}"; }
    // (Re)registers the three filters of a client and returns what they read.
    void Register(int u)
    {
        std::vector<JsonMessage> got = Ask(u, Json().Str("mt", "SetFilter").Str("src", "f").Num("count", 100000).Raw(
                                                  "filter", Filter(u)),
                                           "SetFilterResult");
        View& v = views[u];
        v.messages.clear();
        for (auto& m : got)
            if (m.Mt() == "Add") v.messages[Id(m)] = Text(m);
        got = Ask(u, Json().Str("mt", "SetFilter").Str("src", "l").Num("count", 100000).Bool("liked", true).Raw(
                         "filter", Filter(u)),
                  "SetFilterResult");
        v.liked.clear();
        for (auto& m : got)
            if (m.Mt() == "Add") v.liked.insert(Id(m));
        got = Ask(u, Json().Str("mt", "SetUnreadFilter").Str("src", "u").Raw("filter", "{}"), "SetUnreadFilterResult");
        v.unread = got.empty() ? -1 : (long long)got.back().Number("count");
    }

    static unsigned long long Id(const JsonMessage& m) { return m.Number("id", m.Object("msg")); }
    static std::string Text(const JsonMessage& m) { return m.String("text", m.Object("msg")); }

    // A message pushed to client u, applied to its view; false for anything else.
    bool Apply(int u, const JsonMessage& m)
    {
        View& v = views[u];
        if (m.Mt() == "Add" && m.True("update")) {
            if (m.String("src") == "f") v.messages[Id(m)] = Text(m);
            else if (m.String("src") == "l") v.liked.insert(Id(m));
            else ADD_FAILURE() << "an update for an unknown filter: " << m.text;
            return true;
        }
        if ((m.Mt() == "SetUnread" || m.Mt() == "SetRead") && m.String("src") == "u") {
            v.unread += m.Mt() == "SetUnread" ? 1 : -1;
            return true;
        }
        return false;
    }

    // Sends a request of client u; pushes that come meanwhile go to its view.
    std::vector<JsonMessage> Ask(int u, const std::string& request, const std::string& resultMt)
    {
        std::vector<JsonMessage> got = clients[u]->Ask(request, resultMt);
        std::vector<JsonMessage> kept;
        for (auto& m : got)
            if (!Apply(u, m)) kept.push_back(std::move(m));
        if (got.empty()) ADD_FAILURE() << "no " << resultMt << " for " << request;
        return kept;
    }

    // The living messages that client u may see, optionally only its own.
    std::vector<Message*> Visible(int u, bool own)
    {
        std::vector<Message*> all;
        for (auto& [id, m] : model)
            if (TOPIC_MEMBERS[m.topic].count(u) && (!own || m.author == u)) all.push_back(&m);
        return all;
    }

    JsonMessage Post(int u, int topic, unsigned long long addsTo, unsigned long long repliesTo, const std::string& text,
                     bool ownFilter)
    {
        Json request;
        request.Str("mt", "Post").Str("src", "f").Str("topic", topics[topic]).Str("text", text);
        if (ownFilter) request.Str("filterSrc", "f");
        if (addsTo) request.Num("addsTo", addsTo);
        if (repliesTo) request.Num("repliesTo", repliesTo);
        std::vector<JsonMessage> got = Ask(u, request, "PostResult");
        if (got.empty() || got.back().Has("error")) {
            ADD_FAILURE() << "post failed: " << request.Text();
            return JsonMessage();
        }
        JsonMessage& r = got.back();
        Message m{r.Number("id"), r.Number("addsTo"), 0, u, topic, text, {}, {}};
        m.repliesTo = repliesTo ? repliesTo : addsTo ? Root(addsTo) : 0;
        model[m.id] = m;
        // The poster's own filter is spared the update: its reply tells it.
        if (ownFilter) views[u].messages[m.id] = text;
        return std::move(r);
    }
    unsigned long long Root(unsigned long long discussion)
    {
        for (auto& [id, m] : model)
            if (m.discussion == discussion && !m.repliesTo) return id;
        return 0;
    }

    void Step()
    {
        int u = Pick(USERS);
        std::vector<Message*> visible = Visible(u, false);
        std::vector<Message*> own = Visible(u, true);
        int kind = Pick(100);
        std::string text = "text " + std::to_string(++counter) + " by " + std::to_string(u);
        if (kind < 15 || visible.empty()) {
            const std::string& topic = topicsOf[u][Pick(int(topicsOf[u].size()))];
            int t = int(std::find(topics.begin(), topics.end(), topic) - topics.begin());
            Post(u, t, 0, 0, text, true);
            operations[0]++;
        }
        else if (kind < 35) {
            Message* m = visible[Pick(int(visible.size()))];
            Post(u, m->topic, m->discussion, 0, text, true);
            operations[1]++;
        }
        else if (kind < 55) {
            Message* m = visible[Pick(int(visible.size()))];
            Post(u, m->topic, 0, m->id, text, true);
            operations[2]++;
        }
        else if (kind < 72) {
            Message* m = visible[Pick(int(visible.size()))];
            bool marks = m->author != u && !m->readers.count(u);
            std::vector<JsonMessage> got =
                Ask(u, Json().Str("mt", "SetRead").Str("src", "r").Num("id", m->id), "SetReadResult");
            if (!got.empty()) {
                EXPECT_EQ(got.back().Number("id"), marks ? m->id : 0ull) << got.back().text;
            }
            m->readers.insert(u);
            operations[3]++;
        }
        else if (kind < 84) {
            Message* m = visible[Pick(int(visible.size()))];
            Ask(u, Json()
                       .Str("mt", "Like")
                       .Str("src", "k")
                       .Num("id", m->id)
                       .Str("author", User(m->author))
                       .Str("topic", topics[m->topic])
                       .Num("addsTo", m->discussion)
                       .Num("repliesTo", m->repliesTo)
                       .Str("text", m->text),
                "LikeResult");
            m->likers.insert(u);
            operations[4]++;
        }
        else if (kind < 90) {
            Message* m = visible[Pick(int(visible.size()))];
            Ask(u, Json().Str("mt", "UnLike").Str("src", "k").Num("id", m->id), "UnLikeResult");
            if (m->likers.erase(u) && m->likers.empty()) unliked.insert(m->id);
            operations[5]++;
        }
        else if (kind < 96 && !own.empty()) {
            Message* m = own[Pick(int(own.size()))];
            std::vector<JsonMessage> got =
                Ask(u, Json().Str("mt", "Update").Str("src", "e").Num("id", m->id).Str("text", "edited " + text),
                    "UpdateResult");
            if (!got.empty()) {
                EXPECT_FALSE(got.back().Has("error")) << got.back().text;
            }
            m->text = "edited " + text;
            edited.insert(m->id);
            operations[6]++;
        }
        else if (!own.empty()) {
            Message* m = own[Pick(int(own.size()))];
            std::vector<JsonMessage> got =
                Ask(u, Json().Str("mt", "Delete").Str("src", "x").Num("id", m->id), "DeleteResult");
            if (!got.empty()) {
                EXPECT_FALSE(got.back().Has("error")) << got.back().text;
            }
            Delete(m->id);
            operations[7]++;
        }
    }

    // The message and everything that replies to it, at any depth.
    void Delete(unsigned long long id)
    {
        std::set<unsigned long long> gone = {id};
        for (bool more = true; more;) {
            more = false;
            for (auto& [mid, m] : model)
                if (!gone.count(mid) && gone.count(m.repliesTo)) more = gone.insert(mid).second;
        }
        for (unsigned long long g : gone) {
            const Message& m = model[g];
            for (int u : TOPIC_MEMBERS[m.topic])
                if (m.author != u && !m.readers.count(u)) deletedUnread[u]++;
            deleted.insert(g);
            model.erase(g);
        }
    }

    long long ModelUnread(int u)
    {
        long long n = 0;
        for (Message* m : Visible(u, false)) n += m->author != u && !m->readers.count(u);
        return n;
    }

    // Waits until every client has everything pushed before a marker post,
    // which every filter sees, then compares views, fresh reads and model.
    void Quiet(int op)
    {
        SCOPED_TRACE("quiet point after operation " + std::to_string(op));
        JsonMessage marker = Post(0, 0, 0, 0, "marker " + std::to_string(op), false);
        unsigned long long markerId = marker.Number("id");
        for (int u = 0; u < USERS; u++) {
            for (;;) {
                JsonMessage m;
                if (!clients[u]->Receive(m, 20000)) {
                    ADD_FAILURE() << User(u) << " never got the marker";
                    return;
                }
                if (!Apply(u, m)) ADD_FAILURE() << "unexpected: " << m.text;
                if (m.Mt() == "Add" && m.String("src") == "f" && Id(m) == markerId) break;
            }
        }
        for (int u = 0; u < USERS; u++) {
            SCOPED_TRACE(User(u));
            View told = views[u];
            Register(u);
            const View& fresh = views[u];
            // Fresh reads against the model.
            std::map<unsigned long long, std::string> expected;
            std::set<unsigned long long> liked;
            for (Message* m : Visible(u, false)) {
                expected[m->id] = m->text;
                if (!m->likers.empty()) liked.insert(m->id);
            }
            EXPECT_EQ(fresh.messages, expected);
            EXPECT_EQ(fresh.liked, liked);
            EXPECT_EQ(fresh.unread, ModelUnread(u));
            // What was pushed against the fresh reads, but for what nobody is told.
            for (auto& [id, text] : told.messages) {
                if (deleted.count(id)) continue;
                auto f = fresh.messages.find(id);
                if (f == fresh.messages.end()) {
                    ADD_FAILURE() << "pushed but not read: " << id;
                }
                else if (!edited.count(id)) {
                    EXPECT_EQ(text, f->second) << id;
                }
            }
            for (auto& [id, text] : fresh.messages)
                EXPECT_TRUE(told.messages.count(id)) << "read but never pushed: " << id << " " << text;
            for (unsigned long long id : told.liked)
                if (!deleted.count(id) && !unliked.count(id)) {
                    EXPECT_TRUE(fresh.liked.count(id)) << id;
                }
            for (unsigned long long id : fresh.liked) EXPECT_TRUE(told.liked.count(id)) << id;
            EXPECT_EQ(told.unread - deletedUnread[u], fresh.unread);
            deletedUnread[u] = 0;
        }
        edited.clear();
        unliked.clear();
    }

    MessagingSite& site;
    std::mt19937 random;
    std::vector<std::string> topics;
    std::vector<std::vector<std::string>> topicsOf;
    std::vector<std::unique_ptr<Person>> clients;
    std::vector<View> views;
    std::map<unsigned long long, Message> model;
    std::set<unsigned long long> deleted, edited, unliked;
    std::vector<long long> deletedUnread;
    int counter = 0;
};

}  // namespace

TEST(e2e_state_replay, views_built_from_pushed_updates_agree_with_fresh_reads)
{
    const char* given = getenv("MESSAGES_REPLAY_SEED");
    unsigned seed = given ? (unsigned)strtoul(given, nullptr, 10) : (unsigned)time(nullptr);
    std::cout << "MESSAGES_REPLAY_SEED=" << seed << std::endl;
    RecordProperty("seed", std::to_string(seed));
    MessagingSite site;
    ASSERT_TRUE(site.ready) << site.Output();
    {
        Replay replay(site, seed);
        replay.Run();
        const char* names[] = {"discussions", "added", "replies", "read marks", "likes", "unlikes", "edits", "deletes"};
        for (int i = 0; i < 8; i++) std::cout << names[i] << ": " << replay.operations[i] << "\n";
    }
    site.Stop();
}

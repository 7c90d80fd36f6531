// The update hub: the order in which updates pass the filters, a slice of
// filters per loop pass, and the pace at which each session takes them.
#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

class app_updates : public UpdatesTest {
protected:
    // Filters that record their tests and send nothing.
    std::vector<TestFilter*> Recorders(Session* s, unsigned n, const char* prefix = "f", const char* user = nullptr)
    {
        std::vector<TestFilter*> made;
        for (unsigned i = 1; i <= n; i++) made.push_back(Filter(s, prefix + std::to_string(i), user, false));
        return made;
    }
};

}  // namespace

TEST_F(app_updates, updates_pass_the_filters_in_list_order_ten_per_pass_one_update_after_another)
{
    Session* s = NewSession();
    Recorders(s, 25);
    Start("u1");
    Start("u2");
    EXPECT_TRUE(tested.empty());
    Strings pass = Pass();
    EXPECT_EQ(Strings({"f1:u1", "f10:u1"}), Strings({pass.front(), pass.back()}));
    EXPECT_EQ("f11:u1", Pass().front());
    // The short last slice is not topped up with the next update.
    EXPECT_EQ(Strings({"f21:u1", "f22:u1", "f23:u1", "f24:u1", "f25:u1"}), Pass());
    EXPECT_EQ(Strings{"u1"}, gone);
    EXPECT_EQ("f1:u2", Pass().front());
    EXPECT_EQ(2u, Drain());
    // Updates still waiting when the hub goes are freed with it.
    Start("u3");
    Close(s);
    delete hub;
    hub = new AppUpdates(mux);
    EXPECT_EQ(Strings({"u1", "u2", "u3"}), gone);
}

TEST_F(app_updates, a_users_filters_form_one_block_newest_first_and_a_user_update_walks_only_it)
{
    Session* a = NewSession();
    Session* b = NewSession();
    Recorders(a, 500, "x");
    struct {
        Session* s;
        const char *name, *user;
    } users[] = {{a, "alice1", "alice"}, {a, "bob1", "bob"}, {b, "carol1", "carol"}, {b, "bob2", "Bob"},
                 {a, "alice2", "alice"}};
    for (auto& u : users) Filter(u.s, u.name, u.user, false);
    Recorders(b, 500, "y");
    // Two sessions of Bob, in list order, and nobody else is asked.
    Start("read", "BOB");
    EXPECT_EQ(Strings({"bob2:read", "bob1:read"}), Pass());
    // A user without filters: nobody; the entry made for it goes again.
    Start("lost", "dave");
    EXPECT_TRUE(Pass().empty());
    EXPECT_EQ(nullptr, group.FindUser("dave"));
    // The block's head moves on when its filter goes; the last filter takes the entry.
    a->AppFilterClose(&group, "alice2");
    EXPECT_STREQ("alice1", group.FindUser("alice")->First()->Name());
    b->AppFilterClose(&group, "carol1");
    EXPECT_EQ(nullptr, group.FindUser("carol"));
    // A user known only to a waiting update gets its block at the end.
    Start("early", "erin");
    Filter(b, "erin1", "erin", false);
    Filter(b, "erin2", "erin", false);
    EXPECT_EQ(Strings({"erin2:early", "erin1:early"}), Pass());
    // An update of the whole group passes the filters in the order they came.
    tested.clear();
    Start("all");
    EXPECT_EQ(101u, Drain());
    EXPECT_EQ("alice1:all", tested[500]);
    EXPECT_EQ("erin2:all", tested.back());

    // A name sent again replaces the session's filter of that group only.
    AppUpdatesFilters second;
    TestFilter* elsewhere = new TestFilter(&second, a, "bob1", nullptr, tested);
    TestFilter* fresh = Filter(a, "bob1");
    EXPECT_EQ(fresh, a->AppFilterGet(&group, "bob1"));
    EXPECT_EQ(elsewhere, a->AppFilterGet(&second, "bob1"));
    EXPECT_STREQ("y1", group.FindUser("bob")->First()->Next()->Name());
    new TestFilter(&second, a, nullptr, nullptr, tested);
    new TestFilter(&second, a, nullptr, nullptr, tested);
    EXPECT_EQ(3u, second.Count());
    a->AppFilterClose(&second, "bob1");
    while (second.First()) delete second.First();
}

TEST_F(app_updates, filters_deleted_between_slices_are_skipped_and_the_update_still_ends)
{
    Session* s = NewSession();
    std::vector<TestFilter*> f = Recorders(s, 25);
    Start("u");
    Pass();
    delete f[10];  // where the update resumes
    delete f[11];
    Strings second = Pass();
    EXPECT_EQ(Strings({"f13:u", "f22:u"}), Strings({second.front(), second.back()}));
    for (unsigned i = 22; i < 25; i++) delete f[i];
    EXPECT_TRUE(Pass().empty());
    EXPECT_EQ(Strings{"u"}, gone);
    // Inside a user's block, resuming at another user's filter ends it.
    std::vector<TestFilter*> g = Recorders(s, 12, "g", "gina");
    Filter(s, "h", "hank", false);
    Start("v", "gina");
    EXPECT_EQ("g12:v", Pass().front());
    delete g[1];
    delete g[0];
    EXPECT_TRUE(Pass().empty());
    EXPECT_EQ(Strings({"u", "v"}), gone);
}

TEST_F(app_updates, filters_whose_gate_an_update_misses_are_not_asked_and_not_counted_as_tests)
{
    Session* s = NewSession();
    std::vector<TestFilter*> takers, others;
    for (unsigned i = 0; i < 230; i++) {
        bool taker = i % 8 == 7;
        TestFilter* f = Filter(s, (taker ? "t" : "o") + std::to_string(i), nullptr, false);
        f->gate = taker ? 2 : 1;
        (taker ? takers : others).push_back(f);
    }
    Start("u", nullptr, 2);
    EXPECT_EQ(size_t{AppUpdates::FILTERS_PER_CALL}, Pass().size());
    // Most of the group goes while the update is half way.
    for (unsigned i = 0; i < 150; i++) delete others[i];
    Drain();
    EXPECT_EQ(takers.size(), tested.size()) << "each taker once, none of the others";
    tested.clear();
    Start("v", nullptr, 2);
    Drain();
    EXPECT_EQ(takers.size(), tested.size());
    EXPECT_EQ("t7:v", tested.front());
    // A filter's gate is read again once it says it changed.
    others.back()->gate = 3;
    others.back()->GateChanged();
    TestFilter* late = Filter(s, "late", nullptr, false);
    late->gate = 2;
    tested.clear();
    Start("w", nullptr, 2);
    Drain();
    EXPECT_EQ(takers.size() + 2, tested.size());
    EXPECT_EQ("late:w", tested.back());
}

namespace {

// A filter of no session that records what it is sent.
class PlaceFilter : public AppUpdatesFilter<TestUpdate> {
public:
    PlaceFilter(const AppUpdatesFilterY* place, const char* label, Strings& heard)
        : AppUpdatesFilter<TestUpdate>(place), label(label), heard(heard)
    {
    }
    bool Test(TestUpdate*) override { return true; }
    void Send(TestUpdate* update) override { heard.push_back(label + ":" + update->label); }
    std::string label;
    Strings& heard;
};

}  // namespace

TEST_F(app_updates, a_filter_in_the_place_of_a_closed_sessions_filter_hears_what_its_place_has_not)
{
    Session* s = NewSession();
    std::vector<TestFilter*> f = Recorders(s, 25);
    TestFilter* ann = Filter(s, "ann", "ann", false);
    Start("u1");
    Pass();
    // The websocket ends while u1 is half way: f1 to f10 have heard it.
    Close(s, false);
    Strings heard;
    PlaceFilter* behind = new PlaceFilter(f[4], "behind", heard);
    PlaceFilter* ahead = new PlaceFilter(f[14], "ahead", heard);
    PlaceFilter* annKept = new PlaceFilter(ann, "ann", heard);
    Start("u2");
    Start("mine", "ann");
    tested.clear();
    Drain();
    EXPECT_TRUE(tested.empty()) << "the closed session's filters are not asked";
    EXPECT_EQ(Strings({"ahead:u1", "ann:u1", "behind:u2", "ahead:u2", "ann:u2", "ann:mine"}), heard);
    delete annKept;
    delete s;
    EXPECT_EQ(nullptr, group.FindUser("ann"));
    delete behind;
    delete ahead;
    EXPECT_EQ(0u, group.Count());
}

TEST_F(app_updates, a_slow_session_keeps_one_update_in_flight_and_queues_the_rest_in_order)
{
    Session* slow = NewSession();
    Session* fast = NewSession();
    Filter(slow, "a");
    Filter(slow, "b");
    Filter(fast, "c");
    for (const char* u : {"u1", "u2", "u3"}) Start(u);
    for (; hub->PendingUpdates(); Ws(fast)->ConfirmAll()) mux->RunOnce(0);
    EXPECT_EQ(Strings({"c:u1", "c:u2", "c:u3"}), Received(fast));
    EXPECT_EQ(Strings{"a:u1"}, Received(slow));
    EXPECT_EQ(5u, slow->QueuedCount());
    EXPECT_TRUE(gone.empty());
    for (int i = 0; i < 3; i++) ConfirmOne(slow);
    EXPECT_EQ(Strings({"u1", "u2"}), gone);
    ConfirmOne(slow);
    ConfirmOne(slow);
    EXPECT_EQ(Strings({"a:u1", "b:u1", "a:u2", "b:u2", "a:u3", "b:u3"}), Received(slow));
    ConfirmOne(slow);
    EXPECT_FALSE(slow->UpdatePending());
    EXPECT_EQ(3u, gone.size());
}

TEST_F(app_updates, responses_in_flight_take_the_send_results_before_queued_updates)
{
    Session* s = NewSession();
    Filter(s, "a");
    Start("u1");
    Start("u2");
    Drain();
    char buffer[64];
    json_io reply(buffer);
    reply.add_object(json_io::NONE, nullptr);
    s->SendResponse(reply, buffer);
    s->SendResponse(reply, buffer);
    ConfirmOne(s);
    ConfirmOne(s);
    EXPECT_EQ(2u, s->responsesSent);
    EXPECT_FALSE(s->ResponsePending());
    EXPECT_EQ(1u, s->QueuedCount());
    ConfirmOne(s);
    EXPECT_EQ("a:u2", Received(s).back());
    // A response alone holds no new update back.
    ConfirmOne(s);
    s->SendResponse(reply, buffer);
    Start("u3");
    Drain();
    EXPECT_EQ("a:u3", Received(s).back());
}

TEST_F(app_updates, queued_entries_of_a_deleted_filter_or_closed_session_never_send)
{
    Session* s = NewSession();
    Session* leaving = NewSession();
    for (const char* name : {"a", "b", "c"}) Filter(s, name);
    Filter(leaving, "l");
    // Filters that only add length, so that an update takes two passes.
    for (int i = 0; i < 10; i++) Filter(leaving, "r" + std::to_string(i), nullptr, false)->passes = false;
    for (const char* u : {"u1", "u2", "u3"}) Start(u);
    Drain();
    // a:u1 in flight; b:u1 c:u1 a:u2 b:u2 c:u2 a:u3 b:u3 c:u3 wait.
    ASSERT_EQ(8u, s->QueuedCount());
    s->AppFilterClose(&group, "b");
    // A replacement under the same name is a new filter: nothing carries over.
    Filter(s, "c");
    EXPECT_EQ(2u, s->QueuedCount());

    // Between the websocket's end and the session's deletion its filters
    // are not even tested.
    Close(leaving, false);
    tested.clear();
    Start("u4");
    Drain();
    EXPECT_EQ(Strings({"a:u4", "c:u4"}), tested);
    EXPECT_EQ(2u, leaving->QueuedCount());
    EXPECT_EQ(Strings{"u1"}, gone);
    delete leaving;
    Ws(s)->ConfirmAll();
    EXPECT_EQ(Strings({"a:u1", "a:u2", "a:u3", "a:u4", "c:u4"}), Received(s));
    EXPECT_EQ(4u, gone.size());
}

TEST_F(app_updates, a_pass_ends_after_a_few_filters_that_take_the_update_or_many_that_decline_it)
{
    const unsigned DECLINING = 2 * AppUpdates::TESTS_PER_CALL, TAKING = AppUpdates::FILTERS_PER_CALL + 1;
    for (unsigned i = 0; i < DECLINING; i++) Filter(NewSession(), "d" + std::to_string(i))->passes = false;
    for (unsigned i = 0; i < TAKING; i++) Filter(NewSession(), "t" + std::to_string(i));
    Start("u");
    EXPECT_EQ(4u, Drain());
    EXPECT_EQ(DECLINING + TAKING, tested.size());
}

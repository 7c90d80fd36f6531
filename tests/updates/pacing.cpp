#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

class PacingTest : public UpdatesTest {};

}  // namespace

TEST_F(PacingTest, a_slow_session_keeps_one_update_in_flight_and_queues_the_rest_in_order)
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

TEST_F(PacingTest, responses_in_flight_take_the_send_results_before_queued_updates)
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

TEST_F(PacingTest, queued_entries_of_a_deleted_filter_or_closed_session_never_send)
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

TEST_F(PacingTest, many_sessions_each_receive_every_update_in_order_at_their_own_pace)
{
    const unsigned N = 300, UPDATES = 6;
    std::vector<Session*> all;
    for (unsigned i = 0; i < N; i++) {
        all.push_back(NewSession());
        Filter(all.back(), "p");
        Filter(all.back(), "q");
    }
    for (unsigned u = 0; u < UPDATES; u++) Start(("u" + std::to_string(u)).c_str());
    // Every third session reads at once, the others only afterwards.
    unsigned passes = 0;
    for (; hub->PendingUpdates(); passes++) {
        mux->RunOnce(0);
        for (unsigned i = 0; i < N; i += 3) Ws(all[i])->ConfirmAll();
    }
    EXPECT_EQ(UPDATES * 2 * N / AppUpdates::FILTERS_PER_CALL, passes);
    EXPECT_TRUE(gone.empty());
    Strings expected;
    for (unsigned u = 0; u < UPDATES; u++)
        for (const char* f : {"p:u", "q:u"}) expected.push_back(f + std::to_string(u));
    for (Session* s : all) {
        Ws(s)->ConfirmAll();
        ASSERT_EQ(expected, Received(s)) << "session " << s->SessionId();
    }
    EXPECT_EQ(UPDATES, gone.size());
}

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/runtime/iomux_fixture.h"

namespace {

// Reads one byte per notification, so unread data stays behind.
class Peer : public UIoContext {
public:
    void IoContextNotify(bool in, bool out) override
    {
        notifies++;
        lastIn = in;
        lastOut = out;
        char c;
        if (in && read(fd, &c, 1) == 1) got += c;
    }
    int notifies = 0;
    bool lastIn = false;
    bool lastOut = false;
    std::string got;
};

}  // namespace

TEST_F(LoopTest, edge_triggered_descriptor_reports_each_change_once)
{
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    mux->FDUnblock(sv[0]);
    EXPECT_TRUE(fcntl(sv[0], F_GETFL) & O_NONBLOCK);
    Peer p;
    mux->FDAdd(sv[0], &p, true);
    EXPECT_EQ(baseFds + 1, mux->FdCount());
    mux->RunOnce(0);
    EXPECT_EQ(1, p.notifies);
    EXPECT_FALSE(p.lastIn);
    EXPECT_TRUE(p.lastOut);

    ASSERT_EQ(3, write(sv[1], "abc", 3));
    mux->RunOnce(0);
    mux->RunOnce(0);  // "bc" is still unread, but nothing changed
    EXPECT_EQ(2, p.notifies);
    EXPECT_TRUE(p.lastIn);
    EXPECT_EQ("a", p.got);

    close(sv[1]);
    mux->RunOnce(0);
    EXPECT_EQ(3, p.notifies);
    EXPECT_TRUE(p.hangup);
    EXPECT_FALSE(p.error);

    mux->FDClose(&p);
    EXPECT_EQ(baseFds, mux->FdCount());
    EXPECT_EQ(-1, fcntl(sv[0], F_GETFD));
}

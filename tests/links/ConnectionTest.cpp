// A connection's stack of stages, with stages of the test's own over a real socket
// pair: data goes down through every stage and up through every stage, in order; a
// stage's answers go down through the stages beneath it; what a read splits a stage
// joins; and the connection holds only a bounded amount for a peer that does not read.
#include <gtest/gtest.h>

#include <cctype>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>

#include "links/Connection.h"
#include "support/Bytes.h"
#include "support/Loopback.h"
#include "support/QuietPortSide.h"

using namespace qlntest;

namespace {

using Bytes = Stage::Bytes;

// Lower stage: frames of at most 255 bytes, a length byte before each. Frames that
// reads cut are joined before their bytes go up.
class Framing : public Stage {
public:
    void FromAbove(const uint8_t* data, size_t count, Bytes& down) override
    {
        for (size_t at = 0; at < count; at += 255) {
            const size_t n = std::min<size_t>(255, count - at);
            down.push_back(static_cast<uint8_t>(n));
            down.insert(down.end(), data + at, data + at + n);
        }
    }
    void FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes&) override
    {
        Partial.insert(Partial.end(), bytes, bytes + count);
        while (!Partial.empty() && Partial.size() > Partial[0]) {
            up.insert(up.end(), Partial.begin() + 1, Partial.begin() + 1 + Partial[0]);
            Partial.erase(Partial.begin(), Partial.begin() + 1 + Partial[0]);
        }
    }
    size_t DownBound(size_t count) const override { return count + count / 255 + 1; }

private:
    Bytes Partial;
};

// Upper stage: letters go down in capitals; each '?' from below is answered "!".
class Answering : public Stage {
public:
    void FromAbove(const uint8_t* data, size_t count, Bytes& down) override
    {
        for (size_t i = 0; i < count; ++i)
            down.push_back(static_cast<uint8_t>(std::toupper(data[i])));
    }
    void FromBelow(const uint8_t* bytes, size_t count, Bytes& up, Bytes& down) override
    {
        up.insert(up.end(), bytes, bytes + count);
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] == '?')
                down.push_back('!');
        }
    }
};

// The connection on one end of a socket pair, its reads handed to a quiet port; the
// test is the peer on the other end.
// A connection on one end of a socket pair; `peer` gets the other end.
std::unique_ptr<Connection> ConnectionWithPeer(UniqueFd& peer)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return nullptr;
    peer = UniqueFd(pair[1]);
    return std::make_unique<Connection>(std::make_unique<CClientSocket>(pair[0], NetAddress()));
}

class StackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Link = ConnectionWithPeer(Peer);
        ASSERT_TRUE(Link);
        std::vector<std::unique_ptr<Stage>> stages;
        stages.push_back(std::make_unique<Framing>());
        stages.push_back(std::make_unique<Answering>());
        Link->Restart(std::move(stages));
    }
    // Offers `text` whole; true when the connection took it.
    bool Offer(const std::string& text)
    {
        bool refused = false;
        uint64_t sent = 0;
        Link->Taken = 0;
        Link->WaitsWritable = false;
        Link->Offer(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()), refused, sent);
        return !refused;
    }
    // Serves the connection until the port has `count` bytes.
    bool ServeUntil(size_t count)
    {
        return WaitUntil([&] {
            Link->Poll(Port, false, Received);
            Link->ServeWire();
            return Port.Received.size() >= count;
        });
    }

    QuietPortSide Port;
    UniqueFd Peer;
    std::unique_ptr<Connection> Link;
    uint64_t Received = 0;
};

TEST_F(StackTest, DataGoesThroughEveryStageAndAnswersThroughThoseBeneath)
{
    ASSERT_TRUE(Offer("abc?"));
    EXPECT_EQ(RecvExactly(Peer, 5), (Bytes {4, 'A', 'B', 'C', '?'}));

    // Two frames, sent a byte at a time: joined, and the '?' answered through the
    // framing stage.
    const Bytes frames {3, 'x', '?', 'y', 2, 'z', 'w'};
    for (uint8_t byte : frames)
        ASSERT_TRUE(SendAll(Peer, {byte}));
    ASSERT_TRUE(ServeUntil(5));
    EXPECT_EQ(std::string(Port.Received.begin(), Port.Received.end()), "x?yzw");
    EXPECT_EQ(RecvExactly(Peer, 2), (Bytes {1, '!'}));
}

TEST_F(StackTest, APeerThatDoesNotReadIsOwedABoundedAmount)
{
    for (int fd : {Peer.Get(), Link->Socket().GetHandle()}) {
        const int small = 4096;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    }
    const std::string chunk(8192, 'q');
    size_t taken = 0;
    while (taken < (8u << 20) && Offer(chunk))
        taken += chunk.size();
    EXPECT_LT(taken, size_t(1) << 20) << "the connection kept taking from a peer that does not read";
    EXPECT_TRUE(Link->WaitsWritable);
    EXPECT_TRUE(Link->WaitEvents(false) & EPOLLOUT);
    EXPECT_FALSE(Link->WantsChunkAgain()) << "nothing changed: offering again would spin";

    // Once the peer reads, the connection takes again, and nothing was lost: every
    // byte, and each frame's length byte (33 frames to a chunk).
    size_t got = 0;
    auto read = [&] {
        got += RecvFor(Peer, 0.01).size();
        Link->WaitsWritable = false;
        Link->ServeWire();
    };
    ASSERT_TRUE(WaitUntil([&] {
        read();
        return Offer(chunk);
    }));
    taken += chunk.size();
    const size_t expected = taken / chunk.size() * (chunk.size() + 33);
    EXPECT_TRUE(WaitUntil([&] {
        read();
        return got >= expected;
    }));
    EXPECT_EQ(got, expected);
}

// The way in, on a raw connection: the step reads what the wait reported, while
// the port has room, and the rest waits in the socket.
class RouteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Link = ConnectionWithPeer(Peer);
        ASSERT_TRUE(Link);
    }
    // One step's read, as the pump makes it: the wait reported the socket readable.
    int32_t Step(uint32_t reported = EPOLLIN)
    {
        Link->Socket().Given = WaitReport {reported, true};
        return Link->Poll(Port, Port.FromNetFull(), Counted);
    }

    QuietPortSide Port;
    UniqueFd Peer;
    std::unique_ptr<Connection> Link;
    uint64_t Counted = 0;
};

TEST_F(RouteTest, AFullPortStopsTheReadsAndTheyResumeWithNothingLost)
{
    const Bytes sent = Pattern(3 * Connection::ReceiveLimit);
    ASSERT_TRUE(SendAll(Peer, sent));
    // Nothing reported, nothing read: the step asks the system nothing of its own.
    EXPECT_EQ(Step(0), 0);
    EXPECT_TRUE(Port.Received.empty());

    // One step takes at most ReceiveLimit; the rest waits in the socket.
    EXPECT_EQ(Step(), 1);
    EXPECT_GT(Port.Received.size(), 0u);
    EXPECT_LE(Port.Received.size(), Connection::ReceiveLimit);
    const size_t before = Port.Received.size();
    Port.Full = true;
    EXPECT_EQ(Step(EPOLLIN | EPOLLRDHUP), 0);
    EXPECT_EQ(Port.Received.size(), before) << "a full port's connection was read";
    EXPECT_TRUE(Link->IsConnected());

    Port.Full = false;
    ASSERT_TRUE(WaitUntil([&] {
        Step();
        return Port.Received.size() >= sent.size();
    }));
    EXPECT_EQ(Port.Received, sent);
    EXPECT_EQ(Counted, sent.size());
}

TEST_F(RouteTest, APeerThatSendsAndClosesAtOnceDeliversEverything)
{
    const Bytes sent = Pattern(3 * Connection::ReceiveLimit + 17);
    std::thread writer([&] {
        SendAll(Peer, sent);
        Peer.Reset();
    });
    ASSERT_TRUE(WaitUntil([&] {
        Step(EPOLLIN | EPOLLRDHUP | EPOLLHUP);
        return !Link->IsConnected();
    }));
    writer.join();
    EXPECT_EQ(Port.Received, sent);
    EXPECT_TRUE(Link->Socket().GetClosedByPeer());
    EXPECT_FALSE(Link->Socket().GetLastFailure()) << "an orderly close is no failure";
}

} // namespace

#include "net/EventRecorder.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <arpa/inet.h>
#include <unistd.h>

using nettest::Recorder;
using qlntest::WaitUntil;

namespace {

uint16_t PortOf(const CSocket& socket)
{
    return qlntest::LocalPort(socket.GetHandle());
}

// Sends one datagram, possibly empty, from a plain socket of the test.
void SendRaw(int fd, const std::string& bytes, uint16_t port)
{
    const sockaddr_in to = qlntest::Loopback(port);
    ASSERT_EQ(::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(bytes.size()));
}

} // namespace

// Reads the next datagram with bytes within the test's patience: its text, and
// the sender.
std::string NextText(CDatagramSocket& socket, NetAddress& sender)
{
    char buffer[64];
    uint32_t length = 0;
    if (!WaitUntil([&] {
            length = sizeof buffer;
            return !socket.ReceiveNext(buffer, &length, sender);
        }))
        return "(nothing)";
    return std::string(buffer, length);
}

TEST(DatagramSocketTest, PingPong)
{
    CDatagramSocket a(0), b(0);
    ASSERT_FALSE(a.GetLastFailure());
    ASSERT_FALSE(b.GetLastFailure());
    EXPECT_TRUE(nettest::IsCloseOnExec(a.GetHandle()));
    EXPECT_TRUE(nettest::IsNonBlocking(a.GetHandle()));

    NetAddress sender;
    ASSERT_FALSE(a.SendTo("ping", 4, "127.0.0.1", PortOf(b)));
    EXPECT_EQ(NextText(b, sender), "ping");
    EXPECT_EQ(sender.ToText(), "127.0.0.1:" + std::to_string(PortOf(a)));

    ASSERT_FALSE(b.SendTo("pong!", 5, "localhost", sender.Port()));
    EXPECT_EQ(NextText(a, sender), "pong!");
}

// Empty datagrams ahead of a real one are read away, at most MaxEmptySkipped at a
// time; the socket stays open and the real one is read.
class EmptyDatagramTest : public ::testing::TestWithParam<int> {};

TEST_P(EmptyDatagramTest, SkippedWithoutClosing)
{
    Recorder events;
    CDatagramSocket socket(0);
    socket.SetHandler(&events);
    const UniqueFd sender = qlntest::BindUdp();
    for (int i = 0; i < GetParam(); ++i)
        SendRaw(sender.Get(), "", PortOf(socket));
    SendRaw(sender.Get(), "next", PortOf(socket));

    NetAddress from;
    EXPECT_EQ(NextText(socket, from), "next");
    EXPECT_EQ(events.Count("close"), 0);
    EXPECT_NE(socket.GetHandle(), INVALID_SOCKET);
}

INSTANTIATE_TEST_SUITE_P(Counts, EmptyDatagramTest, ::testing::Values(1, 3, 100),
                         ::testing::PrintToStringParamName());

TEST(DatagramSocketTest, ReceiveFromEmptyDatagramKeepsTheSocket)
{
    Recorder events;
    CDatagramSocket socket(0);
    socket.SetHandler(&events);
    SendRaw(qlntest::BindUdp().Get(), "", PortOf(socket));

    char buffer[16];
    uint32_t length = 0;
    ASSERT_TRUE(WaitUntil([&] {
        length = sizeof buffer;
        return !socket.ReceiveFrom(buffer, &length);
    }));
    EXPECT_EQ(length, 0u);
    EXPECT_NE(socket.GetHandle(), INVALID_SOCKET);
    EXPECT_TRUE(events.Log.empty());

    // Nothing waiting: false, length 0, still open.
    length = sizeof buffer;
    EXPECT_TRUE(socket.ReceiveFrom(buffer, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_NE(socket.GetHandle(), INVALID_SOCKET);
    EXPECT_TRUE(socket.ReceiveFrom(nullptr, &length));
    EXPECT_TRUE(socket.ReceiveFrom(buffer, nullptr));
}

TEST(DatagramSocketTest, SendToRefusals)
{
    CDatagramSocket socket(0);
    ASSERT_FALSE(socket.GetLastFailure());
    int flag = -1;
    socklen_t size = sizeof flag;
    ASSERT_EQ(::getsockopt(socket.GetHandle(), SOL_SOCKET, SO_BROADCAST, &flag, &size), 0);
    EXPECT_EQ(flag, 0);

    struct Case {
        const char* name;
        const void* data;
        const char* host;
    };
    const Case cases[] = {
        {"broadcast", "x", "255.255.255.255"},
        {"empty host", "x", ""},
        {"no host", "x", nullptr},
        {"no data", nullptr, "127.0.0.1"},
        {"unresolvable", "x", "no..such.host"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(socket.SendTo(c.data, 1, c.host, 9)) << c.name;
    EXPECT_TRUE(socket.SendTo("x", 1, "255.255.255.255", 9));
    EXPECT_EQ(socket.GetLastErrno(), EACCES) << "a broadcast the socket was not allowed";
    EXPECT_NE(socket.GetHandle(), INVALID_SOCKET);
}

TEST(DatagramSocketTest, SecondBindIsRefused)
{
    CDatagramSocket first(0);
    ASSERT_FALSE(first.GetLastFailure());
    CDatagramSocket second(PortOf(first));
    EXPECT_TRUE(second.GetLastFailure());
}

TEST(DatagramSocketTest, DestructionReportsClose)
{
    Recorder events;
    {
        CDatagramSocket socket(0);
        socket.SetHandler(&events);
    }
    EXPECT_EQ(events.Log, std::vector<std::string>{"close"});
}

#include "net/EventRecorder.h"
#include "support/Bytes.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <cstring>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

using nettest::Recorder;
using qlntest::Pattern;
using qlntest::WaitUntil;

namespace {

// A client connected to a listening socket on 127.0.0.1, with the accepted
// end kept by the server's recorder.
struct ConnectedPair {
    Recorder serverEvents;
    Recorder clientEvents;
    CServerSocket server{0};
    CClientSocket client;

    explicit ConnectedPair(const char* host = "127.0.0.1")
    {
        server.SetHandler(&serverEvents);
        client.SetHandler(&clientEvents);
        client.SetUserData(&clientEvents);
        EXPECT_FALSE(server.GetLastFailure());
        EXPECT_FALSE(client.Connect(host, qlntest::LocalPort(server.GetHandle())));
        EXPECT_EQ(client.GetState(), LinkState::Connecting);
        EXPECT_TRUE(WaitUntil([&] {
            server.Poll();
            client.Poll();
            return client.GetState() == LinkState::Connected && !serverEvents.Clients.empty();
        }));
    }
    CClientSocket& Peer() { return *serverEvents.Clients.at(0); }
};

// A port that refuses connections: bound, never listening, kept while the test runs.
struct RefusingPort {
    UniqueFd fd = qlntest::Bind(SOCK_STREAM);
    uint16_t port = qlntest::LocalPort(fd);
};

} // namespace

class ClientConnectTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ClientConnectTest, ConnectsToListeningPeer)
{
    ConnectedPair pair(GetParam());
    EXPECT_EQ(pair.clientEvents.Log, std::vector<std::string>{"connect"});
    EXPECT_EQ(pair.clientEvents.LastUserData, &pair.clientEvents);
    EXPECT_EQ(pair.serverEvents.Count("accept"), 1);
    EXPECT_EQ(pair.Peer().GetState(), LinkState::Connected);
    for (SocketHandle handle : {pair.client.GetHandle(), pair.server.GetHandle(), pair.Peer().GetHandle()}) {
        EXPECT_TRUE(nettest::IsCloseOnExec(handle));
        EXPECT_TRUE(nettest::IsNonBlocking(handle));
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, ClientConnectTest, ::testing::Values("127.0.0.1", "localhost"),
                         [](const auto& info) { return std::string(info.param) == "localhost" ? "Name" : "Dotted"; });

TEST(ClientSocketTest, RefusedConnectReportsFailureAndKeepsHandle)
{
    Recorder events;
    RefusingPort refusing;
    {
        CClientSocket client;
        client.SetHandler(&events);
        ASSERT_FALSE(client.Connect("127.0.0.1", refusing.port));
        EXPECT_EQ(client.GetState(), LinkState::Connecting);
        ASSERT_TRUE(WaitUntil([&] { return client.Poll() == 1; }));
        EXPECT_EQ(client.GetState(), LinkState::Unconnected);
        EXPECT_EQ(events.Log, std::vector<std::string>{"connect-failed"});
        EXPECT_NE(client.GetHandle(), INVALID_SOCKET);
        EXPECT_EQ(client.Poll(), 0);
    }
    // Destruction closes the kept handle.
    EXPECT_EQ(events.Log, (std::vector<std::string>{"connect-failed", "close"}));
}

TEST(ClientSocketTest, UnresolvableNameFailsWithoutConnectEvent)
{
    Recorder events;
    RefusingPort refusing;
    CClientSocket client;
    client.SetHandler(&events);
    ASSERT_FALSE(client.Connect("127.0.0.1", refusing.port));
    // An empty label is refused by the resolver itself, without asking a name server.
    EXPECT_TRUE(client.Connect("no..such.host", 80));
    EXPECT_EQ(client.GetState(), LinkState::Unconnected);
    // The earlier attempt's handle was closed on the way; no OnConnect follows.
    EXPECT_EQ(events.Log, std::vector<std::string>{"close"});
    EXPECT_EQ(client.Poll(), 0);
    EXPECT_EQ(events.Count("connect-failed") + events.Count("connect"), 0);
}

TEST(ClientSocketTest, PeerCloseIsReportedOnceAfterClosedByPeer)
{
    ConnectedPair pair;
    pair.serverEvents.Clients.clear(); // closes the accepted end
    char byte;
    ASSERT_TRUE(WaitUntil([&] { return pair.client.Receive(&byte, 1) == 0 && pair.client.GetState() == LinkState::Unconnected; }));
    EXPECT_EQ(pair.clientEvents.Log, (std::vector<std::string>{"connect", "close"}));
    EXPECT_TRUE(pair.clientEvents.ClosedByPeerAtClose);
    EXPECT_EQ(pair.clientEvents.StateAtClose, LinkState::Unconnected);
    EXPECT_EQ(pair.clientEvents.HandleAtClose, INVALID_SOCKET);
    EXPECT_TRUE(pair.client.GetClosedByPeer());
    EXPECT_FALSE(pair.client.GetLastFailure()) << "an orderly close is no failure";
    EXPECT_EQ(pair.client.Receive(&byte, 1), 0u);
    pair.client.Close(); // nothing open: no second event
    EXPECT_EQ(pair.clientEvents.Count("close"), 1);
}

// A reset connection ends Unconnected with one OnClose, whether a read finds it or
// the watch of a connection that is not read.
class ResetTest : public ::testing::TestWithParam<bool> {};

TEST_P(ResetTest, ConnectionEndsUnconnected)
{
    const bool foundByReceive = GetParam();
    // A plain listening socket of the test: the socket classes shut a
    // connection down (FIN) before closing it, so they cannot send a bare reset.
    UniqueFd listener = qlntest::Listen();
    ASSERT_TRUE(listener);

    Recorder events;
    CClientSocket client;
    client.SetHandler(&events);
    ASSERT_FALSE(client.Connect("127.0.0.1", qlntest::LocalPort(listener)));
    ASSERT_TRUE(WaitUntil([&] { return client.Poll() == 1; }));
    ASSERT_EQ(client.GetState(), LinkState::Connected);
    UniqueFd peer = qlntest::AcceptWithin(listener);
    ASSERT_TRUE(peer);
    listener.Reset();
    linger abort{1, 0};
    ASSERT_EQ(::setsockopt(peer.Get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    peer.Reset(); // linger 0: the close sends a reset
    ASSERT_TRUE(WaitUntil([&] {
        pollfd entry{client.GetHandle(), POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLERR);
    }));

    if (foundByReceive) {
        char byte;
        EXPECT_EQ(client.Receive(&byte, 1), 0u);
    } else {
        EXPECT_EQ(client.PollHangUp(), 1);
    }
    EXPECT_EQ(client.GetState(), LinkState::Unconnected);
    EXPECT_EQ(client.GetHandle(), INVALID_SOCKET);
    EXPECT_EQ(events.Log, (std::vector<std::string>{"connect", "close"}));
    EXPECT_TRUE(client.GetClosedByPeer());
    EXPECT_EQ(client.GetLastErrno(), ECONNRESET);
}

INSTANTIATE_TEST_SUITE_P(FoundBy, ResetTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Receive" : "HangUpWatch"; });

// A read that asks for more than has arrived gets what is there, never loses it;
// bytes before the peer's close are read before the close is.
TEST(ClientSocketTest, AShortReadKeepsWhatArrived)
{
    ConnectedPair pair;
    ASSERT_TRUE(pair.Peer().Send("hello", 5).Whole());
    char buffer[16];
    size_t received = 0;
    ASSERT_TRUE(WaitUntil([&] { return (received = pair.client.Receive(buffer, sizeof buffer)) > 0; }));
    EXPECT_EQ(std::string(buffer, received), "hello");
    EXPECT_EQ(pair.client.GetState(), LinkState::Connected);

    ASSERT_TRUE(pair.Peer().Send("bye", 3).Whole());
    pair.Peer().Close();
    ASSERT_TRUE(WaitUntil([&] {
        pollfd entry{pair.client.GetHandle(), POLLIN | POLLRDHUP, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLRDHUP);
    }));
    received = pair.client.Receive(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, received), "bye");
    EXPECT_EQ(pair.client.GetState(), LinkState::Connected) << "the end is met by the next read";
    EXPECT_EQ(pair.client.Receive(buffer, 1), 0u);
    EXPECT_EQ(pair.client.GetState(), LinkState::Unconnected);
}

TEST(ClientSocketTest, ReadsGetTheWholeStream)
{
    ConnectedPair pair;
    auto data = Pattern(100000);
    std::vector<unsigned char> got;
    size_t offset = 0;
    ASSERT_TRUE(WaitUntil([&] {
        if (offset < data.size()) {
            int32_t chunk = static_cast<int32_t>(std::min<size_t>(8192, data.size() - offset));
            const int32_t sent = pair.Peer().Send(data.data() + offset, chunk).Sent;
            offset += static_cast<size_t>(sent);
        }
        unsigned char buffer[3000];
        const size_t n = pair.client.Receive(buffer, sizeof buffer);
        got.insert(got.end(), buffer, buffer + n);
        return got.size() == data.size();
    }));
    EXPECT_EQ(got, data);
}

TEST(ClientSocketTest, ZeroLengthAndStateGuards)
{
    Recorder events;
    CServerSocket server(0);
    server.SetHandler(&events);
    CClientSocket client;
    char byte = 'x';

    CClientSocket::SendOutcome went = client.Send(&byte, 1);
    EXPECT_FALSE(went.Whole()); // no handle
    EXPECT_EQ(went.Sent, 0);
    EXPECT_EQ(client.Receive(&byte, 1), 0u);
    EXPECT_EQ(client.Poll(), 0);

    ASSERT_FALSE(client.Connect("127.0.0.1", qlntest::LocalPort(server.GetHandle())));
    went = client.Send(&byte, 1);
    EXPECT_FALSE(went.Whole()); // still Connecting
    EXPECT_EQ(went.Sent, 0);
    EXPECT_EQ(client.Receive(&byte, 1), 0u);

    ASSERT_TRUE(WaitUntil([&] { return client.Poll() == 1; }));
    ASSERT_EQ(client.GetState(), LinkState::Connected);
    went = client.Send(&byte, 0);
    EXPECT_TRUE(went.Whole());
    EXPECT_EQ(went.Sent, 0);
    EXPECT_EQ(client.Receive(&byte, 0), 0u);
    EXPECT_FALSE(client.Send(nullptr, 1).Whole());
    EXPECT_EQ(client.Receive(nullptr, 1), 0u);
    EXPECT_EQ(client.GetState(), LinkState::Connected);
    went = client.Send("abc", 3);
    EXPECT_TRUE(went.Whole());
    EXPECT_EQ(went.Sent, 3);
}

TEST(ClientSocketTest, ThrowingHandlerDoesNotDisturbTheSocket)
{
    ConnectedPair pair;
    pair.clientEvents.Throw = true;
    pair.client.Close();
    EXPECT_EQ(pair.client.GetHandle(), INVALID_SOCKET);
    EXPECT_EQ(pair.client.GetState(), LinkState::Unconnected);
    EXPECT_EQ(pair.clientEvents.Count("close"), 1);
    EXPECT_STREQ(pair.client.GetLastFailure().Call, "socket event handler");
}

TEST(ClientSocketTest, DestructionReportsCloseWhenAlreadyUnconnected)
{
    Recorder events;
    {
        ConnectedPair pair;
        pair.client.SetHandler(&events);
    }
    EXPECT_EQ(events.Log, std::vector<std::string>{"close"});
    EXPECT_EQ(events.StateAtClose, LinkState::Unconnected);
    EXPECT_FALSE(events.ClosedByPeerAtClose);
}

TEST(ClientSocketTest, SetNoDelaySwitchesTheOption)
{
    ConnectedPair pair;
    EXPECT_FALSE(pair.client.SetNoDelay(true));
    int flag = 0;
    socklen_t size = sizeof flag;
    ASSERT_EQ(::getsockopt(pair.client.GetHandle(), IPPROTO_TCP, TCP_NODELAY, &flag, &size), 0);
    EXPECT_NE(flag, 0);
}

// A peer that stops reading: Send refuses once the buffers are full and tells
// how much it took; resuming from there delivers every byte exactly once.
TEST(ClientSocketTest, PartialSendReportsTheBytesTaken)
{
    ConnectedPair pair;
    int small = 16384;
    ::setsockopt(pair.client.GetHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(pair.Peer().GetHandle(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

    auto data = Pattern(300000);
    size_t offset = 0;
    bool refused = false;
    while (!refused && offset < data.size()) {
        int32_t chunk = static_cast<int32_t>(std::min<size_t>(8192, data.size() - offset));
        const CClientSocket::SendOutcome went = pair.client.Send(data.data() + offset, chunk);
        const int32_t sent = went.Sent;
        refused = !went.Whole();
        ASSERT_GE(sent, 0);
        ASSERT_LE(sent, chunk);
        if (refused) {
            EXPECT_LT(sent, chunk);
        } else {
            EXPECT_EQ(sent, chunk);
        }
        offset += static_cast<size_t>(sent);
    }
    ASSERT_TRUE(refused) << "the peer's buffers never filled";
    EXPECT_EQ(pair.client.GetState(), LinkState::Connected);

    // Drain at the peer while the sender resumes after the bytes already taken.
    std::vector<unsigned char> received;
    std::vector<unsigned char> buffer(65536);
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (offset < data.size()) {
                int32_t chunk = static_cast<int32_t>(std::min<size_t>(8192, data.size() - offset));
                const int32_t sent = pair.client.Send(data.data() + offset, chunk).Sent;
                offset += static_cast<size_t>(sent);
            }
            ssize_t got = ::recv(pair.Peer().GetHandle(), buffer.data(), buffer.size(), 0);
            if (got > 0)
                received.insert(received.end(), buffer.begin(), buffer.begin() + got);
            return received.size() >= data.size();
        },
        10));
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data);
}

#include "net/EventRecorder.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <array>

using nettest::Recorder;
using qlntest::WaitUntil;

TEST(ServerSocketTest, AcceptsOneConnectionPerPoll)
{
    Recorder serverEvents;
    Recorder clientEvents;
    CServerSocket server(0);
    ASSERT_FALSE(server.GetLastFailure());
    server.SetHandler(&serverEvents);
    server.SetUserData(&serverEvents);
    uint16_t port = qlntest::LocalPort(server.GetHandle());

    std::array<CClientSocket, 3> clients;
    for (auto& client : clients) {
        client.SetHandler(&clientEvents);
        ASSERT_FALSE(client.Connect("127.0.0.1", port));
    }
    // The system completes the connections before they are accepted.
    ASSERT_TRUE(WaitUntil([&] {
        for (auto& client : clients)
            client.Poll();
        return clientEvents.Count("connect") == 3;
    }));

    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(server.Poll(), 1);
        EXPECT_EQ(serverEvents.Count("accept"), i);
    }
    EXPECT_EQ(server.Poll(), 0);
    EXPECT_EQ(serverEvents.LastUserData, &serverEvents);
    for (auto& accepted : serverEvents.Clients) {
        EXPECT_EQ(accepted->GetState(), LinkState::Connected);
        EXPECT_TRUE(nettest::IsCloseOnExec(accepted->GetHandle()));
    }
    // With no connection waiting, Accept fails and records it.
    EXPECT_EQ(server.Accept(), nullptr);
    EXPECT_EQ(server.GetLastErrno(), EAGAIN);
}

TEST(ServerSocketTest, SecondListenerOnThePortIsRefused)
{
    CServerSocket first(0);
    ASSERT_FALSE(first.GetLastFailure());
    CServerSocket second(qlntest::LocalPort(first.GetHandle()));
    EXPECT_EQ(second.GetLastErrno(), EADDRINUSE);
}

// A listener closed while a connection of it lingers in TIME_WAIT can be set up
// again on the same port at once.
TEST(ServerSocketTest, ListensAgainWhileOldConnectionsLinger)
{
    Recorder serverEvents;
    uint16_t port = 0;
    {
        CServerSocket server(0);
        server.SetHandler(&serverEvents);
        port = qlntest::LocalPort(server.GetHandle());
        CClientSocket client;
        ASSERT_FALSE(client.Connect("127.0.0.1", port));
        ASSERT_TRUE(WaitUntil([&] {
            server.Poll();
            client.Poll();
            return !serverEvents.Clients.empty() && client.GetState() == LinkState::Connected;
        }));
        serverEvents.Clients.clear(); // the listening side closes first: TIME_WAIT is ours
        ASSERT_TRUE(WaitUntil([&] {
            char byte;
            return client.Receive(&byte, 1) == 0 && client.GetState() == LinkState::Unconnected;
        }));
    }
    CServerSocket again(port);
    EXPECT_FALSE(again.GetLastFailure());
}

TEST(ServerSocketTest, PollWithoutHandlerDropsTheConnection)
{
    Recorder clientEvents;
    CServerSocket server(0);
    CClientSocket client;
    client.SetHandler(&clientEvents);
    ASSERT_FALSE(client.Connect("127.0.0.1", qlntest::LocalPort(server.GetHandle())));
    ASSERT_TRUE(WaitUntil([&] { return server.Poll() == 1; }));
    ASSERT_TRUE(WaitUntil([&] {
        client.Poll(); // the connect
        char byte;
        client.Receive(&byte, 1); // the close
        return clientEvents.Count("close") == 1;
    }));
    EXPECT_TRUE(clientEvents.ClosedByPeerAtClose);
}

TEST(ServerSocketTest, ThrowingAcceptHandlerStillOwnsTheClient)
{
    Recorder serverEvents;
    serverEvents.Throw = true;
    CServerSocket server(0);
    server.SetHandler(&serverEvents);
    CClientSocket client;
    ASSERT_FALSE(client.Connect("127.0.0.1", qlntest::LocalPort(server.GetHandle())));
    ASSERT_TRUE(WaitUntil([&] { return server.Poll() == 1; }));
    ASSERT_EQ(serverEvents.Clients.size(), 1u);
    EXPECT_EQ(serverEvents.Clients[0]->GetState(), LinkState::Connected);
}

TEST(ServerSocketTest, DestructionReportsClose)
{
    Recorder events;
    {
        CServerSocket server(0);
        server.SetHandler(&events);
    }
    EXPECT_EQ(events.Log, std::vector<std::string>{"close"});
    EXPECT_EQ(events.HandleAtClose, INVALID_SOCKET);
}

// The configuration read again while the console runs: links added, changed and
// removed, the unchanged ones keeping their connections, options applied, the links in
// the file's order; and what is not reloaded.
#include <gtest/gtest.h>

#include <map>

#include "console/ConsoleModel.h"
#include "forwarding/PortObject.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "platform/config/AtomicFile.h"
#include "support/Application.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ModelOnPorts.h"
#include "support/WaitUntil.h"

using namespace qlntest;

namespace {

// Every observer call of the reload as one line.
class Heard : public ConsoleObserver {
public:
    void LinkAdded(CPortObject*, CNetObject* link) override { Lines.push_back("added " + link->Label()); }
    void LinkRemoved(CPortObject*, CNetObject*) override { Lines.push_back("removed"); }
    void LinkReplaced(CPortObject*, CNetObject*, CNetObject* fresh) override
    {
        Lines.push_back("replaced by " + fresh->Label());
    }
    void OptionChanged(CPortObject*, CNetObject* link, Option option) override
    {
        Lines.push_back(std::string(link ? "link" : "port") + " option " + std::to_string(static_cast<int>(option)));
    }
    void LinksReordered(CPortObject*) override { Lines.push_back("reordered"); }
    void ConsoleOptionsReloaded() override { Lines.push_back("console options"); }
    std::vector<std::string> Lines;
};

class ReloadTest : public qlntest::ModelOnPorts {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(MakeFolders(Home.Root + "/config/quillon"));
        StartModel({3});
    }
    void TearDown() override { Model.reset(); }

    void Write(const std::string& ini) { ASSERT_EQ(ReplaceFileAtomically(ConfigPath, ini).Text(), ""); }
    CNetObject* Link(size_t index) { return Model->FindLink(Model->FindPort(3), index); }
    template <typename F>
    auto Locked(F f)
    {
        CGuard guard(Model->Manager()->Lock());
        return f();
    }

};

std::string Entry(int i, const std::map<std::string, std::string>& keys)
{
    std::string text;
    for (const auto& [key, value] : keys)
        text += "Net" + std::to_string(i) + key + "=" + value + "\n";
    return text;
}

TEST_F(ReloadTest, AddsChangesAndRemovesLinksAndKeepsTheConnectionsOfTheOthers)
{
    const UniqueFd oldPeer = Listen(), newPeer = Listen(), keptPeer = Listen();
    const std::string server = std::to_string(FreePort()), added = std::to_string(FreePort());
    const uint16_t udp = FreePort(SOCK_DGRAM);
    auto client = [](const UniqueFd& peer, const char* interval) {
        return std::map<std::string, std::string> {{"Type", "1"}, {"RemoteAddr", "127.0.0.1"},
                                                   {"RemotePort", std::to_string(LocalPort(peer))},
                                                   {"AutoReconnect", "1"}, {"ReconnectIntervalTime", interval}};
    };
    Write("[COM3]\nNetCount=4\n" + Entry(1, {{"Type", "2"}, {"LocalPort", server}}) + Entry(2, client(oldPeer, "5000"))
          + Entry(3, {{"Type", "3"}, {"LocalPort", std::to_string(udp)}, {"RemoteAddr", "127.0.0.1"}, {"RemotePort", "9"}})
          + Entry(4, client(keptPeer, "5000")));
    Model->LoadSettings();
    CNetObject* keptServer = Link(0);
    CNetObject* keptClient = Link(3);
    const UniqueFd serverPeer = ConnectTo(static_cast<uint16_t>(std::stoi(server)));
    const UniqueFd oldConnection = AcceptWithin(oldPeer), keptConnection = AcceptWithin(keptPeer);
    ASSERT_TRUE(WaitUntil([&] { return Locked([&] { return keptServer->ClientCount() == 1; }); }));

    Heard heard;
    Model->AddObserver(&heard);
    EventLog::Instance().Reset();
    const std::string log = Home.Root + "/com3.log";
    Write("[COM3]\nSendToNetDelayTime=7\nLogFilename=" + log + "\nLogMode=1\nLogTimestamps=1\nNetCount=4\n"
          + Entry(1, client(newPeer, "5000")) + Entry(2, {{"Type", "2"}, {"LocalPort", server}})
          + Entry(3, {{"Type", "2"}, {"LocalPort", added}}) + Entry(4, client(keptPeer, "1000"))
          + "[COM8]\nNetCount=0\n");
    std::vector<std::string> said;
    ASSERT_TRUE(Model->Reload(&said));
    Model->RemoveObserver(&heard);

    EXPECT_EQ(heard.Lines, (std::vector<std::string> {
                               "port option 0", "port option 2", "removed",
                               "replaced by tcp-client 127.0.0.1:" + std::to_string(LocalPort(newPeer)),
                               "added tcp-server " + added, "link option 4", "reordered", "console options"}));
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.back(),
              "reloaded " + ConfigPath + ": 1 link added, 1 changed, 1 removed, 2 kept; 3 options changed; 1 problem");
    const std::vector<Event> events = EventLog::Instance().Since(0);
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const Event& event) {
        return event.Level == EventLevel::Warning
            && event.Text.ends_with(".ini:21: [COM8] skipped: COM8 is not an installed port");
    }));

    // The links in the file's order; the unchanged ones are the same links.
    EXPECT_EQ(Link(1), keptServer);
    EXPECT_EQ(Link(3), keptClient);
    EXPECT_EQ(Locked([&] { return keptClient->Settings().ReconnectIntervalTime; }), 1000);
    const ConsoleModel::PortSettings settings = Model->SettingsOf(Model->FindPort(3));
    EXPECT_TRUE(settings.SendToNetDelayTime == 7 && settings.LogFilename == log && settings.LogMode == 1
                && settings.LogTimestamps);
    // The changed client connects to its new peer and lets its old one go; the UDP
    // port is free again; the new server listens.
    const UniqueFd newConnection = AcceptWithin(newPeer);
    EXPECT_TRUE(newConnection.Valid());
    EXPECT_TRUE(WaitUntil([&] {
        char byte;
        return recv(oldConnection.Get(), &byte, 1, MSG_DONTWAIT) == 0;
    }));
    EXPECT_TRUE(PortIsFree(SOCK_DGRAM, udp));
    EXPECT_TRUE(ConnectTo(static_cast<uint16_t>(std::stoi(added))).Valid());

    // The kept connections still carry bytes both ways, unbroken.
    App app(Model->Status().Ports[0].LinkPath);
    ASSERT_TRUE(app.Ok());
    ASSERT_TRUE(SendAll(serverPeer, {'s'}) && SendAll(keptConnection, {'k'}));
    const std::vector<uint8_t> in = app.ReadExactly(2);
    EXPECT_TRUE(in == std::vector<uint8_t>({'s', 'k'}) || in == std::vector<uint8_t>({'k', 's'}));
    ASSERT_TRUE(app.WriteAll({'x'}));
    EXPECT_EQ(RecvExactly(serverPeer, 1), std::vector<uint8_t> {'x'});
    EXPECT_EQ(RecvExactly(keptConnection, 1), std::vector<uint8_t> {'x'});
    EXPECT_EQ(Locked([&] { return keptServer->ClientCount(); }), 1u);
}

// A file that is gone or cannot be read is no reason to take every link down.
TEST_F(ReloadTest, AMissingOrUnreadableFileChangesNothing)
{
    const std::string port = std::to_string(FreePort());
    Write("[COM3]\nNetCount=1\nNet1Type=2\nNet1LocalPort=" + port + "\n");
    Model->LoadSettings();
    CNetObject* link = Link(0);
    ASSERT_EQ(unlink(ConfigPath.c_str()), 0);
    const ConsoleResult missing = Model->Reload();
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Message, "Reload failed!");
    EXPECT_EQ(missing.Reason(), ConfigPath + " does not exist. Nothing was changed.");
    ASSERT_TRUE(MakeFolders(ConfigPath));
    EXPECT_EQ(Model->Reload().Reason(), ConfigPath + ": Is a directory. Nothing was changed.");
    EXPECT_EQ(Link(0), link);
}

// New settings that cannot serve leave the old link running, with its client, as
// an edit does; the rest applies, and the reload says what it could not do.
TEST_F(ReloadTest, NewSettingsThatCannotServeLeaveTheOldLinkRunning)
{
    const std::string port = std::to_string(FreePort()), other = std::to_string(FreePort());
    Write("[COM3]\nNetCount=1\nNet1Type=2\nNet1LocalPort=" + port + "\n");
    Model->LoadSettings();
    CNetObject* old = Link(0);
    const UniqueFd client = ConnectTo(static_cast<uint16_t>(std::stoi(port)));
    ASSERT_TRUE(WaitUntil([&] { return Locked([&] { return old->ClientCount() == 1; }); }));

    Write("[COM3]\nSendToNetDelayTime=5\nNetCount=3\nNet1Type=2\nNet1LocalPort=" + port
          + "\nNet1Allow=127.0.0.1,localhost\nNet2Type=2\nNet2LocalPort=" + other
          + "\nNet2Tls=1\nNet2TlsCert=/no/c.pem\nNet2TlsKey=/no/k.pem\nNet3Type=2\nNet3LocalPort=abc\n");
    std::vector<std::string> said;
    size_t problems = 0;
    ASSERT_TRUE(Model->Reload(&said, &problems));
    EXPECT_EQ(problems, 3u);
    EXPECT_EQ(said, (std::vector<std::string> {
                        "COM3: send delay 5 ms (was 0 ms)",
                        "COM3 #1 tcp-server " + port + " kept: the new settings of link 1 cannot serve",
                        "COM3 #2 tcp-server " + other + " added",
                        ConfigPath + ":4: [COM3] link 1: cannot serve: localhost: not an IPv4 or IPv6 address",
                        ConfigPath + ":7: [COM3] link 2: cannot serve: /no/c.pem: No such file or directory",
                        ConfigPath + ":13: [COM3] Net3LocalPort=abc: not a number; link 3 left out",
                        "reloaded " + ConfigPath + ": 1 link added, 0 changed, 0 removed, 1 kept; 1 option changed; 3 problems"}));
    EXPECT_EQ(Link(0), old);
    EXPECT_EQ(Locked([&] { return old->ClientCount(); }), 1u);
    EXPECT_EQ(Locked([&] { return old->Settings().Allow; }), "");
    // The new link that cannot serve is kept, not listening, for the file's sake.
    EXPECT_EQ(Locked([&] { return Link(1)->IsListening(); }), false);
}

} // namespace

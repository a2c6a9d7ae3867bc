// The console model without a window: refusals with their messages, a round trip of
// its commands through the configuration file, and what its observers hear.
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/ConsoleModel.h"
#include "forwarding/PortObject.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "support/Application.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ModelOnPorts.h"
#include "support/SavedPort.h"
#include "support/TlsFiles.h"
#include "support/WaitUntil.h"

namespace {

using qlntest::FileText;
using qlntest::FreePort;

// Every observer call as one line, naming ports and links as they were added (a
// removed one can no longer be asked).
class Recorder : public ConsoleObserver {
public:
    void PortAdded(CPortObject* port) override
    {
        Names[port] = "COM" + std::to_string(port->GetPortNumber());
        Lines.push_back("port+ " + Names[port]);
    }
    void PortRemoved(CPortObject* port) override { Lines.push_back("port- " + Names[port]); }
    void LinkAdded(CPortObject* port, CNetObject* link) override
    {
        Names[link] = Names[port] + " kind " + std::to_string(static_cast<int32_t>(link->Type));
        Lines.push_back("link+ " + Names[link]);
    }
    void LinkRemoved(CPortObject*, CNetObject* link) override { Lines.push_back("link- " + Names[link]); }
    void OptionChanged(CPortObject* port, CNetObject* link, Option option) override
    {
        Lines.push_back("option " + Names[link ? static_cast<void*>(link) : port] + " "
                        + std::to_string(static_cast<int>(option)));
    }

    std::map<void*, std::string> Names;
    std::vector<std::string> Lines;
};

class ConsoleModelTest : public qlntest::ModelOnPorts {
protected:
    void Start(const std::vector<int>& numbers)
    {
        StartModel(numbers, &Heard);
        Model->LoadSettings();
    }
    // The model goes before the recorder it tells.
    void TearDown() override { Model.reset(); }

    CPortObject* Port(int number) { return Model->FindPort(number); }

    // What the configuration keeps of every port and link (not their states).
    std::vector<std::string> Describe(const ConsoleStatus& status)
    {
        std::vector<std::string> out;
        for (const ConsoleStatus::Port& port : status.Ports) {
            out.push_back("COM" + std::to_string(port.Number) + " " + std::to_string(port.SendToNetDelayTime)
                          + " " + std::to_string(port.ReceiveFromNetDelayTime) + " " + port.LogFilename + "|"
                          + std::to_string(port.LogMode));
            for (const ConsoleStatus::Link& link : port.Links)
                out.push_back("  " + std::to_string(static_cast<int32_t>(link.Kind)) + " " + link.LocalAddr + " "
                              + std::to_string(link.LocalPort) + " " + link.RemoteAddr + ":"
                              + std::to_string(link.RemotePort) + " " + std::to_string(link.AutoReconnect) + " "
                              + std::to_string(link.ReconnectIntervalTime) + " " + std::to_string(link.Rfc2217));
        }
        return out;
    }

    Recorder Heard;
};

// ---------------------------------------------------------------- add net refusals

struct Refusal {
    const char* Name;
    NetKind Kind;
    // "{FREE}": a free port; "{TAKEN}": a port another socket of the kind holds.
    std::string Local;
    std::string Remote;
    std::string Message;
    std::string Reason; // "{TAKEN}": the taken port's
    std::string LocalAddr {};
    std::string RemoteAddr = "127.0.0.1";
    std::string Allow {};
    std::string MaxClients {};
    TlsSettings Tls {};
};

void PrintTo(const Refusal& row, std::ostream* out)
{
    *out << row.Name;
}

class AddNetRefusalTest : public ConsoleModelTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(AddNetRefusalTest, RefusesWithTheDialogsMessageAndChangesNothing)
{
    const Refusal& row = GetParam();
    Start({3});
    UniqueFd taken = row.Kind == NetKind::Udp ? qlntest::BindUdp() : qlntest::Listen();
    const std::string takenPort = std::to_string(qlntest::LocalPort(taken));
    auto fill = [&](std::string text) {
        if (text == "{FREE}")
            return std::to_string(FreePort(row.Kind == NetKind::Udp ? SOCK_DGRAM : SOCK_STREAM));
        return text == "{TAKEN}" ? takenPort : text;
    };
    const std::vector<std::string> heard = Heard.Lines;
    if (row.LocalAddr.find(':') != std::string::npos && !qlntest::HasIpv6Loopback())
        GTEST_SKIP() << "this machine has no IPv6 loopback";

    const ConsoleResult result = Model->AddNet(Port(3), LinkFields{row.Kind, row.RemoteAddr, fill(row.Remote), fill(row.Local),
                                                                   row.LocalAddr, false, row.Allow, row.MaxClients, row.Tls});
    EXPECT_FALSE(result);
    EXPECT_EQ(result.Message, row.Message);
    EXPECT_EQ(result.Reason(), row.Reason == "{TAKEN}" ? "Port " + takenPort + " is already in use." : row.Reason);
    EXPECT_EQ(Model->FindLink(Port(3), 0), nullptr);
    EXPECT_EQ(Heard.Lines, heard);
    EXPECT_EQ(FileText(ConfigPath), "");
    taken.Reset();
}

const std::string NotAPort = "Enter a port from 1 to 65535.";
const std::string OneLine = "The remote address must be one line, without a line break or a NUL character.";

INSTANTIATE_TEST_SUITE_P(
    Rows, AddNetRefusalTest,
    ::testing::Values(
        Refusal{"ClientRemoteZero", NetKind::TcpClient, "", "0", "Remote Port error!", NotAPort},
        Refusal{"ClientRemoteWithTrailingText", NetKind::TcpClient, "", "30000x", "Remote Port error!", NotAPort},
        Refusal{"ServerListenTooLarge", NetKind::TcpServer, "65536", "", "Listen Port error!", NotAPort},
        // The local port is checked first; the remote port only once it passed.
        Refusal{"UdpBothBad", NetKind::Udp, "", "0", "Local Port error!", NotAPort},
        Refusal{"UdpRemoteBad", NetKind::Udp, "{FREE}", "-1", "Remote Port error!", NotAPort},
        Refusal{"ServerPortTaken", NetKind::TcpServer, "{TAKEN}", "", "Add net failed!", "{TAKEN}"},
        Refusal{"UdpPortTaken", NetKind::Udp, "{TAKEN}", "9", "Add net failed!", "{TAKEN}"},
        // A listen address must be a numeric address of this machine, and a UDP link's
        // must be of the family of its numeric remote address.
        Refusal{"ServerAddressElsewhere", NetKind::TcpServer, "{FREE}", "", "Listen Address error!",
                "203.0.113.7 is not an address of this machine.", "203.0.113.7"},
        Refusal{"UdpAddressName", NetKind::Udp, "{FREE}", "9", "Local Address error!",
                "\"localhost\" is not a numeric address (such as 127.0.0.1 or ::1).", "localhost"},
        Refusal{"UdpAddressOfTheOtherFamily", NetKind::Udp, "{FREE}", "9", "Local Address error!",
                "The remote address is IPv4 and the local address IPv6.", "::1"},
        // No text may break the configuration file's lines; names stay within DNS's bounds.
        Refusal{"ServerAddressWithLineBreak", NetKind::TcpServer, "{FREE}", "", "Listen Address error!",
                "The address must be one line, without a line break or a NUL character.", "127.0.0.1\n"},
        Refusal{"ClientHostWithLineBreak", NetKind::TcpClient, "", "7000", "Remote Address error!", OneLine, "", "h\nx"},
        Refusal{"UdpHostWithCarriageReturn", NetKind::Udp, "{FREE}", "7000", "Remote Address error!", OneLine, "",
                "h\rx"},
        Refusal{"ClientHostWithNul", NetKind::TcpClient, "", "7000", "Remote Address error!", OneLine, "",
                std::string("h\0x", 3)},
        Refusal{"ClientHostOf10000Characters", NetKind::TcpClient, "", "7000", "Remote Address error!",
                "A host name has at most 253 characters; this one has 10000.", "", std::string(10000, 'a')},
        // A host that names nothing: empty, or with a blank.
        Refusal{"ClientHostEmpty", NetKind::TcpClient, "", "7000", "Remote Address error!",
                "Enter the remote host: a name or an address.", "", ""},
        Refusal{"UdpHostWithABlank", NetKind::Udp, "{FREE}", "7000", "Remote Address error!",
                "A host name or address has no blanks.", "", "host .example"},
        Refusal{"UdpHostWithA64CharacterLabel", NetKind::Udp, "{FREE}", "7000", "Remote Address error!",
                "Each part of a host name between dots has at most 63 characters; one has 64.", "",
                "www." + std::string(64, 'a') + ".example"},
        // Then the allow list, the client limit and TLS; the TLS files only when the
        // link is made.
        Refusal{"ServerAllowPrefixTooLong", NetKind::TcpServer, "{FREE}", "", "Allow List error!",
                "10.0.0.0/33: prefix longer than 32", "", "127.0.0.1", "10.0.0.0/33"},
        Refusal{"UdpAllowName", NetKind::Udp, "{FREE}", "9", "Allow List error!", "localhost: not an IPv4 or IPv6 address", "",
                "127.0.0.1", "localhost"},
        // Every text whole or refused: a list cut at the file's bound would still parse,
        // and let in a quarter of the addresses ("…,192.168.100.0/2").
        Refusal{"ServerAllowLongerThanTheFileKeeps", NetKind::TcpServer, "{FREE}", "", "Allow List error!",
                "The allow list has 2047 characters; the configuration file keeps at most 2046.", "", "127.0.0.1",
                std::string(2020, ' ') + "10.0.0.0/8,192.168.100.0/24"},
        Refusal{"UdpAllowWithHostBits", NetKind::Udp, "{FREE}", "9", "Allow List error!",
                "10.0.0.5/8: host bits set; 10.0.0.0/8?", "", "127.0.0.1", "127.0.0.1, 10.0.0.5/8"},
        Refusal{"ServerListenAddressLongerThanTheFileKeeps", NetKind::TcpServer, "{FREE}", "", "Listen Address error!",
                "The address has 3000 characters; the configuration file keeps at most 2046.", std::string(3000, '1')},
        Refusal{"ClientTlsCertNameLongerThanTheFileKeeps", NetKind::TcpClient, "", "9", "TLS error!",
                "The certificate file's name has 2048 characters; the configuration file keeps at most 2046.", "",
                "127.0.0.1", "", "", {true, "/" + std::string(2047, 'c'), "/k.pem"}},
        Refusal{"ServerTlsKeyWithLineBreak", NetKind::TcpServer, "{FREE}", "", "TLS error!",
                "A TLS file or pin must be one line, without a line break or a NUL character.", "", "127.0.0.1", "",
                "", {true, "/c.pem", "/k.pem\nx"}},
        Refusal{"ServerMaxClientsNegative", NetKind::TcpServer, "{FREE}", "", "Max Clients error!",
                "Enter a number of clients from 0 (no limit) to 65535.", "", "127.0.0.1", "", "-1"},
        Refusal{"ServerTlsWithoutKey", NetKind::TcpServer, "{FREE}", "", "TLS error!",
                "A TLS server link needs a certificate and a key.", "", "127.0.0.1", "", "", {true, "/no/cert.pem"}},
        Refusal{"ClientPinTooShort", NetKind::TcpClient, "", "9", "TLS error!",
                "The pin is the SHA-256 fingerprint: 64 hex digits, colons allowed.", "", "127.0.0.1", "", "",
                {true, "", "", "", "AB:CD"}},
        Refusal{"ClientCaMissing", NetKind::TcpClient, "", "9", "Add net failed!", "/no/ca.pem: No such file or directory", "",
                "127.0.0.1", "", "", {true, "", "", "/no/ca.pem"}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- ports

TEST_F(ConsoleModelTest, PortsHeldOpenOrOwnNumbersAreRefused)
{
    Start({3, 7});
    const ConsoleResult own = Model->AddPort(7);
    EXPECT_EQ(own.Message, "Add port failed!");
    EXPECT_EQ(own.Reason(), "COM7 is already a port of this console.");

    qlntest::App com3(PortDriver::Instance().LinkPath(3));
    qlntest::App com7(PortDriver::Instance().LinkPath(7));
    ASSERT_TRUE(qlntest::WaitUntil([&] { return Model->CollectOpenedPorts().size() == 2; }));
    EXPECT_EQ(Model->AddPort(0).Message,
              "COM3 is opened!\nCOM7 is opened!\n\nBefore adding any port, please close all opened quillons!");
    EXPECT_EQ(Model->RemovePort(Port(3)).Message, "Before removing the port, please close it first!");
    EXPECT_EQ(Heard.Lines, (std::vector<std::string>{"port+ COM3", "port+ COM7"}));
    ASSERT_TRUE(Model->Status().Ports.at(0).HeldByApplication);
}

// ---------------------------------------------------------------- configuration

// The commands save what the window's save writes for the same port, and a fresh
// console loads it back, reporting each port and its links in order.
TEST_F(ConsoleModelTest, CommandsSaveWhatTheWindowSavesAndLoadBackTheSame)
{
    Start({3, 5});
    CPortObject* com3 = Port(3);
    const qlntest::SavedPort saved(Home.Root);
    ASSERT_TRUE(Model->SetSendToNetDelayTime(com3, saved.Send));
    ASSERT_TRUE(Model->SetReceiveFromNetDelayTime(com3, saved.Receive));
    ASSERT_TRUE(Model->SetLog(com3, saved.Log, saved.LogMode, false));
    const ConsoleResult client =
        Model->AddNet(com3, LinkFields{NetKind::TcpClient, saved.ClientHost, std::to_string(saved.ClientPort), ""});
    ASSERT_TRUE(client);
    ASSERT_TRUE(Model->SetAutoReconnect(com3, client.Link, false));
    ASSERT_TRUE(Model->SetReconnectIntervalTime(com3, client.Link, saved.Interval));
    // A link removed in between: the others are numbered densely.
    const ConsoleResult dropped = Model->AddNet(com3, LinkFields{NetKind::TcpServer, "", "", std::to_string(FreePort())});
    ASSERT_TRUE(Model->AddNet(com3, LinkFields{NetKind::TcpServer, "", "", std::to_string(saved.Listen), "", true}));
    ASSERT_TRUE(Model->RemoveNet(com3, dropped.Link));
    char local[16];
    std::snprintf(local, sizeof local, "0x%x", saved.Local);
    ASSERT_TRUE(
        Model->AddNet(com3, LinkFields{NetKind::Udp, saved.UdpHost, std::to_string(saved.UdpPort), local, saved.UdpLocalAddr}));

    const std::string file = FileText(ConfigPath);
    EXPECT_EQ(file, qlntest::WrittenKeyByKey(Home.Root + "/expected.ini", "", "COM3", saved.SectionKeys()));
    const std::vector<std::string> ports = Describe(Model->Status());

    Model.reset();
    PortDriver::Instance().DetachAll();
    Heard.Lines.clear();
    Start({3, 5});
    EXPECT_EQ(Describe(Model->Status()), ports);
    EXPECT_EQ(Heard.Lines, (std::vector<std::string>{"port+ COM3", "link+ COM3 kind 1", "link+ COM3 kind 2",
                                                      "link+ COM3 kind 3", "port+ COM5"}));
    Model->SavePortSettings(Port(3));
    EXPECT_EQ(FileText(ConfigPath), file);
}

// The keys of the allow list, the client limit and TLS, written by hand, load and
// save back as they were. A link whose settings cannot serve (a bad entry, a key
// others can read) is kept, not listening, and says why; the rest listen.
TEST_F(ConsoleModelTest, TrustKeysLoadShowAndSaveBackAsTheyWere)
{
    const qlntest::TlsFiles& files = qlntest::TlsFiles::Get();
    ASSERT_TRUE(files.Made) << files.Why;
    std::filesystem::create_directories(Home.Root + "/config/quillon");
    const std::string openKey = Home.Root + "/open.key";
    std::filesystem::copy_file(files.Server.Key, openKey);
    chmod(openKey.c_str(), 0644);
    const std::string listen = std::to_string(FreePort()), bad = std::to_string(FreePort()),
                      open = std::to_string(FreePort());
    const qlntest::SavedPort::Keys keys = {
        {"SendToNetDelayTime", "0"}, {"ReceiveFromNetDelayTime", "0"}, {"LogFilename", ""}, {"LogMode", "0"},
        {"NetCount", "4"},
        {"Net1Type", "2"}, {"Net1LocalPort", listen}, {"Net1LocalAddr", "127.0.0.1"}, {"Net1Rfc2217", "1"},
        {"Net1Allow", "127.0.0.1,::1/128"}, {"Net1MaxClients", "4"}, {"Net1Tls", "1"},
        {"Net1TlsCert", files.Server.Cert}, {"Net1TlsKey", files.Server.Key}, {"Net1TlsCA", files.Ca.Cert},
        {"Net2Type", "1"}, {"Net2RemoteAddr", "127.0.0.1"}, {"Net2RemotePort", "9"}, {"Net2AutoReconnect", "1"},
        {"Net2ReconnectIntervalTime", "5000"}, {"Net2Tls", "1"}, {"Net2TlsPin", files.Self.Pin},
        {"Net3Type", "2"}, {"Net3LocalPort", bad}, {"Net3Allow", "10.0.0.0/33"},
        {"Net4Type", "2"}, {"Net4LocalPort", open}, {"Net4Tls", "1"}, {"Net4TlsCert", files.Server.Cert},
        {"Net4TlsKey", openKey}};
    const std::string written = qlntest::WrittenKeyByKey(ConfigPath, "", "COM3", keys);
    Start({3});

    const ConsoleStatus status = Model->Status();
    ASSERT_EQ(status.Ports.at(0).Links.size(), 4u);
    const auto& links = status.Ports[0].Links;
    EXPECT_TRUE(links[0].Listening);
    EXPECT_EQ(links[0].Allow, "127.0.0.1,::1/128");
    EXPECT_EQ(links[0].MaxClients, 4);
    EXPECT_EQ(links[0].Tls, (TlsSettings {true, files.Server.Cert, files.Server.Key, files.Ca.Cert}));
    EXPECT_EQ(links[0].TlsNow.Fingerprint, files.Server.Pin);
    EXPECT_EQ(links[1].Tls.Pin, files.Self.Pin);
    EXPECT_FALSE(links[2].Listening);
    EXPECT_EQ(links[2].LastError, "10.0.0.0/33: prefix longer than 32");
    EXPECT_FALSE(links[3].Listening);
    EXPECT_NE(links[3].LastError.find("chmod 600 " + openKey), std::string::npos) << links[3].LastError;

    Model->SavePortSettings(Port(3));
    EXPECT_EQ(FileText(ConfigPath), written);
}

// ---------------------------------------------------------------- observers

// A second caller of the model (a command from elsewhere) changes what the first
// caller's observer shows: each change is heard once, at once, and refusals not at all.
TEST_F(ConsoleModelTest, ObserversHearEveryChangeWhoeverMakesIt)
{
    Start({3, 5});
    Recorder gone;
    Model->AddObserver(&gone);
    Model->RemoveObserver(&gone);
    Heard.Lines.clear();

    CPortObject* com3 = Port(3);
    CPortObject* com5 = Port(5);
    const ConsoleResult server = Model->AddNet(com5, LinkFields{NetKind::TcpServer, "", "", std::to_string(FreePort())});
    ASSERT_TRUE(Model->SetSendToNetDelayTime(com3, 7));
    ASSERT_TRUE(Model->SetLog(com3, "", 0, false));
    const ConsoleResult client =
        Model->AddNet(com5, LinkFields{NetKind::TcpClient, "127.0.0.1", std::to_string(FreePort()), ""});
    ASSERT_TRUE(Model->SetReconnectIntervalTime(com5, client.Link, 100));
    ASSERT_TRUE(Model->Reconnect(com5, client.Link));
    // Refused: a link of another port, a port that is not there, a bad text.
    EXPECT_FALSE(Model->RemoveNet(com3, client.Link));
    EXPECT_FALSE(Model->SetAutoReconnect(nullptr, client.Link, false));
    EXPECT_FALSE(Model->AddNet(com3, LinkFields{NetKind::TcpServer, "", "", "x"}));
    ASSERT_TRUE(Model->RemoveNet(com5, server.Link));

    EXPECT_EQ(Heard.Lines, (std::vector<std::string>{
                               "link+ COM5 kind 2", "option COM3 0", "option COM3 2", "link+ COM5 kind 1",
                               "option COM5 kind 1 4", "link- COM5 kind 2"}));
    EXPECT_TRUE(gone.Lines.empty());
    EXPECT_EQ(Model->FindLink(com5, 0), client.Link);
}

// A failure keeps its time; once the link is connected the failure is history.
TEST_F(ConsoleModelTest, AFailureHasItsTimeAndIsPastOnceTheLinkConnects)
{
    Start({3});
    const uint16_t remote = FreePort();
    const ConsoleResult client = Model->AddNet(Port(3), LinkFields{NetKind::TcpClient, "127.0.0.1", std::to_string(remote), ""});
    ASSERT_TRUE(client);
    ASSERT_TRUE(Model->SetReconnectIntervalTime(Port(3), client.Link, 100));
    auto link = [&] { return Model->Status().Ports.at(0).Links.at(0); };
    ASSERT_TRUE(qlntest::WaitUntil([&] { return link().LastError == "Connection refused"; }));
    EXPECT_GT(link().LastErrorTime, 0);
    EXPECT_FALSE(link().LastErrorPast);

    const UniqueFd listener = qlntest::Listen(remote);
    ASSERT_TRUE(listener);
    ASSERT_TRUE(qlntest::WaitUntil([&] { return link().State == LinkState::Connected; }));
    const ConsoleStatus::Link connected = link();
    EXPECT_EQ(connected.LastError, "Connection refused");
    EXPECT_TRUE(connected.LastErrorPast);
    EXPECT_LE(connected.LastErrorTime, connected.LastChange);
}

// ---------------------------------------------------------------- values no line can hold

// A hand edit can leave what no entrance takes (a lone carriage return, a NUL, a
// name beyond DNS's bounds, a value cut at the reader's bound): such a value is not
// loaded, the event log names the line and the key, and the rest of the section
// loads as it is.
TEST_F(ConsoleModelTest, ALoadLeavesOutValuesNoEntranceTakesAndSaysWhich)
{
    ASSERT_TRUE(MakeFolders(Home.Root + "/config/quillon"));
    // A list of 2048 characters, which the reader cuts to one that would still parse
    // and let in a quarter of the addresses ("…,192.168.100.0/2").
    std::string allow;
    for (int i = 0; i < 225; ++i)
        allow += i < 218 ? "10.1.1.1," : "10.1.1.10,";
    allow += "192.168.100.0/24";
    ASSERT_EQ(allow.size(), 2048u);
    qlntest::WriteFileText(ConfigPath, "[COM3]\nLogFilename=/tmp/a\rb.log\nNetCount=6\nNet1Type=1\n"
                                         "Net1RemoteAddr=h\rx\nNet1RemotePort=7\nNet2Type=3\nNet2LocalPort=9\n"
                                         "Net2RemotePort=9\nNet2RemoteAddr=" + std::string(254, 'a')
                                         + "\nNet3Type=2\nNet3LocalPort=9\n"
                                         + std::string("Net3LocalAddr=127.0.0.1\0x\n", 26)
                                         + "Net4Type=1\nNet4RemoteAddr=192.0.2.9\nNet4RemotePort=7\n"
                                         + "Net5Type=2\nNet5LocalPort=9\nNet5Allow=" + allow + "\n"
                                         + "Net6Type=1\nNet6RemoteAddr=a b\nNet6RemotePort=7\n");
    EventLog::Instance().Reset(); // a source's burst of earlier tests would hold its lines back
    Start({3});
    const ConsoleStatus::Port port = Model->Status().Ports.at(0);
    EXPECT_EQ(port.LogFilename, "");
    ASSERT_EQ(port.Links.size(), 2u);
    EXPECT_EQ(port.Links[0].RemoteAddr, "192.0.2.9");
    EXPECT_EQ(port.Links[1].RemoteAddr, "a b");
    std::vector<std::string> said;
    for (const Event& event : EventLog::Instance().Since(0)) {
        if (event.Level == EventLevel::Warning && event.Text.starts_with(ConfigPath + ":"))
            said.push_back(event.Text.substr(ConfigPath.size(), event.Text.find('=') - ConfigPath.size()));
    }
    EXPECT_EQ(said, (std::vector<std::string>{":2: [COM3] LogFilename", ":5: [COM3] Net1RemoteAddr",
                                              ":10: [COM3] Net2RemoteAddr", ":13: [COM3] Net3LocalAddr",
                                              ":19: [COM3] Net5Allow", ":21: [COM3] Net6RemoteAddr"}));
}

} // namespace

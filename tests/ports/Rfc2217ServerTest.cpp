// The console as an RFC 2217 access server: pyserial opens a TCP server link with line
// control whatever the application's settings, sees whether a program holds the port,
// purges and carries every byte value; a Telnet peer of the test's own suspends the
// flow with bytes already buffered; a console is the client of a console.
#include <gtest/gtest.h>

#include <termios.h>
#include <thread>

#include "net/TelnetCodec.h"
#include "support/Console.h"
#include "support/ParamName.h"
#include "support/SerialPeers.h"

using namespace qlntest;

namespace {

// The bytes rfc2217_remote.py sends and expects for `count` and `seed`.
std::vector<uint8_t> RemotePattern(size_t count, int seed)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
    return bytes;
}

speed_t ApplicationSpeed(int fd)
{
    termios tio {};
    tcgetattr(fd, &tio);
    return cfgetospeed(&tio);
}

// A console with a TCP server link with line control, the application on 38400 baud,
// and pyserial's client talked to line by line.
class PyserialServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Python = PythonWithPyserial();
        if (Python.empty())
            GTEST_SKIP() << "pyserial (Debian's python3-serial) is not installed";
        ASSERT_TRUE(SetLine(Port.Application->Fd.Get(), B38400, 0, CSTOPB | CRTSCTS));
        const uint16_t port = FreePort();
        Link = Port.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, {"127.0.0.1", true}).Link;
        ASSERT_NE(Link, nullptr);
        Remote = std::make_unique<Conversation>(
            std::vector<std::string> {Python, SupportScript("rfc2217_remote.py"), std::to_string(port)},
            Folder.File("remote.err"));
        ASSERT_TRUE(Remote->Started());
    }
    std::string Ask(const std::string& request) { return Remote->Ask(request) + " " + FileText(Folder.File("remote.err")); }
    std::string Note()
    {
        return Port.Locked([&] {
            const auto notes = Link->ClientNotes();
            return notes.empty() ? std::string() : notes.front();
        });
    }

    std::string Python;
    TempFolder Folder;
    Console Port;
    CNetObject* Link = nullptr;
    std::unique_ptr<Conversation> Remote;
};

struct OpenRow {
    const char* Name;
    const char* Open;
    const char* Asks;
};

class PyserialOpenTest : public PyserialServerTest, public ::testing::WithParamInterface<OpenRow> {};

// The client's settings are taken and shown, never put on the application's line, also
// when it changes them on the fly.
TEST_P(PyserialOpenTest, OpensWhateverTheApplicationUsesAndIsShownWhatItAsks)
{
    ASSERT_EQ(Ask(GetParam().Open), "ok ");
    EXPECT_TRUE(WaitUntil([&] { return Note().rfind(GetParam().Asks, 0) == 0; })) << Note();
    ASSERT_EQ(Ask("baud 57600"), "ok ");
    ASSERT_EQ(Ask("bytesize 7"), "ok ");
    EXPECT_TRUE(WaitUntil([&] { return Note().rfind("asks 57600 7", 0) == 0; })) << Note();
    EXPECT_EQ(ApplicationSpeed(Port.Application->Fd.Get()), B38400);
}

INSTANTIATE_TEST_SUITE_P(Rows, PyserialOpenTest,
                         ::testing::Values(OpenRow {"Defaults", "open 9600 8 N 1 0", "asks 9600 8N1, flow none"},
                                           OpenRow {"FastWithHardwareFlow", "open 115200 8 N 1 1",
                                                    "asks 115200 8N1, flow hardware"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// CTS, DSR and CD say whether a program holds the port, as a null-modem cable would; RI
// stays off.
TEST_F(PyserialServerTest, ModemLinesFollowTheApplication)
{
    ASSERT_EQ(Ask("open 9600 8 N 1 0"), "ok ");
    EXPECT_EQ(Ask("modem"), "1 1 0 1 ");
    Port.Application->Close();
    EXPECT_TRUE(WaitUntil([&] { return Ask("modem") == "0 0 0 0 "; }));
    Port.Application = std::make_unique<App>(PortDriver::Instance().LinkPath(4));
    EXPECT_TRUE(WaitUntil([&] { return Ask("modem") == "1 1 0 1 "; }));
}

// What the client sent that waits for the application goes with reset_output_buffer;
// then a mebibyte of every byte value goes each way exactly.
TEST_F(PyserialServerTest, PurgesAndCarriesEveryByteBothWays)
{
    ASSERT_EQ(Ask("open 115200 8 N 1 0"), "ok ");
    Port.Application->Close();
    ASSERT_EQ(Ask("send 3000 1"), "ok ");
    ASSERT_TRUE(WaitUntil([&] { return Port.Port->FromNetQueued() == 3000; }));
    ASSERT_EQ(Ask("reset_output"), "ok ");
    EXPECT_TRUE(WaitUntil([&] { return Port.Port->FromNetQueued() == 0; }));
    ASSERT_EQ(Ask("reset_input"), "ok ");

    Port.Application = std::make_unique<App>(PortDriver::Instance().LinkPath(4));
    const size_t MiB = 1 << 20;
    ASSERT_EQ(Ask("send " + std::to_string(MiB) + " 2"), "ok ");
    EXPECT_EQ(Port.Application->ReadExactly(MiB, 60), RemotePattern(MiB, 2));
    std::thread writer([&] { Port.Application->WriteAll(RemotePattern(MiB, 3), 60); });
    EXPECT_EQ(Ask("recv " + std::to_string(MiB) + " 3"), "ok ");
    writer.join();
}

// A Telnet peer of the test's own: it asks for line control and binary data, then
// counts the data bytes and the server's answers it receives.
class TelnetPeer : private TelnetCodec::Listener {
public:
    explicit TelnetPeer(uint16_t port)
        : Codec({TelnetCodec::Binary, TelnetCodec::SuppressGoAhead, 44}, {TelnetCodec::Binary, TelnetCodec::SuppressGoAhead}),
          Fd(ConnectTo(port))
    {
        std::vector<uint8_t> out;
        Codec.Request(TelnetCodec::Side::Local, 44, out);
        Codec.Request(TelnetCodec::Side::Local, TelnetCodec::Binary, out);
        Codec.Request(TelnetCodec::Side::Remote, TelnetCodec::Binary, out);
        SendAll(Fd, out);
    }
    // SUSPEND 8, RESUME 9, modem state poll 7, PURGE-DATA 12.
    void Command(uint8_t code, std::vector<uint8_t> value = {})
    {
        value.insert(value.begin(), code);
        std::vector<uint8_t> out;
        TelnetCodec::Subnegotiate(44, value.data(), value.size(), out);
        SendAll(Fd, out);
    }
    // Returns once the server has handled every command sent before: it answers a
    // baud rate asked with 0 only when asked, in order, unlike the modem state,
    // which it also sends by itself.
    bool Sync()
    {
        const int replies = BaudReplies;
        Command(1, {0, 0, 0, 0});
        return ReadUntil([&] { return BaudReplies > replies; });
    }
    bool ReadUntil(const std::function<bool()>& done, double seconds = 30.0)
    {
        return WaitUntil([&] {
            uint8_t buffer[65536];
            ssize_t n;
            while ((n = recv(Fd.Get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
                std::vector<uint8_t> answers;
                Codec.Decode(buffer, static_cast<size_t>(n), Data, answers, *this);
                SendAll(Fd, answers);
            }
            return done();
        }, seconds);
    }

    std::vector<uint8_t> Data;
    int PurgeAcks = 0;
    int BaudReplies = 0;

private:
    void OptionChanged(TelnetCodec::Side, uint8_t, bool) override {}
    void Subnegotiation(uint8_t option, const uint8_t* payload, size_t length) override
    {
        if (option == 44 && length > 0) {
            PurgeAcks += payload[0] == 112;
            BaudReplies += payload[0] == 101;
        }
    }

    TelnetCodec Codec;
    UniqueFd Fd;
};

// The peer stops reading until the console holds data for it, then suspends: after the
// server has taken the suspend (its answer to a later request), not one data byte comes until
// the peer resumes; a purge drops what is held; then every byte written since arrives
// in order.
TEST(Rfc2217SuspendTest, SuspendStopsWhatIsAlreadyBufferedAndPurgeDropsIt)
{
    Console console;
    const uint16_t port = FreePort();
    ASSERT_NE(console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, {"127.0.0.1", true}).Link, nullptr);
    TelnetPeer peer(port);
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(console.Port->GetNetLinks().front().get()) == 1; }));

    const auto bulk = Pattern(8 << 20, 9);
    std::thread writer([&] { console.Application->WriteAll(bulk, 120); });
    ASSERT_TRUE(WaitUntil([&] { return console.Port->ToNetQueued() > 0; }, 60)) << "the link never held back";
    peer.Command(8);
    ASSERT_TRUE(peer.Sync());
    const size_t before = peer.Data.size();
    ASSERT_TRUE(peer.Sync());
    EXPECT_EQ(peer.Data.size(), before) << "data came while suspended";
    EXPECT_LT(before, bulk.size());

    peer.Command(9);
    ASSERT_TRUE(peer.ReadUntil([&] { return peer.Data.size() == bulk.size(); }, 20)) << peer.Data.size() << " of " << bulk.size() << ", queued " << console.Port->ToNetQueued();
    writer.join();
    EXPECT_TRUE(peer.Data == bulk);

    // Held while suspended, then purged: only what the application writes after it comes.
    peer.Data.clear();
    peer.Command(8);
    ASSERT_TRUE(peer.Sync());
    const uint64_t taken = console.Port->GetBytesFromApplication();
    ASSERT_TRUE(console.Application->WriteAll(Pattern(20000, 4)));
    // Written is not yet taken: the purge must come after the link holds all of it.
    ASSERT_TRUE(WaitUntil([&] { return console.Port->GetBytesFromApplication() == taken + 20000 && console.Port->ToNetQueued() == 0; }));
    peer.Command(12, {1});
    ASSERT_TRUE(peer.ReadUntil([&] { return peer.PurgeAcks == 1; }));
    peer.Command(9);
    ASSERT_TRUE(console.Application->WriteAll(Pattern(100, 5)));
    ASSERT_TRUE(peer.ReadUntil([&] { return peer.Data.size() >= 100; }));
    EXPECT_EQ(peer.Data, Pattern(100, 5));
}

// A console's TCP client link with line control on a console's server link (two ports
// of one manager): the application's settings reach the far end and show there; the
// far end's modem lines tell whether a program holds the far port; data is exact.
TEST(ConsoleToConsoleTest, SettingsGoOverAndTheFarProgramShows)
{
    PortsHome home;
    CQLNManager manager(nullptr, "");
    ASSERT_EQ(manager.StartOnPorts({4, 5}).Text(), "");
    CQLNManager::PortList ports;
    manager.CopyPorts(&ports);
    CPortObject* server = ports.front();
    CPortObject* client = ports.back();
    auto farApp = std::make_unique<App>(PortDriver::Instance().LinkPath(4));
    App nearApp(PortDriver::Instance().LinkPath(5));
    ASSERT_TRUE(SetLine(nearApp.Fd.Get(), B115200, CSTOPB | CRTSCTS, 0));
    const uint16_t port = FreePort();
    CNetObject* serverLink = server->AddTcpServer(port, CPortObject::BindFailure::Refuse, {"127.0.0.1", true}).Link;
    CNetObject* clientLink = client->AddTcpClient("127.0.0.1", port, {"", true}).Link;
    ASSERT_TRUE(serverLink && clientLink);
    auto locked = [&](auto read) {
        CGuard guard(manager.Lock());
        return read();
    };
    auto farModem = [&] {
        return locked([&] {
            const ReportedLine* line = clientLink->FarLine();
            return line && line->HaveModemState ? line->ModemState & 0xF0 : -1;
        });
    };
    EXPECT_TRUE(WaitUntil([&] {
        return locked([&] {
            const auto notes = serverLink->ClientNotes();
            return !notes.empty() && notes.front().rfind("asks 115200 8N2, flow hardware", 0) == 0;
        });
    }));
    EXPECT_TRUE(WaitUntil([&] { return farModem() == 0xB0; })) << farModem();
    EXPECT_TRUE(WaitUntil([&] { return locked([&] { return clientLink->FarLine()->Baud; }) == 115200u; }));

    ASSERT_TRUE(nearApp.WriteAll(AllByteValues()));
    EXPECT_EQ(farApp->ReadExactly(256, 20), AllByteValues());
    ASSERT_TRUE(farApp->WriteAll(Pattern(5000, 6)));
    EXPECT_EQ(nearApp.ReadExactly(5000, 20), Pattern(5000, 6));

    farApp->Close();
    EXPECT_TRUE(WaitUntil([&] { return farModem() == 0; })) << farModem();
}

} // namespace

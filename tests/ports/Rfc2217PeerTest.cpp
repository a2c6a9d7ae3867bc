// Links with line control (RFC 2217) against peers that no one here wrote: pyserial's
// client against a server link, and a client link against pyserial's server side
// and ser2net, each serving a pseudo-terminal as the far serial port.
#include <gtest/gtest.h>

#include <linux/sockios.h>
#include <sstream>
#include <sys/ioctl.h>

#include "links/TcpClientLink.h"
#include "support/Console.h"
#include "support/SerialPeers.h"

using namespace qlntest;

namespace {

// Every byte value, runs of 0xFF (each doubled on the wire) and a long stretch.
std::vector<uint8_t> Payload()
{
    std::vector<uint8_t> bytes = AllByteValues();
    for (size_t run : {1, 2, 3, 700})
        bytes.insert(bytes.end(), run, 0xFF), bytes.push_back(0);
    const auto more = Pattern(60000, 11);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

// The bytes of a hexadecimal traffic log's records of one direction, in order.
std::vector<uint8_t> LoggedBytes(const std::string& path, bool inbound)
{
    std::istringstream lines(FileText(path));
    std::vector<uint8_t> bytes;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(inbound ? "I:" : "O:", 0) != 0)
            continue;
        for (size_t i = 2; i + 1 < line.size() && line[i] != '\r'; i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoi(line.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// pyserial opens the server link, sets the line and its control lines and purges
// (each answered, or it fails), and sends the payload, which the application echoes.
// The traffic log holds the data and nothing of the Telnet around it.
TEST(Rfc2217ServerLinkTest, PyserialClientSetsTheLineAndDataIsExactBothWays)
{
    const std::string python = PythonWithPyserial();
    if (python.empty())
        GTEST_SKIP() << "pyserial (Debian's python3-serial) is not installed";
    Console console;
    TempFolder folder;
    // A client's settings are answered with the port's own: the application's line
    // is the one the client asks for, as it would be for a real device.
    ASSERT_TRUE(SetLine(console.Application->Fd.Get(), B9600, CSTOPB | CRTSCTS, 0));
    console.Port->SetLogFile(folder.File("traffic.log").c_str());
    console.Port->SetLogMode(1);
    const uint16_t port = FreePort();
    ASSERT_NE(console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, {"127.0.0.1", true}).Link,
              nullptr);
    const auto payload = Payload();
    WriteFileText(folder.File("payload"), std::string(payload.begin(), payload.end()));

    PeerProcess client({python, SupportScript("rfc2217_client.py"), std::to_string(port), folder.File("payload")},
                       folder.File("client.out"));
    ASSERT_TRUE(client.Started());
    const auto received = console.Application->ReadExactly(payload.size(), 30.0);
    EXPECT_EQ(received, payload) << FileText(folder.File("client.out"));
    ASSERT_TRUE(console.Application->WriteAll(received));
    EXPECT_EQ(client.WaitExit(60.0), 0) << FileText(folder.File("client.out"));
    EXPECT_TRUE(WaitUntil([&] { return LoggedBytes(folder.File("traffic.log"), false).size() == payload.size(); }));
    EXPECT_EQ(LoggedBytes(folder.File("traffic.log"), true), payload);
    EXPECT_EQ(LoggedBytes(folder.File("traffic.log"), false), payload);
}

// A device server on 127.0.0.1:`port` whose serial port is `pty`, started in `folder`.
using StartServer = std::unique_ptr<PeerProcess> (*)(uint16_t port, const std::string& pty, TempFolder& folder);

struct DeviceServer {
    const char* Name;
    const char* Missing; // why the test skips when Start finds no program
    StartServer Start;
};

std::unique_ptr<PeerProcess> StartPyserialServer(uint16_t port, const std::string& pty, TempFolder& folder)
{
    const std::string python = PythonWithPyserial();
    if (python.empty())
        return nullptr;
    return std::make_unique<PeerProcess>(
        std::vector<std::string> {python, SupportScript("rfc2217_server.py"), std::to_string(port), pty},
        folder.File("server.out"));
}

std::unique_ptr<PeerProcess> StartSer2net(uint16_t port, const std::string& pty, TempFolder& folder)
{
    const std::string ser2net = FindProgram("ser2net");
    if (ser2net.empty())
        return nullptr;
    // "local": the pseudo-terminal has no modem lines to wait for.
    WriteFileText(folder.File("ser2net.yaml"),
                  "connection: &far\n"
                  "  accepter: telnet(rfc2217),tcp,127.0.0.1," + std::to_string(port) + "\n"
                  "  connector: serialdev," + pty + ",115200n81,local\n"
                  "  options:\n"
                  "    kickolduser: true\n");
    return std::make_unique<PeerProcess>(std::vector<std::string> {ser2net, "-n", "-u", "-c", folder.File("ser2net.yaml"),
                                                                   "-P", folder.File("ser2net.pid")},
                                         folder.File("server.out"));
}

class Rfc2217ClientLinkTest : public ::testing::TestWithParam<DeviceServer> {};

// The application's line reaches the far pseudo-terminal at connect and again when
// the application changes it; the server's answers show on the link; the data is
// exact both ways. (A pseudo-terminal keeps 8 data bits and no parity whatever is
// set, at both ends, so those two cannot be seen here.)
TEST_P(Rfc2217ClientLinkTest, TheFarLineFollowsTheApplicationAndDataIsExact)
{
    TempFolder folder;
    FarPty far;
    ASSERT_TRUE(far.Master);
    const uint16_t port = FreePort();
    const auto server = GetParam().Start(port, far.SlavePath, folder);
    if (!server)
        GTEST_SKIP() << GetParam().Missing;
    ASSERT_TRUE(server->Started());

    Console console;
    const int app = console.Application->Fd.Get();
    ASSERT_TRUE(SetLine(app, B9600, CS7 | CSTOPB | CRTSCTS, CSIZE | PARENB));
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", port, {"", true}).Link;
    ASSERT_NE(link, nullptr);
    console.Locked([&] { // tries again soon, until the server listens
        link->SetReconnectInterval(100);
        console.Manager->Lock()->Touch();
        return 0;
    });
    auto farHas = [&](speed_t speed, tcflag_t flags) {
        const termios tio = far.Settings();
        return cfgetospeed(&tio) == speed && (tio.c_cflag & flags) == flags;
    };
    EXPECT_TRUE(WaitUntil([&] { return farHas(B9600, CSTOPB | CRTSCTS); }, 20.0)) << FileText(folder.File("server.out"));
    EXPECT_TRUE(WaitUntil([&] {
        return console.Locked([&] {
            const ReportedLine* line = link->FarLine();
            return line && line->Agreed && line->Baud == 9600 && line->StopSize == 2 && line->FlowControl == 3;
        });
    }));

    const auto payload = Payload();
    ASSERT_TRUE(console.Application->WriteAll(payload));
    EXPECT_EQ(ReadUpTo(far.Master.Get(), payload.size(), 30.0, false), payload);
    ASSERT_TRUE(WriteAllTo(far.Master.Get(), payload));
    EXPECT_EQ(console.Application->ReadExactly(payload.size(), 30.0), payload);

    ASSERT_TRUE(SetLine(app, B19200, 0, CSTOPB | CRTSCTS));
    EXPECT_TRUE(WaitUntil([&] {
        const termios tio = far.Settings();
        return cfgetospeed(&tio) == B19200 && !(tio.c_cflag & (CSTOPB | CRTSCTS));
    }));
}

INSTANTIATE_TEST_SUITE_P(Servers, Rfc2217ClientLinkTest,
                         ::testing::Values(DeviceServer {"Pyserial", "pyserial (Debian's python3-serial) is not installed",
                                                         StartPyserialServer},
                                           DeviceServer {"Ser2net", "ser2net (Debian's ser2net) is not installed",
                                                         StartSer2net}),
                         [](const auto& info) { return std::string(info.param.Name); });


// Bytes waiting in a socket's receive (`SIOCINQ`) or send (`SIOCOUTQ`) queue.
int Queued(int fd, unsigned long request)
{
    int count = -1;
    return ioctl(fd, request, &count) == 0 ? count : -1;
}

// Receives into `heard` until it holds each of `parts`.
bool Hears(const UniqueFd& socket, std::string& heard, const std::vector<std::string>& parts)
{
    return WaitUntil([&] {
        const auto more = RecvFor(socket, 0.01);
        heard.append(more.begin(), more.end());
        return std::all_of(parts.begin(), parts.end(),
                           [&](const std::string& part) { return heard.find(part) != std::string::npos; });
    });
}

struct WireCase {
    const char* Name;
    std::vector<std::string> FromServer; // each read by the console before the next is sent
    std::string ToApplication;
    std::vector<std::string> ServerHears; // answers owed, and the application's 0xFF 0x01 escaped
    bool Agreed;
    uint32_t Baud = 0; // the server's report
};

// A client link with line control to a server written here, which says what a test
// makes it say.
class RawServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(link && server); }

    Console console;
    UniqueFd listener = Listen();
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", LocalPort(listener), {"", true}).Link;
    UniqueFd server = AcceptWithin(listener);
};

class Rfc2217WireTest : public RawServerTest, public ::testing::WithParamInterface<WireCase> {};

// A server that says odd things; the application's data stays exact.
TEST_P(Rfc2217WireTest, OddServersNeverCorruptTheData)
{
    const int theirs = console.Locked([&] { return static_cast<TcpClientLink*>(link)->Socket().GetHandle(); });
    for (const std::string& piece : GetParam().FromServer) {
        ASSERT_TRUE(SendAll(server, std::vector<uint8_t>(piece.begin(), piece.end())));
        EXPECT_TRUE(WaitUntil([&] { return Queued(server.Get(), SIOCOUTQ) == 0 && Queued(theirs, SIOCINQ) == 0; }));
    }
    const std::string& want = GetParam().ToApplication;
    const auto got = console.Application->ReadExactly(want.size());
    EXPECT_EQ(std::string(got.begin(), got.end()), want);
    ASSERT_TRUE(console.Application->WriteAll({0xFF, 0x01}));
    std::string heard;
    EXPECT_TRUE(Hears(server, heard, GetParam().ServerHears));
    const ReportedLine line = console.Locked([&] { return *link->FarLine(); });
    EXPECT_EQ(line.Agreed, GetParam().Agreed);
    EXPECT_EQ(line.Baud, GetParam().Baud);
}

const std::string Escaped = "\xFF\xFF\x01";

INSTANTIATE_TEST_SUITE_P(
    Cases, Rfc2217WireTest,
    ::testing::Values(
        // 0xFF doubled across two reads, and a server's answer (9600 baud) split twice.
        WireCase {"SplitIac",
                  {"\xFF\xFD\x2C" "A\xFF", std::string("\xFF" "B\xFF\xFA\x2C\x65\x00\x00", 8), "\x25\x80\xFF", "\xF0" "C"},
                  "A\xFF" "BC", {Escaped}, true, 9600},
        // DO and WILL of an option no one here knows, between data bytes.
        WireCase {"UnknownOption", {"x\xFF\xFD\x63y\xFF\xFB\x63z"}, "xyz",
                  {"\xFF\xFC\x63", "\xFF\xFE\x63", Escaped}, false},
        // The server refuses line control: the link goes on with plain Telnet.
        WireCase {"RefusedOption", {"\xFF\xFE\x2C\xFF\xFC\x2C" "d\xFF\xFF"}, "d\xFF", {Escaped}, false},
        WireCase {"Agreed", {"\xFF\xFD\x2C" "e"}, "e", {Escaped}, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// Once the server took the option, what the application changes later goes out:
// a flush of its input as PURGE-DATA, a new speed as SET-BAUDRATE.
TEST_F(RawServerTest, TheApplicationsFlushAndNewSpeedReachTheServer)
{
    ASSERT_TRUE(SendAll(server, {0xFF, 0xFD, 0x2C}));
    std::string heard;
    ASSERT_TRUE(Hears(server, heard, {"\xFF\xFA\x2C\x05"})); // the settings at the start
    heard.clear();
    ASSERT_EQ(tcflush(console.Application->Fd.Get(), TCIFLUSH), 0);
    EXPECT_TRUE(Hears(server, heard, {"\xFF\xFA\x2C\x0C\x01\xFF\xF0"}));
    ASSERT_TRUE(SetLine(console.Application->Fd.Get(), B19200, 0, 0));
    EXPECT_TRUE(Hears(server, heard, {std::string("\xFF\xFA\x2C\x01\x00\x00\x4B\x00\xFF\xF0", 10)}));
}

} // namespace

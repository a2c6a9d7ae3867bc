// TLS links against peers that no one here wrote, with certificates the test makes:
// socat's OPENSSL addresses, openssl s_client and s_server, Python's ssl module, and
// ser2net's ssl stage under telnet(rfc2217) as a device server.
#include <gtest/gtest.h>

#include <thread>

#include "links/TcpClientLink.h"
#include "links/TcpServerLink.h"
#include "support/Console.h"
#include "support/SerialPeers.h"
#include "support/TlsFiles.h"

using namespace qlntest;

namespace {

const TlsFiles& Files()
{
    return TlsFiles::Get();
}

LinkOptions TlsOptions(const TlsFiles::Pair& own, const std::string& ca = {}, const std::string& pin = {})
{
    LinkOptions options;
    options.Tls = {true, own.Cert, own.Key, ca, pin};
    return options;
}

// Every byte value, then bytes that are not all alike.
std::vector<uint8_t> Payload(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes = AllByteValues();
    const auto more = Pattern(size - bytes.size(), seed);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
}

// A client link tries again every 100 ms, from now on: until its peer listens.
void RetrySoon(Console& console, CNetObject* link)
{
    console.Locked([&] {
        link->SetReconnectInterval(100);
        console.Manager->Lock()->Touch();
        return 0;
    });
}

// The link's TLS sessions now.
std::vector<TlsSession> Sessions(Console& console, CNetObject* link)
{
    return console.Locked([&] { return link->TlsReport().Sessions; });
}

// The far end of a TLS link as the test holds it: a plain descriptor that a peer
// program turns into the link's TLS (a socket), or the far serial port of a device
// server (a pseudo-terminal).
struct FarEnd {
    UniqueFd Plain;
    FarPty Far;
    bool Socket = true;
    std::string Output;
    std::unique_ptr<PeerProcess> Peer; // goes first
};

struct BulkCase {
    const char* Name;
    const char* Missing;
    // Makes the link on `console` and its far end; false when the peer is missing.
    bool (*Start)(Console& console, CNetObject*& link, FarEnd& end, TempFolder& folder);
    size_t Size;
};

// socat as a client of a TLS server link on `port`, its plain end the test's.
void SocatClient(uint16_t port, FarEnd& end, TempFolder& folder)
{
    const uint16_t plain = FreePort();
    end.Output = folder.File("socat.out");
    end.Peer = std::make_unique<PeerProcess>(
        std::vector<std::string> {"socat", "TCP-LISTEN:" + std::to_string(plain) + ",bind=127.0.0.1,reuseaddr",
                                  "OPENSSL:127.0.0.1:" + std::to_string(port) + ",cafile=" + Files().Ca.Cert},
        end.Output);
    WaitUntil([&] { return (end.Plain = ConnectTo(plain)).Valid(); });
}

bool SocatAgainstServerLink(Console& console, CNetObject*& link, FarEnd& end, TempFolder& folder)
{
    const uint16_t port = FreePort();
    link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, TlsOptions(Files().Server)).Link;
    SocatClient(port, end, folder);
    return true;
}

bool SocatAgainstClientLink(Console& console, CNetObject*& link, FarEnd& end, TempFolder& folder)
{
    const uint16_t port = FreePort();
    UniqueFd listener = Listen();
    end.Output = folder.File("socat.out");
    end.Peer = std::make_unique<PeerProcess>(
        std::vector<std::string> {"socat",
                                  "OPENSSL-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,verify=0,cert="
                                      + Files().Server.Cert + ",key=" + Files().Server.Key,
                                  "TCP:127.0.0.1:" + std::to_string(LocalPort(listener))},
        end.Output);
    LinkOptions options = TlsOptions({}, Files().Ca.Cert);
    link = console.Port->AddTcpClient("127.0.0.1", port, options).Link;
    RetrySoon(console, link);
    end.Plain = AcceptWithin(listener, 20.0);
    return true;
}

// ser2net's TLS under its Telnet with line control: the link has both marks.
bool Ser2netAgainstClientLink(Console& console, CNetObject*& link, FarEnd& end, TempFolder& folder)
{
    const std::string ser2net = FindProgram("ser2net");
    if (ser2net.empty())
        return false;
    const uint16_t port = FreePort();
    WriteFileText(folder.File("ser2net.yaml"),
                  "connection: &far\n"
                  "  accepter: telnet(rfc2217),ssl(key=" + Files().Server.Key + ",cert=" + Files().Server.Cert
                      + "),tcp,127.0.0.1," + std::to_string(port) + "\n"
                  "  connector: serialdev," + end.Far.SlavePath + ",115200n81,local\n"
                  "  options:\n"
                  "    kickolduser: true\n");
    end.Output = folder.File("ser2net.out");
    end.Peer = std::make_unique<PeerProcess>(
        std::vector<std::string> {ser2net, "-n", "-u", "-c", folder.File("ser2net.yaml"), "-P", folder.File("ser2net.pid")},
        end.Output);
    end.Socket = false;
    LinkOptions options = TlsOptions({}, Files().Ca.Cert);
    options.Rfc2217 = true;
    link = console.Port->AddTcpClient("127.0.0.1", port, options).Link;
    RetrySoon(console, link);
    return true;
}

class TlsBulkTest : public ::testing::TestWithParam<BulkCase> {};

// Bytes both ways at once, exact, through TLS; the link shows its session.
TEST_P(TlsBulkTest, BytesAreExactBothWays)
{
    ASSERT_TRUE(Files().Made) << Files().Why;
    Console console;
    TempFolder folder;
    FarEnd end;
    CNetObject* link = nullptr;
    if (!GetParam().Start(console, link, end, folder))
        GTEST_SKIP() << GetParam().Missing;
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !Sessions(console, link).empty(); }, 20.0))
        << FileText(end.Output) << console.Locked([&] { return link->Figures().LastError.Text(); });
    const TlsSession session = Sessions(console, link).front();
    EXPECT_EQ(session.Version.rfind("TLSv1.", 0), 0u) << session.Version;
    EXPECT_FALSE(session.Cipher.empty());
    const int farFd = end.Socket ? end.Plain.Get() : end.Far.Master.Get();
    ASSERT_GE(farFd, 0) << FileText(end.Output);

    const auto out = Payload(GetParam().Size, 1), in = Payload(GetParam().Size, 2);
    std::thread writer([&] { console.Application->WriteAll(out, 120); });
    std::thread sender([&] { end.Socket ? SendAll(end.Plain, in, 120) : WriteAllTo(farFd, in, 120); });
    EXPECT_EQ(ReadUpTo(farFd, out.size(), 120, end.Socket), out);
    EXPECT_EQ(console.Application->ReadExactly(in.size(), 120), in);
    writer.join();
    sender.join();
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TlsBulkTest,
    ::testing::Values(BulkCase {"SocatClientOfServerLink", "", SocatAgainstServerLink, 4 << 20},
                      BulkCase {"SocatServerOfClientLink", "", SocatAgainstClientLink, 4 << 20},
                      BulkCase {"Ser2netTelnetOverTlsOfClientLinkWithBothMarks",
                                "ser2net (Debian's ser2net) is not installed", Ser2netAgainstClientLink, 1 << 20}),
    [](const auto& info) { return std::string(info.param.Name); });

using PairOf = const TlsFiles::Pair TlsFiles::*;

struct VerifyCase {
    const char* Name;
    PairOf Shown;        // the server's certificate
    PairOf Ca = nullptr; // the link's CA; none: the system's store
    PairOf Pin = nullptr;
    const char* Refusal = nullptr; // why the link refuses the server; "pin": the pin's own words
};

class TlsVerifyTest : public ::testing::TestWithParam<VerifyCase> {};

// A client link checks the server (openssl s_server) against its CA or the system's
// store, and the address it connects to; or, with a pin, against the pin alone. A
// server that fails gets none of the application's bytes, and the link says why.
TEST_P(TlsVerifyTest, TheServerIsTrustedOnlyAsTheLinkSays)
{
    ASSERT_TRUE(Files().Made) << Files().Why;
    const VerifyCase& row = GetParam();
    const TlsFiles::Pair& shown = Files().*row.Shown;
    TempFolder folder;
    const uint16_t port = FreePort();
    // s_server ends a session when its input ends: it reads a pipe the test keeps open.
    const std::string input = folder.File("input");
    ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
    const UniqueFd keepOpen(open(input.c_str(), O_RDWR | O_CLOEXEC));
    PeerProcess server({"sh", "-c",
                        "exec openssl s_server -quiet -accept 127.0.0.1:" + std::to_string(port) + " -cert " + shown.Cert
                            + " -key " + shown.Key + " < " + input},
                       folder.File("server.out"));
    Console console;
    const LinkOptions options =
        TlsOptions({}, row.Ca ? (Files().*row.Ca).Cert : std::string(), row.Pin ? (Files().*row.Pin).Pin : std::string());
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", port, options).Link;
    ASSERT_NE(link, nullptr);
    RetrySoon(console, link); // until s_server listens
    // Waits for a server the link trusts, as long as it takes.
    ASSERT_TRUE(console.Application->WriteAll({'p', 'i', 'n', 'g'}));
    if (!row.Refusal) {
        EXPECT_TRUE(WaitUntil([&] { return FileText(folder.File("server.out")).find("ping") != std::string::npos; }, 20))
            << console.Locked([&] { return link->Figures().LastError.Text(); });
        const auto sessions = Sessions(console, link);
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0].PeerFingerprint, shown.Pin);
        return;
    }
    const std::string why =
        std::string(row.Refusal) == "pin" ? "fingerprint " + shown.Pin + " is not the pinned one" : row.Refusal;
    EXPECT_TRUE(WaitUntil([&] { return console.Locked([&] { return link->Figures().LastError.Text(); }) == why; }, 20))
        << console.Locked([&] { return link->Figures().LastError.Text(); });
    EXPECT_TRUE(Sessions(console, link).empty());
    EXPECT_EQ(FileText(folder.File("server.out")).find("ping"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsVerifyTest,
    ::testing::Values(
        VerifyCase {"SignedByTheLinksCa", &TlsFiles::Server, &TlsFiles::Ca},
        VerifyCase {"SelfSignedAgainstTheSystemStore", &TlsFiles::Self, nullptr, nullptr,
                    "certificate verify failed: self-signed certificate"},
        VerifyCase {"SignedByAnotherCa", &TlsFiles::Server, &TlsFiles::OtherCa, nullptr,
                    "certificate verify failed: unable to get local issuer certificate"},
        VerifyCase {"AddressNotInTheCertificate", &TlsFiles::Client, &TlsFiles::Ca, nullptr,
                    "certificate verify failed: IP address mismatch"},
        VerifyCase {"PinnedSelfSignedDevice", &TlsFiles::Self, nullptr, &TlsFiles::Self},
        VerifyCase {"PinDecidesOverTheCa", &TlsFiles::Server, &TlsFiles::OtherCa, &TlsFiles::Server},
        VerifyCase {"WrongPinDespiteTheCa", &TlsFiles::Server, &TlsFiles::Ca, &TlsFiles::Self, "pin"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct MutualCase {
    const char* Name;
    bool Python;            // else openssl s_client
    PairOf Shown = nullptr; // the client's certificate; none: it shows none
    const char* Refusal = nullptr;
};

class MutualTlsTest : public ::testing::TestWithParam<MutualCase> {};

// A server link with a CA takes only clients with a certificate that CA signed; any
// other is closed before a byte of it reaches the application, and counted.
TEST_P(MutualTlsTest, OnlyClientsTheCaSignedReachTheApplication)
{
    ASSERT_TRUE(Files().Made) << Files().Why;
    const MutualCase& row = GetParam();
    TempFolder folder;
    Console console;
    const uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse,
                                                  TlsOptions(Files().Server, Files().Ca.Cert)).Link;
    ASSERT_NE(link, nullptr);
    std::vector<std::string> words;
    if (row.Python) {
        words = {PythonWithPyserial().empty() ? "python3" : PythonWithPyserial(), SupportScript("tls_peer.py"), "client",
                 std::to_string(port), "--ca", Files().Ca.Cert, "--send", "hello"};
        if (row.Shown)
            words.insert(words.end(), {"--cert", (Files().*row.Shown).Cert, "--key", (Files().*row.Shown).Key});
    } else {
        WriteFileText(folder.File("hello"), "hello");
        std::string command = "exec openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " -CAfile "
            + Files().Ca.Cert + " -quiet -ign_eof";
        if (row.Shown)
            command += " -cert " + (Files().*row.Shown).Cert + " -key " + (Files().*row.Shown).Key;
        words = {"sh", "-c", command + " < " + folder.File("hello")};
    }
    PeerProcess client(words, folder.File("client.out"));
    if (!row.Refusal) {
        const auto got = console.Application->ReadExactly(5, 20);
        EXPECT_EQ(std::string(got.begin(), got.end()), "hello") << FileText(folder.File("client.out"));
        const auto sessions = Sessions(console, link);
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0].PeerFingerprint, (Files().*row.Shown).Pin);
        EXPECT_NE(sessions[0].PeerSubject.find("CN=client"), std::string::npos) << sessions[0].PeerSubject;
        return;
    }
    EXPECT_TRUE(WaitUntil([&] { return console.Locked([&] { return link->Figures().Refused; }) == 1; }, 20))
        << FileText(folder.File("client.out"));
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastRefusedWhy; }), row.Refusal);
    EXPECT_TRUE(console.Application->ReadExactly(5, 0.5).empty());
    EXPECT_EQ(console.ClientCount(link), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Clients, MutualTlsTest,
    ::testing::Values(
        MutualCase {"SClientWithACertificateOfTheCa", false, &TlsFiles::Client},
        MutualCase {"SClientWithoutACertificate", false, nullptr, "TLS handshake failed: peer did not return a certificate"},
        MutualCase {"SClientWithACertificateOfAnotherCa", false, &TlsFiles::OtherClient,
                    "certificate verify failed: unable to get local issuer certificate"},
        MutualCase {"PythonWithACertificateOfTheCa", true, &TlsFiles::Client},
        MutualCase {"PythonWithoutACertificate", true, nullptr, "TLS handshake failed: peer did not return a certificate"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A client link whose server never answers its hello gives up after the handshake's
// limit and tries again, as after any failed connection.
TEST(TlsHandshakeTest, AClientLinkGivesUpOnASilentServerAndTriesAgain)
{
    Console console;
    UniqueFd listener = Listen();
    LinkOptions options = TlsOptions({});
    options.Limits.Handshake = 500;
    CNetObject* link = console.Port->AddTcpClient("127.0.0.1", LocalPort(listener), options).Link;
    ASSERT_NE(link, nullptr);
    RetrySoon(console, link);
    const UniqueFd first = AcceptWithin(listener);
    ASSERT_TRUE(first);
    EXPECT_FALSE(RecvExactly(first, 5).empty()) << "no hello";
    const UniqueFd second = AcceptWithin(listener, 10);
    EXPECT_TRUE(second);
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastError.Text(); }), "the TLS handshake took longer than 0.5 s");
}

// Whether the console closed the connection: its end reads the end, or a reset.
bool ClosedByConsole(const UniqueFd& socket)
{
    uint8_t byte;
    const ssize_t n = recv(socket.Get(), &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

// Peers that open a connection and never finish their handshake are closed after
// the handshake's limit, at most Limits.Handshakes at a time cost the console a
// connection (the rest wait in the system's queue), the pump rests meanwhile, and a
// client that is done with its handshake is served all along.
TEST(TlsHandshakeTest, StalledHandshakesAreClosedWhileOthersAreServed)
{
    ASSERT_TRUE(Files().Made) << Files().Why;
    Console console;
    TempFolder folder;
    LinkOptions options = TlsOptions(Files().Server);
    options.Limits.Handshake = 1500;
    options.Limits.Handshakes = 8;
    const uint16_t port = FreePort();
    CNetObject* link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, options).Link;
    ASSERT_NE(link, nullptr);
    FarEnd served;
    SocatClient(port, served, folder);
    ASSERT_TRUE(WaitUntil([&] { return Sessions(console, link).size() == 1; }, 20)) << FileText(served.Output);

    // Silent ones, and ones that stop inside their hello.
    std::vector<UniqueFd> stalled;
    for (int i = 0; i < 20; ++i) {
        stalled.push_back(ConnectTo(port));
        ASSERT_TRUE(stalled.back());
        if (i % 4 == 0) {
            ASSERT_TRUE(SendAll(stalled.back(), {0x16, 0x03, 0x01, 0x02, 0x00, 0x01, 0x00}));
        }
    }
    size_t most = 0;
    auto exchange = [&](uint32_t seed) {
        most = std::max(most, console.ClientCount(link));
        const auto out = Pattern(65536, seed), in = Pattern(65536, seed + 1);
        EXPECT_TRUE(console.Application->WriteAll(out));
        EXPECT_EQ(RecvExactly(served.Plain, out.size()), out);
        EXPECT_TRUE(SendAll(served.Plain, in));
        EXPECT_EQ(console.Application->ReadExactly(in.size()), in);
        most = std::max(most, console.ClientCount(link));
    };
    exchange(1);
    EXPECT_LT(PassesOver(*console.Manager, 0.5), 20u) << "the pump does not rest";
    exchange(3);
    EXPECT_LE(most, 1u + 8u);

    EXPECT_TRUE(WaitUntil([&] {
        return std::all_of(stalled.begin(), stalled.end(), [](const UniqueFd& fd) { return ClosedByConsole(fd); });
    }, 30));
    EXPECT_EQ(console.Locked([&] { return link->Figures().Refused; }), 20u);
    EXPECT_EQ(console.Locked([&] { return link->Figures().LastRefusedWhy; }), "the TLS handshake took longer than 1.5 s");
    EXPECT_EQ(console.ClientCount(link), 1u);
    exchange(5);
}

} // namespace

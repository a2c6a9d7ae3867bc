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

#define QLN_NEED_TLS_FILES()                                                                                           \
    if (!Files().Made)                                                                                                 \
    GTEST_FAIL() << "the test certificates: " << Files().Why

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

// The link's TLS sessions now.
std::vector<TlsSession> Sessions(Console& console, CNetObject* link)
{
    return console.Locked([&] { return link->TlsReport().Sessions; });
}

// The far end of a TLS link as the test holds it: a plain descriptor that a peer
// program turns into the link's TLS (a socket), or the far serial port of a device
// server (a pseudo-terminal).
struct FarEnd {
    std::unique_ptr<PeerProcess> Peer;
    UniqueFd Plain;
    FarPty Far;
    bool Socket = true;
    std::string Output;
};

struct BulkCase {
    const char* Name;
    const char* Missing;
    // Makes the link on `console` and its far end; false when the peer is missing.
    bool (*Start)(Console& console, CNetObject*& link, FarEnd& end, TempFolder& folder);
    size_t Size;
};

bool SocatAgainstServerLink(Console& console, CNetObject*& link, FarEnd& end, TempFolder& folder)
{
    const uint16_t port = FreePort(), plain = FreePort();
    link = console.Port->AddTcpServer(port, CPortObject::BindFailure::Refuse, nullptr, TlsOptions(Files().Server));
    end.Output = folder.File("socat.out");
    end.Peer = std::make_unique<PeerProcess>(
        std::vector<std::string> {"socat", "TCP-LISTEN:" + std::to_string(plain) + ",bind=127.0.0.1,reuseaddr",
                                  "OPENSSL:127.0.0.1:" + std::to_string(port) + ",cafile=" + Files().Ca.Cert},
        end.Output);
    WaitUntil([&] { return (end.Plain = ConnectTo(plain)).Valid(); });
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
    link = console.Port->AddTcpClient("127.0.0.1", port, options);
    console.Locked([&] { return link->ReconnectIntervalTime = 100; }); // until socat listens
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
    link = console.Port->AddTcpClient("127.0.0.1", port, options);
    console.Locked([&] { return link->ReconnectIntervalTime = 100; });
    return true;
}

class TlsBulkTest : public ::testing::TestWithParam<BulkCase> {};

// Bytes both ways at once, exact, through TLS; the link shows its session.
TEST_P(TlsBulkTest, BytesAreExactBothWays)
{
    QLN_NEED_TLS_FILES();
    Console console;
    TempFolder folder;
    FarEnd end;
    CNetObject* link = nullptr;
    if (!GetParam().Start(console, link, end, folder))
        GTEST_SKIP() << GetParam().Missing;
    ASSERT_NE(link, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !Sessions(console, link).empty(); }, 20.0))
        << FileText(end.Output) << console.Locked([&] { return link->LastError; });
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

} // namespace

// A server link under churn for a few seconds: clients that stay, and clients that
// connect, send, reset or leave and come back, while the application writes and
// reads. Nothing that was taken is lost or doubled, and afterwards the console
// holds no more descriptors or memory than before and rests.
#include <gtest/gtest.h>

#include <atomic>

#include "support/Console.h"
#include "support/ProcessStats.h"
#include "support/TlsFiles.h"

using namespace qlntest;

namespace {

constexpr int Stayers = 50;
constexpr int Churners = 150;
constexpr size_t StayerBytes = 64 << 10;
constexpr size_t ApplicationBytes = 1 << 20;
constexpr uint8_t ChurnerByte = 255; // no stayer's alphabet holds it

// Each stayer sends only bytes of its own alphabet (5 values of its own), so its
// stream can be picked out of what the application reads in whatever order
// the clients' bytes were interleaved.
std::vector<uint8_t> StayerStream(int stayer)
{
    auto digits = Pattern(StayerBytes, static_cast<uint32_t>(stayer) + 100);
    for (auto& b : digits)
        b = static_cast<uint8_t>(stayer * 5 + b % 5);
    return digits;
}

TEST(SoakTest, ServerLinkUnderChurnLosesNothingAndLeavesNothingBehind)
{
    if (HardOpenFileLimit() < 1024)
        GTEST_SKIP() << "the hard open-file limit (" << HardOpenFileLimit() << ") cannot hold both ends";
    Console console;
    uint16_t port = FreePort();
    CNetObject* server = console.Port->AddTcpServer(port).Link;
    // A TLS server link beside it takes every other churner, whose noise is no
    // handshake: each costs a session that fails and goes.
    const TlsFiles& files = TlsFiles::Get();
    ASSERT_TRUE(files.Made) << files.Why;
    LinkOptions tls;
    tls.Tls = {true, files.Server.Cert, files.Server.Key};
    const uint16_t tlsPort = FreePort();
    CNetObject* tlsServer = console.Port->AddTcpServer(tlsPort, CPortObject::BindFailure::Refuse, tls).Link;
    ASSERT_NE(tlsServer, nullptr);
    std::vector<std::vector<uint8_t>> streams;
    for (int i = 0; i < Stayers; ++i)
        streams.push_back(StayerStream(i));
    const auto fromApplication = Pattern(ApplicationBytes, 77);
    std::vector<uint8_t> buffer(1 << 16);
    const int descriptors = DescriptorCount();
    const long resident = ResidentKiB();

    std::vector<UniqueFd> stayers;
    for (int i = 0; i < Stayers; ++i)
        stayers.push_back(ConnectTo(port));
    ASSERT_TRUE(WaitUntil([&] { return console.ClientCount(server) == Stayers; }));

    std::atomic<bool> done {false};
    std::atomic<int> cycles {0};
    std::thread churn([&] {
        std::vector<UniqueFd> slots(Churners);
        const std::vector<uint8_t> noise(100, ChurnerByte);
        for (int turn = 0; !done; ++turn) {
            UniqueFd& fd = slots[static_cast<size_t>(turn % Churners)];
            if (fd) {
                linger reset {1, 0};
                if (turn % 2)
                    setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                fd.Reset();
                ++cycles;
            }
            // At most one new connection every other pass: the console accepts one
            // per pass, so its listener's queue stays short however slow the build.
            uint64_t passes = console.Manager->PassCount();
            WaitUntil([&] { return console.Manager->PassCount() >= passes + 2; }, 0.01);
            fd = ConnectTo(turn % 2 ? tlsPort : port);
            if (fd)
                send(fd.Get(), noise.data(), noise.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        }
    });

    // The application writes its bytes and checks, as they come, each stayer's bytes.
    std::vector<size_t> fromStayer(Stayers), toStayer(Stayers), sent(Stayers);
    size_t written = 0, misplaced = 0;
    auto allArrived = [&] {
        for (int i = 0; i < Stayers; ++i)
            if (fromStayer[i] < StayerBytes || toStayer[i] < ApplicationBytes)
                return false;
        return written == ApplicationBytes;
    };
    bool arrived = WaitUntil([&] {
        ssize_t n = write(console.Application->Fd.Get(), fromApplication.data() + written, std::min<size_t>(16384, ApplicationBytes - written));
        written += n > 0 ? static_cast<size_t>(n) : 0;
        while ((n = read(console.Application->Fd.Get(), buffer.data(), buffer.size())) > 0) {
            for (ssize_t k = 0; k < n; ++k) {
                uint8_t b = buffer[static_cast<size_t>(k)];
                if (b == ChurnerByte)
                    continue;
                size_t i = b / 5;
                if (i >= Stayers || fromStayer[i] >= StayerBytes || streams[i][fromStayer[i]++] != b)
                    ++misplaced;
            }
        }
        for (int i = 0; i < Stayers; ++i) {
            size_t piece = std::min<size_t>(512, StayerBytes - sent[i]);
            if (piece > 0 && (n = send(stayers[i].Get(), streams[i].data() + sent[i], piece, MSG_DONTWAIT | MSG_NOSIGNAL)) > 0)
                sent[i] += static_cast<size_t>(n);
            while ((n = recv(stayers[i].Get(), buffer.data(), buffer.size(), MSG_DONTWAIT)) > 0) {
                for (ssize_t k = 0; k < n; ++k)
                    if (toStayer[i] >= ApplicationBytes || fromApplication[toStayer[i]++] != buffer[static_cast<size_t>(k)])
                        ++misplaced;
            }
        }
        return allArrived() && cycles > 20 * Churners;
    }, 40);
    done = true;
    churn.join();
    EXPECT_TRUE(arrived) << "not every byte arrived; " << cycles << " churn cycles";
    EXPECT_EQ(misplaced, 0u) << "bytes lost, doubled or out of order";

    stayers.clear();
    EXPECT_TRUE(WaitUntil([&] { return console.ClientCount(server) == 0 && console.ClientCount(tlsServer) == 0; }, 30));
    EXPECT_GT(console.Locked([&] { return tlsServer->Figures().Refused; }), static_cast<uint64_t>(Churners));
    EXPECT_TRUE(WaitUntil([&] { return DescriptorCount() <= descriptors + 2; }, 10))
        << DescriptorCount() - descriptors << " descriptors more than before";
    if (ResidentSizeMeaningful) {
        EXPECT_LT(ResidentKiB(), resident + 8192) << "resident size grew";
    }
    EXPECT_TRUE(WaitUntil([&] { return PassesOver(*console.Manager, 1.0) < 10; }, 10)) << "the pump does not rest";
}

} // namespace

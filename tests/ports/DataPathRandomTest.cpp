// The randomised run of the data path on the in-process console, as the pump thread
// serves it (and so under every sanitizer).
#include <gtest/gtest.h>

#include "support/Console.h"
#include "support/DataPathRun.h"

using namespace qlntest;

namespace {

class InProcessHost : public DataPathHost {
public:
    explicit InProcessHost(const DataPathPorts& ports)
    {
        console.Application.reset();
        Server = console.Port->AddTcpServer(ports.Server).Link;
        Client = console.Port->AddTcpClient("127.0.0.1", ports.ClientPeer).Link;
        console.Locked([&] { return Client->SetReconnectInterval(50); });
        Udp = console.Port->AddUdp(ports.UdpLocal, "127.0.0.1", ports.UdpPeer).Link;
    }
    bool Ready() const { return Server && Client && Udp; }

    std::string PortPath() override { return PortDriver::Instance().LinkPath(4); }
    size_t PortQueued() override { return console.Port->ToNetQueued(); }
    size_t ClientBacklog() override { return console.Locked([&] { return Client->BacklogBytes(); }); }
    uint64_t ClientDropped() override { return console.Locked([&] { return Client->BacklogDropped(); }); }
    size_t ServerClients() override { return console.ClientCount(Server); }

private:
    Console console;
    CNetObject* Server = nullptr;
    CNetObject* Client = nullptr;
    CNetObject* Udp = nullptr;
};

TEST(DataPathRandomTest, EveryPeerGetsEachSessionWholeAndTheApplicationEveryPeersBytes)
{
    DataPathRun run(12);
    InProcessHost host(run.Ports);
    ASSERT_TRUE(host.Ready());
    EXPECT_GT(run.Run(host), 0);
}

} // namespace

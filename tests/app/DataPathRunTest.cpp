// The randomised run of the data path through the real executable: a short run, with
// the console's figures read through `quillonctl status --json`.
#include <gtest/gtest.h>

#include "ConsoleProcess.h"
#include "HeadlessFixture.h"
#include "support/DataPathRun.h"

using namespace qlntest;
using qlnapp::ConsoleProcess;
using qlnapp::Headless;

namespace {

// The headless console as the run's host: each figure is read afresh from
// `quillonctl status --json` (a figure read before the last chunk left would be out
// of date).
class HeadlessDataPath : public Headless, public DataPathHost {
public:
    std::string PortPath() override { return Path; }
    size_t PortQueued() override { return Number("ports.0.queuedToNet"); }
    size_t ClientBacklog() override { return Number("ports.0.links.1.backlog"); }
    uint64_t ClientDropped() override { return Number("ports.0.links.1.backlogDropped"); }
    size_t ServerClients() override
    {
        const auto fields = Status();
        size_t count = 0;
        while (fields.count("ports.0.links.0.clients." + std::to_string(count)))
            ++count;
        return count;
    }

protected:
    uint64_t Number(const std::string& key)
    {
        const auto fields = Status();
        const auto found = fields.find(key);
        return found == fields.end() ? ~0ull : std::stoull(found->second);
    }

    std::string Path;
};

TEST_F(HeadlessDataPath, ARandomisedRunThroughTheExecutableLosesAndDoublesNothing)
{
    DataPathRun run(6);
    const std::unique_ptr<ConsoleProcess> console = Launch();
    ASSERT_TRUE(WaitUntil([&] { return Running(); }, 30)) << Output();
    const std::string com = "COM" + std::to_string(AddPort(Path));
    Do({"link", "add", com, "tcp-server", std::to_string(run.Ports.Server)});
    Do({"link", "add", com, "tcp-client", "127.0.0.1:" + std::to_string(run.Ports.ClientPeer), "--interval", "50"});
    Do({"link", "add", com, "udp", std::to_string(run.Ports.UdpLocal), "127.0.0.1:" + std::to_string(run.Ports.UdpPeer)});
    EXPECT_GT(run.Run(*this), 0) << Output().substr(0, 20000);
}

} // namespace

// Paced traffic on many ports, and one port's paced broadcast to many clients: the
// cost per message as ports and clients grow.
#include "Cases.h"
#include "PacedTraffic.h"

#include <map>

namespace bench {

namespace {

// Stream pattern offsets apart enough that bytes of one stream never pass for
// another's.
constexpr uint64_t StreamSpacing = 7919;

// The work of both families: the streams a bridge carries, paced for the window.
// Events are deliveries: one message received by one reader.
Work PacedWork(const Options& options, std::function<std::vector<Stream>(Bridge&)> streamsOf)
{
    return [&options, streamsOf](Bridge& bridge, bool counting) {
        std::vector<Stream> streams = streamsOf(bridge);
        Reading from = bridge.Read();
        PacedTotals totals = RunPaced(streams, counting ? options.CountSeconds : options.PacedSeconds, bridge.Name);
        Sample sample = Sample::Between(from, bridge.Read());
        sample.Events = totals.Deliveries;
        sample.Bytes = totals.Bytes;
        sample.OnTime = totals.OnTime;
        return std::vector<Sample> {sample};
    };
}

double NsPerByte(const Sample& s)
{
    return 1e9 * s.Cpu / s.Bytes;
}

} // namespace

void PacedCase(const Options& options, Report& report)
{
    std::map<int, Contest> byPorts;
    for (int ports : options.PacedPorts) {
        ContestPlan plan;
        plan.Label = "paced, " + std::to_string(ports) + " port(s)";
        plan.Console = plan.Socat = Layout::Uniform(ports, PortLayout {.TcpClient = true});
        // Each port carries a stream each way: application to peer, peer to application.
        plan.Measure = PacedWork(options, [](Bridge& bridge) {
            std::vector<Stream> streams;
            for (auto& ends : bridge.Ports) {
                uint64_t base = streams.size() * StreamSpacing;
                streams.push_back({ends.App.Get(), {ends.Peer.Get()}, base});
                streams.push_back({ends.Peer.Get(), {ends.App.Get()}, base + StreamSpacing});
            }
            return streams;
        });
        Contest contest = RunContest(options, plan);
        std::string job = std::to_string(ports) + (ports == 1 ? " port" : " ports") + " paced, 64 B / 10 ms each way";
        MedianRow(report, job, "CPU % of a core", contest, true, 0, CpuPercent, 2);
        MedianRow(report, job, "pump passes/s", contest, false, 0, PassesPerSecond, 0);
        CallsRow(report, job, "system calls per message", contest, true, 2);
        MedianRow(report, job, "peak resident MiB", contest, true, 0, PeakMiB, 1);
        MedianRow(report, job, "% of the benchmark's turns on time", contest, true, 0, OnTimePercent, 1);
        TopCallsNote(report, job, contest);
        byPorts[ports] = contest;
    }
    if (byPorts.size() < 2)
        return;
    auto least = byPorts.begin(), most = std::prev(byPorts.end());
    const std::string n = std::to_string(most->first);
    report.Target(n + " paced ports: CPU at most socat's (console/socat)",
                  Ratio(most->second.Console.Median(0, CpuPercent), most->second.Socat.Median(0, CpuPercent)),
                  most->second.Console.Median(0, CpuPercent) <= most->second.Socat.Median(0, CpuPercent));
    double flat = Ratio(most->second.Console.CallsPerEvent(), least->second.Console.CallsPerEvent());
    report.Target("calls per message from " + std::to_string(least->first) + " to " + n
                      + " paced ports within 1.5x (ratio)",
                  flat, flat <= 1.5);
}

void BroadcastCase(const Options& options, Report& report)
{
    std::map<int, Contest> byClients;
    for (int clients : options.Clients) {
        ContestPlan plan;
        plan.Label = "broadcast, " + std::to_string(clients) + " client(s)";
        plan.Console = Layout::Uniform(1, PortLayout {.ServerClients = clients});
        // A listening socat serves one client: the same job only for one.
        if (clients == 1)
            plan.Socat = plan.Console;
        plan.Measure = PacedWork(options, [](Bridge& bridge) {
            Stream stream {bridge.Ports[0].App.Get(), {}, 0};
            for (auto& client : bridge.Ports[0].Clients)
                stream.Readers.push_back(client.Get());
            return std::vector<Stream> {stream};
        });
        Contest contest = RunContest(options, plan);
        std::string job = "1 server link, " + std::to_string(clients) + (clients == 1 ? " client" : " clients")
                        + ", paced broadcast";
        const bool socat = clients == 1;
        MedianRow(report, job, "CPU % of a core", contest, socat, 0, CpuPercent, 2);
        MedianRow(report, job, "CPU ns per delivered byte", contest, socat, 0, NsPerByte, 1);
        MedianRow(report, job, "pump passes/s", contest, false, 0, PassesPerSecond, 0);
        CallsRow(report, job, "system calls per delivered message", contest, socat, 2);
        MedianRow(report, job, "% of the benchmark's turns on time", contest, socat, 0, OnTimePercent, 1);
        TopCallsNote(report, job, contest);
        byClients[clients] = contest;
    }
    report.Note("broadcast: socat's TCP-LISTEN serves one client, so it stands in for one client only");
    if (byClients.size() < 2)
        return;
    auto most = std::prev(byClients.end()), next = std::prev(most);
    double flat = Ratio(most->second.Console.Median(0, NsPerByte), next->second.Console.Median(0, NsPerByte));
    report.Target("CPU per delivered byte from " + std::to_string(next->first) + " to "
                      + std::to_string(most->first) + " clients within 1.5x (ratio)",
                  flat, flat <= 1.5);
}

} // namespace bench

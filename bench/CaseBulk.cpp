// One port and one TCP peer: bulk transfers both ways (beside a trivial relay), the
// one-byte round trip, and bulk with the traffic log on.
#include "Cases.h"
#include "Relay.h"

#include <map>

namespace bench {

namespace {

constexpr uint64_t CountBytes = 16ull << 20; // the counters slow the counting pass down
constexpr int CountTrips = 500;
constexpr size_t ToNet = 0, ToApp = 1;       // the measures of a bulk sample

const Layout OnePort = Layout::Uniform(1, PortLayout {.TcpClient = true});

// Bulk both ways on a live bridge; `after` runs once the bytes are all through.
// Events are MiB moved.
Work BulkWork(const Options& options, std::function<void(Bridge&, uint64_t bytes)> after = {})
{
    return [&options, after](Bridge& bridge, bool counting) {
        const uint64_t bytes = counting ? std::min(options.Bytes, CountBytes) : options.Bytes;
        int app = bridge.Ports[0].App.Get(), peer = bridge.Ports[0].Peer.Get();
        Exchange(app, peer, bridge.Name);
        Reading start = bridge.Read();
        Transfer(bridge.Name + ", application to network", app, peer, bytes);
        Reading middle = bridge.Read();
        Transfer(bridge.Name + ", network to application", peer, app, bytes);
        std::vector<Sample> samples {Sample::Between(start, middle), Sample::Between(middle, bridge.Read())};
        for (auto& sample : samples) {
            sample.Bytes = static_cast<double>(bytes);
            sample.Events = sample.Bytes / (1 << 20);
        }
        if (after)
            after(bridge, bytes);
        return samples;
    };
}

uint64_t LogBytes()
{
    uint64_t sum = 0;
    std::error_code error;
    for (auto& entry : std::filesystem::directory_iterator(LogFolder(), error))
        sum += entry.file_size(error);
    return sum;
}

void BulkRows(Report& report, const std::string& job, const Contest& contest, int decimals)
{
    MedianRow(report, job, "application->network MB/s", contest, true, ToNet, MegabytesPerSecond, decimals);
    MedianRow(report, job, "network->application MB/s", contest, true, ToApp, MegabytesPerSecond, decimals);
    MedianRow(report, job, "CPU ms per MB application->network", contest, true, ToNet, CpuMsPerMB, 2);
    MedianRow(report, job, "CPU ms per MB network->application", contest, true, ToApp, CpuMsPerMB, 2);
    MedianRow(report, job, "pump passes per MB application->network", contest, false, ToNet, PassesPerMB, 0);
    MedianRow(report, job, "pump passes per MB network->application", contest, false, ToApp, PassesPerMB, 0);
    MedianRow(report, job, "peak resident MiB", contest, true, ToApp, PeakMiB, 1);
}

} // namespace

void RoundTripCase(const Options& options, Report& report)
{
    ContestPlan plan;
    plan.Label = "1-byte round trips";
    plan.Console = plan.Socat = OnePort;
    // Events are the timed round trips; the counting pass has no warm-up.
    plan.Measure = [&options](Bridge& bridge, bool counting) {
        int app = bridge.Ports[0].App.Get(), peer = bridge.Ports[0].Peer.Get();
        Exchange(app, peer, bridge.Name);
        int trips = counting ? std::min(options.Trips, CountTrips) : options.Trips;
        Reading from = bridge.Read();
        std::vector<double> micros = RoundTrips(app, peer, counting ? 0 : options.WarmUp, trips);
        Sample sample = Sample::Between(from, bridge.Read());
        sample.Micros = std::move(micros);
        sample.Events = trips;
        return std::vector<Sample> {sample};
    };
    Contest contest = RunContest(options, plan);
    const std::string job = "1-byte round trip, application -> peer -> application";
    std::vector<double> console = contest.Console.Pooled(0), socat = contest.Socat.Pooled(0);
    report.Row(job, "p50 us", Percentile(console, 0.5), Percentile(socat, 0.5), 1);
    report.Row(job, "p99 us", Percentile(console, 0.99), Percentile(socat, 0.99), 1);
    CallsRow(report, job, "system calls per round trip", contest, true, 1);
    TopCallsNote(report, job, contest);
    double calls = contest.Console.CallsPerEvent();
    report.Target("round trip: at most 12 system calls", calls, calls <= 12, 1);
    double p50 = Ratio(Percentile(console, 0.5), Percentile(socat, 0.5));
    report.Target("round trip: p50 at most socat's (console/socat)", p50, p50 <= 1);
}

void BulkCase(const Options& options, Report& report)
{
    std::vector<double> relayToNet, relayToApp;
    ContestPlan plan;
    plan.Label = "bulk, " + std::to_string(options.Bytes >> 20) + " MiB each way";
    plan.Console = plan.Socat = OnePort;
    plan.Measure = BulkWork(options);
    plan.EachRound = [&](int) {
        auto [toNet, toApp] = RelayedThroughput(options.Bytes);
        relayToNet.push_back(toNet);
        relayToApp.push_back(toApp);
    };
    Contest contest = RunContest(options, plan);
    const std::string job = "1 port bulk, " + std::to_string(options.Bytes >> 20) + " MiB each way";
    BulkRows(report, job, contest, 1);
    const double relay[2] = {Median(relayToNet), Median(relayToApp)};
    const char* ways[2] = {"application->network", "network->application"};
    for (size_t way : {ToNet, ToApp})
        report.Row(job, std::string("share of the trivial relay, ") + ways[way],
                   contest.Console.Median(way, MegabytesPerSecond) / relay[way],
                   contest.Socat.Median(way, MegabytesPerSecond) / relay[way], 2);
    CallsRow(report, job, "system calls per MiB (both ways)", contest, true, 0);
    TopCallsNote(report, job, contest);
    report.Note("bulk: the trivial relay (one process moving a pty master and a TCP socket with poll and 64 KiB "
                "reads, the same transfers) made " + Num(relay[ToNet], 1) + " MB/s application->network, "
                + Num(relay[ToApp], 1) + " MB/s network->application");
    for (size_t way : {ToNet, ToApp}) {
        double console = contest.Console.Median(way, MegabytesPerSecond);
        double vsSocat = Ratio(console, contest.Socat.Median(way, MegabytesPerSecond));
        report.Target(std::string("bulk ") + ways[way] + ": at least 1.1x socat (console/socat)", vsSocat,
                      vsSocat >= 1.1);
        report.Target(std::string("bulk ") + ways[way] + ": at least 0.75x the pty pair moved by a trivial relay",
                      console / relay[way], console / relay[way] >= 0.75);
    }
}

void LogCase(const Options& options, Report& report)
{
    ContestPlan off;
    off.Label = "bulk, log off";
    off.Console = off.Socat = OnePort;
    off.Measure = BulkWork(options);
    ContestPlan on = off;
    on.Label = "bulk, raw log on";
    on.Console->Log = on.Socat->Log = true;
    // What the log files hold once the bytes are through, against what was moved
    // (the path checks' bytes included); the files go before the next bridge.
    std::map<std::string, std::vector<std::pair<uint64_t, uint64_t>>> logged;
    on.Measure = BulkWork(options, [&logged](Bridge& bridge, uint64_t bytes) {
        const uint64_t moved = 2 * bytes + 4;
        auto end = Clock::now() + std::chrono::seconds(1); // the last record may still be on its way
        while (LogBytes() < moved && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        logged[bridge.Name].emplace_back(LogBytes(), moved);
        std::error_code error;
        for (auto& entry : std::filesystem::directory_iterator(LogFolder(), error))
            std::filesystem::remove(entry.path(), error);
    });
    std::vector<Contest> contests = RunContests(options, {off, on});
    const Contest &without = contests[0], &with = contests[1];
    const std::string job = "1 port bulk, raw traffic log on";
    BulkRows(report, job, with, 1);
    const char* ways[2] = {"application->network", "network->application"};
    double worstSpeed = INFINITY, worstCpu = 0;
    for (size_t way : {ToNet, ToApp}) {
        auto share = [&](Who who, double (*figure)(const Sample&)) {
            return Ratio(with.Of(who).Median(way, figure), without.Of(who).Median(way, figure));
        };
        double speed = share(Who::Console, MegabytesPerSecond), cpu = share(Who::Console, CpuMsPerMB);
        report.Row(job, std::string("log on/off throughput, ") + ways[way], speed, share(Who::Socat, MegabytesPerSecond), 2);
        report.Row(job, std::string("log on/off CPU per MB, ") + ways[way], cpu, share(Who::Socat, CpuMsPerMB), 2);
        worstSpeed = std::min(worstSpeed, speed);
        worstCpu = std::max(worstCpu, cpu);
    }
    for (auto& [who, rounds] : logged)
        for (auto& [held, moved] : rounds)
            if (held < moved)
                report.Note("log: a " + who + " log held " + std::to_string(held) + " bytes of "
                            + std::to_string(moved) + " moved");
    report.Note("log: the console writes one raw file of I:/O: records; socat's -r/-R write one raw file each way");
    report.Target("raw log on: at least 0.9x log-off throughput (worse way)", worstSpeed, worstSpeed >= 0.9);
    report.Target("raw log on: CPU per MB at most 1.2x log-off (worse way)", worstCpu, worstCpu <= 1.2);
}

} // namespace bench

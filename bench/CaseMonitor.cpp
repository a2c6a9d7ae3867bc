// One port and one TCP peer, bulk both ways with a traffic monitor on the port against
// the same without one: one that never takes its records (its queue full, every
// further record only counted), and one that takes them every 10 ms. The console
// only; the three layouts take turns.
#include "Cases.h"

#include "BulkThrough.h"

namespace bench {

void MonitorCase(const Options& options, Report& report)
{
    if (!options.Console)
        return;
    const MonitorKind kinds[3] = {MonitorKind::None, MonitorKind::Stalled, MonitorKind::Draining};
    const char* names[3] = {"no monitor", "stalled monitor", "draining monitor"};
    std::vector<double> speed[3][2], cpu[3][2]; // [kind][way]
    for (int round = 0; round < options.Rounds; ++round) {
        for (size_t kind = 0; kind < 3; ++kind) {
            // Turns rotate, so that no kind always runs first in a round.
            const size_t at = (kind + static_cast<size_t>(round)) % 3;
            Layout layout = Layout::Uniform(1, PortLayout {.TcpClient = true});
            layout.Monitor = kinds[at];
            const auto ways = BulkThrough(options, layout);
            for (size_t way : {0, 1}) {
                speed[at][way].push_back(ways[way].MBps);
                cpu[at][way].push_back(ways[way].CpuMsPerMB);
            }
        }
    }
    const std::string job = "1 port bulk with a traffic monitor, " + std::to_string(options.Bytes >> 20)
                          + " MiB each way";
    const char* ways[2] = {"application->network", "network->application"};
    double worstStalled = INFINITY;
    for (size_t way : {0, 1}) {
        const double plain = Median(speed[0][way]);
        for (size_t kind = 0; kind < 3; ++kind)
            report.Row(job, std::string(names[kind]) + " MB/s, " + ways[way], Median(speed[kind][way]), std::nullopt, 1);
        for (size_t kind : {1, 2}) {
            report.Row(job, std::string(names[kind]) + "/none throughput, " + ways[way],
                       Ratio(Median(speed[kind][way]), plain), std::nullopt, 2);
            report.Row(job, std::string(names[kind]) + "/none console CPU per MB, " + ways[way],
                       Ratio(Median(cpu[kind][way]), Median(cpu[0][way])), std::nullopt, 2);
        }
        worstStalled = std::min(worstStalled, Ratio(Median(speed[1][way]), plain));
    }
    report.Note("monitor: the monitors are the console's own taps on the port (4 MiB queues); the stalled one is "
                "never taken from, the draining one is emptied every 10 ms under the manager lock");
    report.Target("stalled monitor: at least 0.95x the throughput without one (worse way)", worstStalled,
                  worstStalled >= 0.95);
}

} // namespace bench

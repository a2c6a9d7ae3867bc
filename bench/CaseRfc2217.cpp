// One port and one TCP peer, bulk both ways through a TCP client link with line
// control (RFC 2217) against the same through a raw one: what escaping 0xFF and
// taking Telnet commands out cost. The console only; the two layouts take turns.
#include "Cases.h"

#include "BulkThrough.h"

namespace bench {

void Rfc2217Case(const Options& options, Report& report)
{
    if (!options.Console)
        return;
    const Layout raw = Layout::Uniform(1, PortLayout {.TcpClient = true});
    const Layout telnet = Layout::Uniform(1, PortLayout {.TcpClient = true, .Rfc2217 = true});
    std::vector<double> speed[2][2], cpu[2][2]; // [raw, telnet][way]
    for (int round = 0; round < options.Rounds; ++round) {
        for (size_t kind : {0, 1}) {
            const auto ways = BulkThrough(options, kind ? telnet : raw);
            for (size_t way : {0, 1}) {
                speed[kind][way].push_back(ways[way].MBps);
                cpu[kind][way].push_back(ways[way].CpuMsPerMB);
            }
        }
    }
    const std::string job = "1 port bulk, TCP client link with RFC 2217 (0xFF doubled) vs raw, "
                          + std::to_string(options.Bytes >> 20) + " MiB each way";
    const char* ways[2] = {"application->network", "network->application"};
    double worst = INFINITY;
    for (size_t way : {0, 1}) {
        const double plain = Median(speed[0][way]), lined = Median(speed[1][way]);
        report.Row(job, std::string("raw link MB/s, ") + ways[way], plain, std::nullopt, 1);
        report.Row(job, std::string("RFC 2217 link MB/s, ") + ways[way], lined, std::nullopt, 1);
        report.Row(job, std::string("RFC 2217/raw throughput, ") + ways[way], Ratio(lined, plain), std::nullopt, 2);
        report.Row(job, std::string("RFC 2217/raw console CPU per MB, ") + ways[way],
                   Ratio(Median(cpu[1][way]), Median(cpu[0][way])), std::nullopt, 2);
        worst = std::min(worst, Ratio(lined, plain));
    }
    report.Note("rfc2217: the peer is a Telnet end of the benchmark's that agrees to no option; it doubles 0xFF "
                "and sends a CR as CR NUL (NVT) in what it sends, and takes commands out of what it reads, in its "
                "own time");
    report.Target("RFC 2217 link: at least 0.8x a raw link's throughput (worse way)", worst, worst >= 0.8);
}

} // namespace bench

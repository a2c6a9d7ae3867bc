// Ports with live links and nothing to carry: what waiting costs.
#include "Cases.h"

namespace bench {

namespace {

// Lets what the path checks stirred up settle, then measures. Events are seconds.
Work IdleWork(const Options& options)
{
    return [&options](Bridge& bridge, bool) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        Reading from = bridge.Read();
        std::this_thread::sleep_for(std::chrono::duration<double>(options.IdleSeconds));
        Sample sample = Sample::Between(from, bridge.Read());
        sample.Events = sample.Seconds;
        return std::vector<Sample> {sample};
    };
}

} // namespace

void IdleCase(const Options& options, Report& report)
{
    const PortLayout threeLinks {.TcpClient = true, .ServerClients = 1, .Udp = true};
    const std::string ports = std::to_string(options.IdlePorts) + " ports";
    ContestPlan open;
    open.Label = "idle, " + ports + " x 3 links, window open";
    open.Console = Layout::Uniform(options.IdlePorts, threeLinks);
    open.Console->WindowOpen = true;
    // socat serves one link per port: its nearest job is one TCP link on each.
    open.Socat = Layout::Uniform(options.IdlePorts, PortLayout {.TcpClient = true});
    open.Measure = IdleWork(options);
    ContestPlan headless = open;
    headless.Label = "idle, " + ports + " x 3 links, no window";
    headless.Console->WindowOpen = false;
    headless.Socat.reset(); // its figures are the same as above
    std::vector<Contest> contests = RunContests(options, {open, headless});
    Contest &withWindow = contests[0], &noWindow = contests[1];
    noWindow.Socat = withWindow.Socat;

    for (auto* contest : {&withWindow, &noWindow}) {
        std::string job = "idle, " + ports + " x 3 links (TCP server with a client, TCP client, UDP), "
                        + (contest == &withWindow ? "window open" : "no window");
        MedianRow(report, job, "CPU % of a core", *contest, true, 0, CpuPercent, 4);
        MedianRow(report, job, "pump passes/s", *contest, false, 0, PassesPerSecond, 1);
        CallsRow(report, job, "system calls/s", *contest, true, 1);
    }
    report.Note("idle: socat's figures are " + std::to_string(options.IdlePorts)
                + " socat processes with one TCP link each; the window open means a 200 ms timer taking the"
                  " manager lock, as the console's window does");
    double passes = withWindow.Console.Median(0, PassesPerSecond);
    report.Target("idle, window open: no pump wake-ups (passes/s)", passes, passes == 0, 1);
    double cpu = withWindow.Console.Median(0, CpuPercent);
    report.Target("idle, window open: under 0.02 % of a core (%)", cpu, cpu < 0.02, 4);
}

} // namespace bench

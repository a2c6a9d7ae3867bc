// The console against socat, doing the same jobs on pseudo-terminal ports bridged to
// peers on 127.0.0.1: many paced ports, one server link broadcasting to many
// clients, a slow TCP reader, idle ports, the one-byte round trip, bulk throughput
// (beside a trivial relay doing the least any bridge must) and bulk with the traffic
// log on. Each contestant runs as whole processes: the console as a host process of
// its own (this program started again with --console-host), socat as one process
// per port. The application side and the network peers are the same code for both:
// non-blocking descriptors, every byte checked.
//
// Figures: CPU share of the contestant's processes over a case's timed window, from
// /proc; throughput; round trip percentiles; the console's pump passes; and, in a
// separate pass under perf or strace, system calls per event. Contestants take turns
// round by round. One table at the end, with the targets the console is judged by.
//
// Exit code 0 whatever the figures; 2 when the benchmark itself broke (a byte
// corrupted or lost, a peer that never came, a wait that ran out), 3 when the whole
// run outlasted its watchdog.
#include <cstring>

#include "BenchOptions.h"
#include "BenchSupport.h"
#include "Cases.h"
#include "ConsoleHost.h"
#include "Relay.h"

using namespace bench;

namespace {

std::string ProgramVersion(const std::string& path, const char* flag, const char* marker)
{
    std::string out;
    std::string command = "'" + path + "' " + flag + " 2>&1";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            if (out.empty() && std::strstr(line, marker))
                out = std::string(line).substr(0, std::strcspn(line, "\n"));
        pclose(pipe);
    }
    return out.empty() ? path : out;
}

void MakePrivateFolders()
{
    char pattern[] = "/tmp/qlnbench.XXXXXX";
    if (!mkdtemp(pattern))
        Fail(ErrnoText("mkdtemp"));
    TempRoot = pattern;
    for (const char* sub : {"/home", "/state", "/config", "/runtime"})
        std::filesystem::create_directories(TempRoot + sub);
    chmod((TempRoot + "/runtime").c_str(), 0700);
    // The console hosts inherit these: their state and links stay in the folder.
    setenv("HOME", (TempRoot + "/home").c_str(), 1);
    setenv("XDG_STATE_HOME", (TempRoot + "/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (TempRoot + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (TempRoot + "/runtime").c_str(), 1);
}

// A generous bound on the whole run: each contest's bridges, windows and counting
// passes, several times over.
unsigned WatchdogSeconds(const Options& o)
{
    double passes = o.Rounds + 1;
    double windows = static_cast<double>(o.PacedPorts.size() + o.Clients.size() + 1) * (o.PacedSeconds + 1)
                   + 2 * (o.IdleSeconds + 1) + 3.0 * static_cast<double>(o.Bytes >> 20) / 10
                   + o.Trips / 2000.0;
    return static_cast<unsigned>(300 + 6 * passes * windows);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--console-host") == 0)
        ConsoleHostMain(argc - 2, argv + 2);
    if (argc > 1 && std::strcmp(argv[1], "--relay") == 0)
        RelayMain();

    Options options = ParseOptions(argc, argv);
    MakePrivateFolders();
    RaiseDescriptorLimit();
    ArmWatchdog(WatchdogSeconds(options));
    options.Socat = FindProgram(options.Socat);
    options.Counter = ChooseCounter(options.CounterWanted, options.Strace);

    std::printf("bridge_bench: Quillon Console vs socat, pseudo-terminal ports bridged to peers on 127.0.0.1\n");
    std::printf("  console: a host process running the console core (this program, --console-host)\n");
    if (options.Socat.empty())
        std::printf("  socat:   NOT FOUND (apt-get install socat); its figures are n/a\n");
    else
        std::printf("  socat:   %s; one process per port, e.g. socat PTY,link=<tmp>/socatCOM<n>,raw,echo=0 "
                    "TCP:127.0.0.1:<port>\n", ProgramVersion(options.Socat, "-V", "socat version").c_str());
    std::printf("  system calls: %s\n", options.Counter.Type == CounterTool::None
                                            ? "not counted (no counter)"
                                            : ("counted in a separate pass under " + options.Counter.Name()).c_str());
    std::printf("  %d round(s); %.0f MiB bulk each way; %d round trips after %d warm-up; paced windows %.1f s;"
                " idle %.1f s\n", options.Rounds, static_cast<double>(options.Bytes) / (1 << 20), options.Trips,
                options.WarmUp, options.PacedSeconds, options.IdleSeconds);
    std::printf("  %ld cores; load average at start %s\n", sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    std::fflush(stdout);

    using CaseFunction = void (*)(const Options&, Report&);
    const std::pair<const char*, CaseFunction> cases[] = {
        {"paced", PacedCase}, {"broadcast", BroadcastCase}, {"slow", SlowReaderCase}, {"idle", IdleCase},
        {"roundtrip", RoundTripCase}, {"bulk", BulkCase}, {"log", LogCase},
        {"rfc2217", Rfc2217Case}, {"tls", TlsCase}, {"monitor", MonitorCase}};
    Report report;
    for (auto [name, run] : cases)
        if (options.Wants(name))
            run(options, report);
    report.Print(options);

    ReapChildren();
    RemoveTempRoot();
    std::fflush(stdout);
    _exit(0);
}

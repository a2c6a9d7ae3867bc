// The console core against socat, doing the same job: one pseudo-terminal port
// bridged to one TCP peer on 127.0.0.1. Measures throughput both ways, the round
// trip of one byte, and the CPU an idle console spends; prints each figure, the
// ratio console/socat and whether the console meets its targets.
//
// The console runs in this process (its own manager and pump thread on a private
// state folder); its port has a TCP client link to a listener of the benchmark. socat
// runs as a child, "socat PTY,link=<tmp>/socatCOM,raw,echo=0 TCP:127.0.0.1:<port>",
// connecting to a listener of the benchmark in the same way. The application side and
// the network peer are the same code for both: non-blocking descriptors and poll().
//
// Exit code 0 whatever the figures; 2 when the benchmark itself broke (a byte
// corrupted or lost, a peer that never came, a wait that ran out), 3 when the whole
// run outlasted its watchdog.
#include <cmath>
#include <functional>
#include <memory>

#include "BenchSupport.h"
#include "BridgeMeasures.h"
#include "platform/pty/PortDriver.h"
#include "ports/QLNManager.h"

using namespace bench;

namespace {

// ---- the console ---------------------------------------------------------------

// A console core on the given COM numbers, on the private state folder. The ports
// and their pseudo-terminals go with it.
class ConsoleCore {
public:
    explicit ConsoleCore(const std::vector<int>& numbers)
    {
        Manager = std::make_unique<CQLNManager>(nullptr, "");
        if (Manager->StartOnPorts(numbers) != 1)
            Fail("the console core did not start on its ports");
        CQLNManager::PortList list;
        Manager->CopyPorts(&list);
        Ports.assign(list.begin(), list.end());
        if (Ports.size() != numbers.size())
            Fail("the console core has not every port it was given");
    }
    ~ConsoleCore()
    {
        Manager.reset();
        PortDriver::Instance().DetachAll();
    }
    template <typename F>
    auto Locked(F f)
    {
        CGuard guard(Manager->Lock());
        return f();
    }
    // Waits, under the lock each time, until `condition` holds, or Fail.
    template <typename F>
    void WaitFor(F condition, const std::string& what)
    {
        auto end = Clock::now() + std::chrono::seconds(10);
        while (!Locked(condition)) {
            if (Clock::now() > end)
                Fail("the console: " + what + " within 10 s");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    // Waits until the console lists `port` among those an application holds. Asking
    // takes the manager lock, and letting it go wakes the pump, as the window's refresh
    // timer does: a pump that missed the application's open (it can, while it collects
    // the waits of several ports) then sees it all the same.
    void WaitForApplication(CPortObject* port, const std::string& what)
    {
        auto end = Clock::now() + std::chrono::seconds(10);
        for (;;) {
            CQLNManager::PortList held;
            Manager->CollectOpenedPorts(&held);
            if (std::find(held.begin(), held.end(), port) != held.end())
                return;
            if (Clock::now() > end)
                Fail("the console: " + what + ": the application's open not seen within 10 s");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::unique_ptr<CQLNManager> Manager;
    std::vector<CPortObject*> Ports;
};

void RunConsoleBridge(const Options& options, BridgeFigures& figures)
{
    const int number = 7;
    ConsoleCore console({number});
    Fd listener = Listen();
    CNetObject* link = console.Ports[0]->AddTcpClient("127.0.0.1", LocalPort(listener.Get()));
    if (!link)
        Fail("the console refused a TCP client link");
    Fd peer = AcceptWithin(listener.Get(), 10, "the console's TCP client link");
    console.WaitFor([&] { return link->GetLinkState() == Connected; }, "TCP client link connected");
    Fd app = OpenApplication(PortDriver::Instance().LinkPath(number));
    console.WaitForApplication(console.Ports[0], "COM" + std::to_string(number));
    CQLNManager* manager = console.Manager.get();
    MeasureBridge("console", app.Get(), peer.Get(), options, [manager] { return manager->PassCount(); },
                  PumpCpuSeconds, figures);
    app.Reset();
}

// ---- socat ---------------------------------------------------------------------

// One socat bridge: the child, the peer it connected to, the application on its pty.
struct SocatBridge {
    pid_t Pid = -1;
    Fd Peer;
    Fd App;
};

SocatBridge StartSocat(const Options& options, const std::string& name)
{
    SocatBridge bridge;
    Fd listener = Listen();
    std::string link = TempRoot + "/" + name;
    bridge.Pid = StartChild(options.Socat, {"PTY,link=" + link + ",raw,echo=0",
                                            "TCP:127.0.0.1:" + std::to_string(LocalPort(listener.Get()))});
    pollfd p {listener.Get(), POLLIN, 0};
    auto end = Clock::now() + std::chrono::seconds(10);
    while (poll(&p, 1, 10) == 0) {
        if (!ChildAlive(bridge.Pid))
            Fail("socat ended before it connected (" + name + ")");
        if (Clock::now() > end)
            Fail("socat did not connect within 10 s (" + name + ")");
    }
    bridge.Peer = AcceptWithin(listener.Get(), 1, "socat");
    // socat makes the pty before it connects, so the link is there by now.
    if (access(link.c_str(), F_OK) != 0)
        Fail("socat made no link " + link);
    bridge.App = OpenApplication(link);
    return bridge;
}

void RunSocatBridge(const Options& options, BridgeFigures& figures)
{
    SocatBridge bridge = StartSocat(options, "socatCOM");
    pid_t pid = bridge.Pid;
    MeasureBridge("socat", bridge.App.Get(), bridge.Peer.Get(), options, [] { return uint64_t {0}; },
                  [pid] { return ProcessCpuSeconds(pid); }, figures);
    bridge.App.Reset();
    StopChild(bridge.Pid);
}

// ---- idle CPU ------------------------------------------------------------------

struct IdleFigures {
    double CpuPercent = NAN;
    double PassesPerSecond = NAN;
};

// The application on each port writes one byte that every peer must receive, and
// every peer sends one byte that the application must receive.
void CheckAllLinks(int appFd, const std::vector<int>& tcpPeers, int udpPeer, const sockaddr_in* udpConsole,
                   const std::string& who)
{
    WriteByte(appFd, 'i', who);
    for (size_t i = 0; i < tcpPeers.size(); ++i) {
        std::string peer = i == 0 ? "the peer of the TCP client link" : "the peer of the TCP server link";
        if (ReadByte(tcpPeers[i], who + ": byte at " + peer) != 'i')
            Fail(who + ": " + peer + " got a changed byte");
    }
    size_t expected = tcpPeers.size();
    if (udpPeer >= 0) {
        WaitReady(udpPeer, POLLIN, 5.0, who + ": datagram at the UDP peer");
        uint8_t value = 0;
        if (recv(udpPeer, &value, 1, 0) != 1 || value != 'i')
            Fail(who + ": the UDP peer got a wrong datagram");
        if (sendto(udpPeer, "u", 1, 0, reinterpret_cast<const sockaddr*>(udpConsole), sizeof *udpConsole) != 1)
            Fail(ErrnoText("sendto"));
        ++expected;
    }
    for (int peer : tcpPeers)
        WriteByte(peer, 't', who);
    for (size_t i = 0; i < expected; ++i) {
        uint8_t value = ReadByte(appFd, who + ": bytes of the peers at the application");
        if (value != 't' && value != 'u')
            Fail(who + ": the application got a changed byte");
    }
}

// Lets whatever the checks stirred up settle, then measures over `seconds`.
template <typename Cpu, typename Passes>
IdleFigures MeasureIdle(double seconds, Cpu cpu, Passes passes)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    IdleFigures figures;
    double cpu0 = cpu();
    uint64_t passes0 = passes();
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double wall = SecondsBetween(start, Clock::now());
    figures.CpuPercent = 100.0 * (cpu() - cpu0) / wall;
    figures.PassesPerSecond = static_cast<double>(passes() - passes0) / wall;
    return figures;
}

// True when the server link accepted a connection from 127.0.0.1:`peerPort`. Lock held.
bool HasClientFrom(CNetObject& server, uint16_t peerPort)
{
    for (auto& client : server.Clients) {
        sockaddr_in addr {};
        socklen_t len = sizeof addr;
        if (getpeername(client.Socket->GetHandle(), reinterpret_cast<sockaddr*>(&addr), &len) == 0
            && ntohs(addr.sin_port) == peerPort)
            return true;
    }
    return false;
}

// `threeLinks`: a TCP server link with a peer connected, a TCP client link to a
// listener of the benchmark and a UDP link per port; else the TCP client link only.
IdleFigures RunConsoleIdle(const Options& options, int firstNumber, bool threeLinks)
{
    std::vector<int> numbers;
    for (int i = 0; i < options.IdlePorts; ++i)
        numbers.push_back(firstNumber + i);
    ConsoleCore console(numbers);
    std::vector<Fd> keep; // listeners, peers and applications, closed at the end
    for (size_t i = 0; i < numbers.size(); ++i) {
        CPortObject* port = console.Ports[i];
        std::string who = "console idle COM" + std::to_string(numbers[i]);
        std::vector<int> tcpPeers;
        Fd listener = Listen();
        CNetObject* client = port->AddTcpClient("127.0.0.1", LocalPort(listener.Get()));
        if (!client)
            Fail(who + ": TCP client link refused");
        Fd clientPeer = AcceptWithin(listener.Get(), 10, who + " TCP client link");
        console.WaitFor([&] { return client->GetLinkState() == Connected; }, "TCP client link connected");
        tcpPeers.push_back(clientPeer.Get());
        Fd udpPeer;
        sockaddr_in udpConsole {};
        if (threeLinks) {
            CNetObject* server = nullptr;
            uint16_t serverPort = 0;
            for (int attempt = 0; attempt < 5 && !server; ++attempt) // another program may take the port first
                server = port->AddTcpServer(serverPort = FreePort(SOCK_STREAM));
            if (!server)
                Fail(who + ": TCP server link refused on port " + std::to_string(serverPort));
            Fd serverPeer = ConnectTo(serverPort);
            // The port was free a moment ago; another program's connection may have
            // come first, so wait for the one whose far end is ours.
            uint16_t ours = LocalPort(serverPeer.Get());
            console.WaitFor([&] { return HasClientFrom(*server, ours); }, "TCP server link accepted");
            tcpPeers.push_back(serverPeer.Get());
            keep.push_back(std::move(serverPeer));
            udpPeer = BindUdp();
            uint16_t udpPort = 0;
            CNetObject* udp = nullptr;
            for (int attempt = 0; attempt < 5 && !udp; ++attempt)
                udp = port->AddUdp(udpPort = FreePort(SOCK_DGRAM), "127.0.0.1", LocalPort(udpPeer.Get()));
            if (!udp)
                Fail(who + ": UDP link refused on port " + std::to_string(udpPort));
            udpConsole = Loopback(udpPort);
        }
        Fd app = OpenApplication(PortDriver::Instance().LinkPath(numbers[i]));
        console.WaitForApplication(port, who);
        CheckAllLinks(app.Get(), tcpPeers, udpPeer.Get(), &udpConsole, who);
        keep.push_back(std::move(listener));
        keep.push_back(std::move(clientPeer));
        keep.push_back(std::move(udpPeer));
        keep.push_back(std::move(app));
    }
    CQLNManager* manager = console.Manager.get();
    return MeasureIdle(options.IdleSeconds, OwnCpuSeconds, [manager] { return manager->PassCount(); });
}

IdleFigures RunSocatIdle(const Options& options)
{
    std::vector<SocatBridge> bridges;
    for (int i = 0; i < options.IdlePorts; ++i) {
        std::string name = "socatIdle" + std::to_string(i);
        bridges.push_back(StartSocat(options, name));
        CheckAllLinks(bridges.back().App.Get(), {bridges.back().Peer.Get()}, -1, nullptr, "socat idle " + name);
    }
    auto cpu = [&] {
        double sum = 0;
        for (auto& bridge : bridges)
            sum += ProcessCpuSeconds(bridge.Pid);
        return sum;
    };
    IdleFigures figures = MeasureIdle(options.IdleSeconds, cpu, [] { return uint64_t {0}; });
    figures.PassesPerSecond = NAN;
    for (auto& bridge : bridges) {
        bridge.App.Reset();
        StopChild(bridge.Pid);
    }
    return figures;
}

// ---- the report ----------------------------------------------------------------

std::string Num(double value, int decimals)
{
    if (std::isnan(value))
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void Row(const char* label, double console, double socat, int decimals)
{
    double ratio = socat > 0 ? console / socat : NAN;
    std::printf("  %-42s %11s %11s %10s\n", label, Num(console, decimals).c_str(), Num(socat, decimals).c_str(),
                Num(ratio, 2).c_str());
}

std::string List(const std::vector<double>& values)
{
    std::string out;
    for (double value : values)
        out += (out.empty() ? "" : "/") + Num(value, 0);
    return out.empty() ? "n/a" : out;
}

void Target(bool known, bool pass, const std::string& text)
{
    std::printf("  %-5s %s\n", !known ? "SKIP" : pass ? "PASS" : "MISS", text.c_str());
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

std::string SocatVersion(const std::string& path)
{
    std::string out;
    std::string command = "'" + path + "' -V 2>/dev/null";
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, pipe))
            if (!out.size() && std::strstr(line, "socat version"))
                out = std::string(line).substr(0, std::strcspn(line, "\n"));
        pclose(pipe);
    }
    return out.empty() ? path : out;
}

void Usage()
{
    std::printf("usage: bridge_bench [--quick] [--rounds N] [--size-mib N] [--trips N] [--warmup N]\n"
                "                    [--idle-seconds S] [--socat PATH] [--only console|socat]\n"
                "  --quick   smoke run: 1 round, 4 MiB, 200 round trips, 1 s idle\n"
                "  --rounds  console and socat take turns N times (default 3); medians are shown\n"
                "  --only    run one contestant (for profiling it); no ratios, no targets\n");
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                Usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--quick") {
            options.Bytes = 4ull << 20;
            options.Trips = 200;
            options.WarmUp = 50;
            options.IdleSeconds = 1.0;
            options.Rounds = 1;
        } else if (arg == "--size-mib") {
            options.Bytes = std::stoull(value()) << 20;
        } else if (arg == "--rounds") {
            options.Rounds = std::stoi(value());
        } else if (arg == "--trips") {
            options.Trips = std::stoi(value());
        } else if (arg == "--warmup") {
            options.WarmUp = std::stoi(value());
        } else if (arg == "--idle-seconds") {
            options.IdleSeconds = std::stod(value());
        } else if (arg == "--socat") {
            options.Socat = value();
        } else if (arg == "--only") {
            std::string who = value();
            options.Console = who == "console";
            options.SocatToo = who == "socat";
            if (!options.Console && !options.SocatToo) {
                Usage();
                std::exit(2);
            }
        } else {
            Usage();
            std::exit(arg == "--help" || arg == "-h" ? 0 : 2);
        }
    }
    if (options.Bytes == 0 || options.Trips <= 0 || options.WarmUp < 0 || options.IdleSeconds <= 0
        || options.Rounds <= 0)
        Fail("sizes, counts and seconds must be positive");
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const std::exception&) { // a number that is not one
        Usage();
        return 2;
    }

    char pattern[] = "/tmp/qlnbench.XXXXXX";
    if (!mkdtemp(pattern))
        Fail(ErrnoText("mkdtemp"));
    TempRoot = pattern;
    for (const char* sub : {"/home", "/state", "/config", "/runtime"})
        std::filesystem::create_directories(TempRoot + sub);
    chmod((TempRoot + "/runtime").c_str(), 0700);
    setenv("HOME", (TempRoot + "/home").c_str(), 1);
    setenv("XDG_STATE_HOME", (TempRoot + "/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (TempRoot + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (TempRoot + "/runtime").c_str(), 1);
    ArmWatchdog(static_cast<unsigned>(300 + options.Rounds * ((options.Bytes >> 20) * 8 + options.Trips / 50)
                                      + options.IdleSeconds * 4));

    std::string socat = FindProgram(options.Socat);
    options.Socat = socat;
    double mib = static_cast<double>(options.Bytes) / (1 << 20);
    std::printf("bridge_bench: Quillon Console core vs socat, a pty port bridged to a TCP peer on 127.0.0.1\n");
    std::printf("  console: in-process core, COM7 with a TCP client link to the bench's listener\n");
    std::printf("  socat:   %s: socat PTY,link=<tmp>/socatCOM,raw,echo=0 TCP:127.0.0.1:<port>\n",
                socat.empty() ? "NOT FOUND (apt-get install socat); skipped" : SocatVersion(socat).c_str());
    std::printf("  application: raw pty, non-blocking, poll(); peer: TCP_NODELAY; same code for both\n");
    std::printf("  %d round(s), each: %.0f MiB each way, every byte checked; %d round trips of 1 byte after\n"
                "  %d warm-up; then idle %.1f s\n", options.Rounds, mib, options.Trips, options.WarmUp,
                options.IdleSeconds);
    std::printf("  %ld cores; load average at start %s\n", sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    std::fflush(stdout);

    const bool withSocat = !socat.empty() && options.SocatToo;
    BridgeFigures console, theirs;
    // The contestants take turns, the one going first alternating, so that a change
    // of load on the machine falls on both alike.
    for (int round = 0; round < options.Rounds; ++round) {
        if (withSocat && round % 2 == 1)
            RunSocatBridge(options, theirs);
        if (options.Console)
            RunConsoleBridge(options, console);
        if (withSocat && round % 2 == 0)
            RunSocatBridge(options, theirs);
    }
    const double consoleRss = PeakResidentMiB(); // socat runs in processes of its own
    IdleFigures consoleIdle, consoleIdleOne, socatIdle;
    if (options.Console) {
        consoleIdle = RunConsoleIdle(options, 11, true);
        consoleIdleOne = RunConsoleIdle(options, 31, false);
    }
    if (withSocat)
        socatIdle = RunSocatIdle(options);

    std::sort(console.Micros.begin(), console.Micros.end());
    std::sort(theirs.Micros.begin(), theirs.Micros.end());
    const double toNet = Median(console.ToNetMBps), toNetSocat = Median(theirs.ToNetMBps);
    const double toApp = Median(console.ToAppMBps), toAppSocat = Median(theirs.ToAppMBps);
    const double p50 = Percentile(console.Micros, 0.50), p50Socat = Percentile(theirs.Micros, 0.50);

    std::printf("\n  %-42s %11s %11s %10s\n", "measure (median of rounds)", "console", "socat", "con/socat");
    Row("throughput application->network MB/s", toNet, toNetSocat, 1);
    Row("throughput network->application MB/s", toApp, toAppSocat, 1);
    Row("round trip 1 byte p50 us", p50, p50Socat, 1);
    Row("round trip 1 byte p99 us", Percentile(console.Micros, 0.99), Percentile(theirs.Micros, 0.99), 1);
    std::string idleLabel = "idle CPU % of a core, " + std::to_string(options.IdlePorts) + " ports";
    std::printf("  %-42s %11s %11s\n", (idleLabel + " x 3 links").c_str(), Num(consoleIdle.CpuPercent, 3).c_str(),
                "(cannot)");
    Row((idleLabel + " x 1 link").c_str(), consoleIdleOne.CpuPercent, socatIdle.CpuPercent, 3);
    Row("bridge CPU ms per MiB application->network", Median(console.ToNetCpu), Median(theirs.ToNetCpu), 2);
    Row("bridge CPU ms per MiB network->application", Median(console.ToAppCpu), Median(theirs.ToAppCpu), 2);
    std::printf("  rounds: console app->net %s, net->app %s MB/s; socat %s, %s\n", List(console.ToNetMBps).c_str(),
                List(console.ToAppMBps).c_str(), List(theirs.ToNetMBps).c_str(), List(theirs.ToAppMBps).c_str());
    std::printf("  console pump passes per MiB: app->net %s, net->app %s; idle passes/s: %s (3 links), %s (1)\n",
                Num(Median(console.ToNetPasses), 0).c_str(), Num(Median(console.ToAppPasses), 0).c_str(),
                Num(consoleIdle.PassesPerSecond, 1).c_str(), Num(consoleIdleOne.PassesPerSecond, 1).c_str());
    std::printf("  console process peak resident size after the transfers: %s MiB\n", Num(consoleRss, 0).c_str());
    std::printf("  (MB = 10^6 bytes; round trip percentiles pool every round; bridge CPU is the pump thread's\n"
                "   or the socat process's, from /proc schedstat. socat cannot serve 3 links on one port: its\n"
                "   idle figure is %d socat processes with one TCP link each; the console's idle figures are\n"
                "   this process's getrusage.)\n", options.IdlePorts);

    bool known = console.Ran() && theirs.Ran();
    std::printf("\n  targets:\n");
    Target(known, toNet >= toNetSocat, "throughput application->network at least socat's");
    Target(known, toApp >= toAppSocat, "throughput network->application at least socat's");
    Target(known, p50 <= 1.5 * p50Socat, "round trip p50 at most 1.5 x socat's");
    Target(console.Ran(), consoleIdle.CpuPercent < 1.0,
           "idle CPU under 1% of a core (" + std::to_string(options.IdlePorts) + " ports x 3 links)");
    std::printf("  load average at end %s\n", LoadAverage().c_str());

    ReapChildren();
    RemoveTempRoot();
    std::fflush(stdout);
    // The port driver is a process-wide object; leave without running static
    // destructors in an order nobody chose.
    _exit(0);
}

// TLS: bulk both ways through a TLS client link and a TLS server link in the same
// run, against socat's OPENSSL and OPENSSL-LISTEN addresses doing the same jobs; then,
// the console alone, full handshakes per second on a TLS server link, and what 100
// peers that stall in their handshakes cost while a client is served.
//
// The network peers speak TLS through socat relays of their own (TlsPeer.h), the
// same for both contestants; the relays' CPU is no contestant's.
#include "Cases.h"
#include "ConsoleHost.h"
#include "TlsPeer.h"

#include <openssl/ssl.h>

namespace bench {

namespace {

constexpr uint64_t CountBytes = 16ull << 20;
constexpr int Handshakes = 200;
constexpr int Stalled = 100;
constexpr double StallWindow = 2.0; // seconds measured while they stall

// Port 0: a TCP client link; port 1: a TCP server link with one client. Both TLS.
const Layout TwoLinks = [] {
    Layout layout;
    layout.Ports = {PortLayout {.TcpClient = true, .Tls = true}, PortLayout {.ServerClients = 1, .Tls = true}};
    return layout;
}();

const char* const Ways[] = {"client link, application->network", "client link, network->application",
                            "server link, application->network", "server link, network->application"};

// Bulk both ways through each link; four samples, in the order of Ways.
Work TlsBulk(const Options& options)
{
    return [&options](Bridge& bridge, bool counting) {
        const uint64_t bytes = counting ? std::min(options.Bytes, CountBytes) : options.Bytes;
        std::vector<Sample> samples;
        for (size_t port : {0, 1}) {
            PortEnds& ends = bridge.Ports[port];
            const int app = ends.App.Get(), peer = port == 0 ? ends.Peer.Get() : ends.Clients[0].Get();
            const std::string name = bridge.Name + (port == 0 ? " TLS client link" : " TLS server link");
            Exchange(app, peer, name);
            const Reading start = bridge.Read();
            Transfer(name + ", application to network", app, peer, bytes);
            const Reading middle = bridge.Read();
            Transfer(name + ", network to application", peer, app, bytes);
            for (auto sample : {Sample::Between(start, middle), Sample::Between(middle, bridge.Read())}) {
                sample.Bytes = static_cast<double>(bytes);
                sample.Events = sample.Bytes / (1 << 20);
                samples.push_back(sample);
            }
        }
        return samples;
    };
}

double ResidentMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return NAN;
}

// A blocking TCP connection to 127.0.0.1:`port`, or Fail.
Fd Connect(uint16_t port)
{
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(port);
    if (fd.Get() < 0 || connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        Fail(ErrnoText("connect to the TLS server link"));
    return fd;
}

struct Figures {
    std::vector<double> PerSecond, CpuMsEach, StallKiB, StallCpu, StallPasses, RoundTripBefore, RoundTripDuring,
        DroppedAfter;
};

// One round of the console alone: full handshakes one after the other (connect,
// handshake checked against the CA, close_notify, close), then 100 silent peers.
void HandshakeRound(const Options& options, Figures& figures)
{
    Layout layout;
    layout.Ports = {PortLayout {.ServerClients = 1, .Tls = true}};
    Bridge bridge(Who::Console, layout, options);
    PortEnds& ends = bridge.Ports[0];
    const pid_t console = bridge.Pids().front();
    Exchange(ends.App.Get(), ends.Clients[0].Get(), "TLS handshakes");

    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(context, BenchTlsFiles().Ca.c_str(), nullptr);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    const Reading before = bridge.Read();
    for (int i = 0; i < Handshakes; ++i) {
        Fd fd = Connect(ends.ServerPort);
        SSL* ssl = SSL_new(context);
        SSL_set_fd(ssl, fd.Get());
        if (SSL_connect(ssl) != 1)
            Fail("a TLS handshake with the console's server link failed");
        SSL_shutdown(ssl);
        SSL_free(ssl);
    }
    const Reading after = bridge.Read();
    SSL_CTX_free(context);
    figures.PerSecond.push_back(Handshakes / SecondsBetween(before.At, after.At));
    figures.CpuMsEach.push_back(1000 * (after.Cpu - before.Cpu) / Handshakes);

    // The served client's round trips, quiet and while 100 peers stall.
    auto roundTrip = [&] { return Percentile(RoundTrips(ends.App.Get(), ends.Clients[0].Get(), 20, 200), 0.5); };
    figures.RoundTripBefore.push_back(roundTrip());
    const double residentBefore = ResidentMiB(console);
    std::vector<Fd> stalled;
    for (int i = 0; i < Stalled; ++i)
        stalled.push_back(Connect(ends.ServerPort));
    const auto opened = Clock::now();
    // The console runs at most 64 handshakes at once; the rest wait in its queue.
    const int accepting = 1 + std::min(Stalled, 64);
    while (bridge.Host()->AskState().Clients < accepting) {
        if (SecondsBetween(opened, Clock::now()) > 10)
            Fail("the console did not take the stalled peers");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // A quiet window while they stall, then the served client's round trips.
    const Reading from = bridge.Read();
    std::this_thread::sleep_until(from.At + std::chrono::duration<double>(StallWindow));
    const Reading to = bridge.Read();
    figures.StallKiB.push_back((ResidentMiB(console) - residentBefore) * 1024 / std::min(Stalled, 64));
    figures.StallCpu.push_back(100 * (to.Cpu - from.Cpu) / SecondsBetween(from.At, to.At));
    figures.StallPasses.push_back((to.Passes - from.Passes) / SecondsBetween(from.At, to.At));
    figures.RoundTripDuring.push_back(roundTrip());

    // Until the console dropped every one of them.
    size_t dropped = 0;
    std::vector<bool> gone(stalled.size());
    const auto end = Clock::now() + std::chrono::seconds(60);
    while (dropped < stalled.size() && Clock::now() < end) {
        for (size_t i = 0; i < stalled.size(); ++i) {
            uint8_t byte;
            if (!gone[i] && recv(stalled[i].Get(), &byte, 1, MSG_DONTWAIT) >= 0) {
                gone[i] = true;
                ++dropped;
            } else if (!gone[i] && errno != EAGAIN) {
                gone[i] = true;
                ++dropped;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (dropped < stalled.size())
        Fail("the console kept stalled TLS handshakes for more than 60 s");
    figures.DroppedAfter.push_back(SecondsBetween(opened, Clock::now()));
    Exchange(ends.App.Get(), ends.Clients[0].Get(), "TLS handshakes, afterwards");
}

} // namespace

void TlsCase(const Options& options, Report& report)
{
    if (options.Socat.empty()) {
        report.Note("tls: socat is missing; its relays are the network's TLS peers, so the case did not run");
        return;
    }
    ContestPlan plan;
    plan.Label = "TLS bulk, " + std::to_string(options.Bytes >> 20) + " MiB each way and link";
    plan.Console = plan.Socat = TwoLinks;
    plan.Measure = TlsBulk(options);
    const Contest contest = RunContest(options, plan);
    const std::string job = "TLS client link and TLS server link, " + std::to_string(options.Bytes >> 20)
                          + " MiB each way";
    double worstSpeed = INFINITY, worstCpu = 0;
    for (size_t way = 0; way < 4; ++way) {
        MedianRow(report, job, std::string("MB/s, ") + Ways[way], contest, true, way, MegabytesPerSecond, 1);
        MedianRow(report, job, std::string("CPU ms per MB, ") + Ways[way], contest, true, way, CpuMsPerMB, 2);
        MedianRow(report, job, std::string("pump passes per MB, ") + Ways[way], contest, false, way, PassesPerMB, 0);
        worstSpeed = std::min(worstSpeed, Ratio(contest.Console.Median(way, MegabytesPerSecond),
                                                contest.Socat.Median(way, MegabytesPerSecond)));
        worstCpu = std::max(worstCpu, Ratio(contest.Console.Median(way, CpuMsPerMB), contest.Socat.Median(way, CpuMsPerMB)));
    }
    MedianRow(report, job, "peak resident MiB", contest, true, 3, PeakMiB, 1);
    CallsRow(report, job, "system calls per MiB (all four)", contest, true, 0);
    TopCallsNote(report, job, contest);
    report.Target("TLS bulk: at least 1.0x socat's throughput (worst of the four, console/socat)", worstSpeed,
                  worstSpeed >= 1.0);
    report.Target("TLS bulk: CPU per MB at most 1.0x socat's (worst of the four, console/socat)", worstCpu,
                  worstCpu <= 1.0);

    if (!options.Console)
        return;
    std::printf("  TLS handshakes and stalled handshakes, console only ...");
    std::fflush(stdout);
    const auto start = Clock::now();
    Figures figures;
    for (int round = 0; round < options.Rounds; ++round)
        HandshakeRound(options, figures);
    std::printf(" %.0f s\n", SecondsBetween(start, Clock::now()));
    const std::string handshakes = "TLS server link: " + std::to_string(Handshakes) + " full handshakes, one after another";
    report.Row(handshakes, "handshakes per second", Median(figures.PerSecond), std::nullopt, 0);
    report.Row(handshakes, "console CPU ms per handshake", Median(figures.CpuMsEach), std::nullopt, 2);
    const std::string stalls = "TLS server link: " + std::to_string(Stalled) + " peers stalled in their handshakes";
    report.Row(stalls, "resident KiB per stalled handshake (64 at once)", Median(figures.StallKiB), std::nullopt, 1);
    report.Row(stalls, "console CPU % while they stall", Median(figures.StallCpu), std::nullopt, 2);
    report.Row(stalls, "pump passes per second while they stall", Median(figures.StallPasses), std::nullopt, 1);
    report.Row(stalls, "a served client's round trip p50 us, quiet", Median(figures.RoundTripBefore), std::nullopt, 1);
    report.Row(stalls, "a served client's round trip p50 us, while they stall", Median(figures.RoundTripDuring),
               std::nullopt, 1);
    report.Row(stalls, "seconds until the console dropped all of them", Median(figures.DroppedAfter), std::nullopt, 1);
    report.Note("tls: the peers' TLS is socat (OPENSSL-LISTEN for the client link, OPENSSL for the server link's "
                "client) relaying to the benchmark's plain sockets, the same for both contestants; ECDSA P-256 "
                "certificates; handshakes are the benchmark's own OpenSSL client, checking the CA; a stalled peer "
                "connects and sends nothing; the console runs 64 handshakes at once and drops one after 10 s");
}

} // namespace bench

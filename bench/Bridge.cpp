#include "Bridge.h"

#include "BridgeMeasures.h"
#include "ConsoleHost.h"
#include "TlsPeer.h"

namespace bench {

namespace {

constexpr int FirstNumber = 10;
constexpr double SetupSeconds = 10;

// Waits, asking the host each time, until `done` holds for its state, or Fail.
template <typename Done>
void WaitForHost(HostControl& host, Done done, const std::string& what)
{
    auto end = Clock::now() + std::chrono::duration<double>(SetupSeconds);
    while (!done(host.AskState())) {
        if (Clock::now() > end)
            Fail("the console: " + what + " within " + std::to_string(SetupSeconds) + " s");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string WaitForPath(const std::string& path, const std::vector<pid_t>& pids)
{
    auto end = Clock::now() + std::chrono::duration<double>(SetupSeconds);
    while (access(path.c_str(), F_OK) != 0) {
        for (pid_t pid : pids)
            if (!ChildAlive(pid))
                Fail("a contestant's process ended before it made " + path);
        if (Clock::now() > end)
            Fail("no " + path + " within " + std::to_string(SetupSeconds) + " s");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return path;
}

} // namespace

std::string LogFolder()
{
    return TempRoot + "/logs";
}

Bridge::Bridge(Who who, const Layout& layout, const Options& options)
    : Contestant(who), Name(NameOf(who)), Socat(options.Socat)
{
    std::vector<Fd> listeners;
    Ports.resize(layout.Ports.size());
    Job job = MakeJob(layout, listeners);
    Processes = who == Who::Console ? StartConsole(job) : StartSocat(job, options.Socat);
    ConnectPeers(layout, job, listeners);
    OpenApplications();
    for (size_t i = 0; i < Ports.size(); ++i)
        CheckPaths(Ports[i], Name + " COM" + std::to_string(job.Ports[i].Number));
}

Bridge::~Bridge()
{
    StopChildren(Processes.Pids);
    StopChildren(Relays);
}

Job Bridge::MakeJob(const Layout& layout, std::vector<Fd>& listeners)
{
    Job job;
    job.WindowOpen = layout.WindowOpen;
    job.Monitor = layout.Monitor;
    for (size_t i = 0; i < layout.Ports.size(); ++i) {
        const PortLayout& want = layout.Ports[i];
        JobPort port;
        port.Number = FirstNumber + static_cast<int>(i);
        if (want.Tls) {
            const TlsFiles& files = BenchTlsFiles();
            job.TlsCa = files.Ca;
            job.TlsCert = files.Cert;
            job.TlsKey = files.Key;
        }
        if (want.TcpClient) {
            listeners.push_back(Listen());
            uint16_t remote = LocalPort(listeners.back().Get());
            if (want.Tls) {
                // The link reaches the benchmark's listener through a TLS server.
                const uint16_t tls = FreePort(SOCK_STREAM);
                Relays.push_back(StartTlsServerRelay(Socat, tls, remote));
                remote = tls;
            }
            port.Links.push_back({JobLink::TcpClient, remote, 0, want.Rfc2217, want.Tls});
        }
        if (want.ServerClients > 0) {
            port.Links.push_back({JobLink::TcpServer, FreePort(SOCK_STREAM), 0, false, want.Tls});
            Ports[i].ServerPort = port.Links.back().Port;
        }
        if (want.Udp) {
            Ports[i].Udp = BindUdp();
            uint16_t local = FreePort(SOCK_DGRAM);
            Ports[i].UdpConsole = Loopback(local);
            port.Links.push_back({JobLink::Udp, local, LocalPort(Ports[i].Udp.Get())});
        }
        if (layout.Log) {
            std::filesystem::create_directories(LogFolder());
            port.LogFile = LogFolder() + "/" + Name + "COM" + std::to_string(port.Number) + ".log";
        }
        job.Ports.push_back(std::move(port));
    }
    return job;
}

// The network side of every port, then (console) until the console has seen it all.
void Bridge::ConnectPeers(const Layout& layout, const Job& job, std::vector<Fd>& listeners)
{
    size_t listener = 0;
    int tcpClients = 0, serverClients = 0, secured = 0;
    for (size_t i = 0; i < Ports.size(); ++i) {
        std::string port = Name + " COM" + std::to_string(job.Ports[i].Number);
        for (auto& link : job.Ports[i].Links) {
            if (link.Type == JobLink::TcpClient) {
                Ports[i].Peer = AcceptWithin(listeners[listener++].Get(), SetupSeconds, port + ": its TCP client link");
                if (link.Rfc2217)
                    Ports[i].PeerTelnet = std::make_unique<TelnetPeer>();
                ++tcpClients;
                secured += link.Tls;
            }
            for (int k = 0; link.Type == JobLink::TcpServer && k < layout.Ports[i].ServerClients; ++k) {
                uint16_t to = link.Port;
                if (link.Tls) {
                    // Each client reaches the link through a TLS client of its own,
                    // which connects only once, so the link must listen first.
                    WaitListening(link.Port, 0, port + ": its TCP server link");
                    to = FreePort(SOCK_STREAM);
                    Relays.push_back(StartTlsClientRelay(Socat, to, link.Port));
                }
                Ports[i].Clients.push_back(ConnectWithin(to, SetupSeconds, port + ": its TCP server link"));
                ++serverClients;
                secured += link.Tls;
            }
        }
    }
    // A TLS server link's client takes part in the traffic once its handshake is done.
    if (Processes.Host)
        WaitForHost(*Processes.Host,
                    [&](const HostControl::State& s) {
                        return s.Connected == tcpClients && s.Clients == serverClients && s.Secured == secured;
                    },
                    "every TCP client link connected, every client accepted, every TLS handshake done");
}

void Bridge::OpenApplications()
{
    for (size_t i = 0; i < Ports.size(); ++i)
        Ports[i].App = OpenApplication(WaitForPath(Processes.AppPaths[i], Processes.Pids));
    // The console reads nothing of a port before it knows an application holds it.
    int ports = static_cast<int>(Ports.size());
    if (Processes.Host)
        WaitForHost(*Processes.Host, [&](const HostControl::State& s) { return s.Opened == ports; },
                    "every application's open seen");
}

// The application writes one byte that every peer must receive, and every peer one
// byte that the application must receive.
void Bridge::CheckPaths(PortEnds& ends, const std::string& port)
{
    std::vector<int> tcpPeers;
    if (ends.Peer.Get() >= 0)
        tcpPeers.push_back(ends.Peer.Get());
    for (auto& client : ends.Clients)
        tcpPeers.push_back(client.Get());
    WriteByte(ends.App.Get(), 'a', port);
    for (int peer : tcpPeers)
        if (ReadByte(peer, port + ": the first byte at a TCP peer", peer == ends.Peer.Get() ? ends.PeerTelnet.get() : nullptr)
            != 'a')
            Fail(port + ": a TCP peer got a changed byte");
    size_t expected = tcpPeers.size();
    if (ends.Udp.Get() >= 0) {
        WaitReady(ends.Udp.Get(), POLLIN, SetupSeconds, port + ": the first datagram at the UDP peer");
        uint8_t value = 0;
        if (recv(ends.Udp.Get(), &value, 1, 0) != 1 || value != 'a')
            Fail(port + ": the UDP peer got a wrong datagram");
        if (sendto(ends.Udp.Get(), "u", 1, 0, reinterpret_cast<const sockaddr*>(&ends.UdpConsole),
                   sizeof ends.UdpConsole) != 1)
            Fail(ErrnoText("sendto"));
        ++expected;
    }
    for (int peer : tcpPeers)
        WriteByte(peer, 'n', port);
    for (size_t i = 0; i < expected; ++i) {
        uint8_t value = ReadByte(ends.App.Get(), port + ": the peers' first bytes at the application");
        if (value != 'n' && value != 'u')
            Fail(port + ": the application got a changed byte");
    }
}

Reading Bridge::Read() const
{
    Reading reading;
    if (Processes.Host && AskPasses)
        reading.Passes = Processes.Host->Passes();
    for (pid_t pid : Processes.Pids) {
        reading.Cpu += ProcessCpuSeconds(pid);
        reading.PeakMiB += PeakResidentMiB(pid);
    }
    reading.At = Clock::now();
    return reading;
}

} // namespace bench

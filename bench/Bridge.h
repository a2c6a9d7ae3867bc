#pragma once
// A contestant serving a set of ports, with every end the benchmark holds: the
// application on each port and the network peers of each link, all live and checked
// before a case measures anything.
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "BenchSupport.h"
#include "TelnetPeer.h"

namespace bench {

// What a case asks for on each port.
struct PortLayout {
    bool TcpClient = false; // a TCP client link to a listener of the benchmark
    int ServerClients = 0;  // above 0: a TCP server link with that many clients of the benchmark
    bool Udp = false;       // a UDP link to a socket of the benchmark
    bool Rfc2217 = false;   // console only: the TCP client link with line control, its peer a Telnet end
    bool Tls = false;       // the TCP client and server links with TLS; their peers reach them through
                            // TLS relays (TlsPeer.h), the same for both contestants
};

// Console only: a traffic monitor on every port.
enum class MonitorKind {
    None,
    Stalled,  // it never takes a record: its queue fills, and the rest is counted as missed
    Draining, // it takes what waits every 10 ms, as a watching window would
};

struct Layout {
    std::vector<PortLayout> Ports;
    bool Log = false;        // a raw traffic log per port, in the private temp folder
    bool WindowOpen = false; // console: the window's 200 ms refresh timer runs
    MonitorKind Monitor = MonitorKind::None;

    static Layout Uniform(int ports, PortLayout each)
    {
        Layout layout;
        layout.Ports.assign(static_cast<size_t>(ports), each);
        return layout;
    }
};

// The same, made concrete for a contestant: COM numbers and 127.0.0.1 port numbers.
struct JobLink {
    enum Kind { TcpClient, TcpServer, Udp } Type;
    uint16_t Port = 0;       // TcpClient: the remote port; TcpServer, Udp: the local one
    uint16_t RemotePort = 0; // Udp
    bool Rfc2217 = false;    // TcpClient, console only
    bool Tls = false;        // TcpClient, TcpServer
};

struct JobPort {
    int Number = 0;
    std::vector<JobLink> Links;
    std::string LogFile;     // empty: no log
};

struct Job {
    std::vector<JobPort> Ports;
    bool WindowOpen = false;
    std::string TlsCa, TlsCert, TlsKey; // the TLS links' files
    MonitorKind Monitor = MonitorKind::None;
};

class HostControl;

// A contestant's processes serving a job.
struct Served {
    std::vector<pid_t> Pids;
    std::vector<std::string> AppPaths;  // the application's side of each port, in job order
    std::unique_ptr<HostControl> Host;  // the console only
    ~Served();
    Served();
    Served(Served&&) noexcept;
    Served& operator=(Served&&) noexcept;
};

// The console: one process serving every port of the job (ConsoleHost.cpp).
Served StartConsole(const Job& job);
// socat: one process per port, each with the one link it can serve (SocatFarm.cpp).
Served StartSocat(const Job& job, const std::string& socat);
// What socat runs for one port of a job, for the report.
std::string SocatCommand(const JobPort& port, const std::string& ptyLink);

enum class Who { Console, Socat };
inline const char* NameOf(Who who)
{
    return who == Who::Console ? "console" : "socat";
}

// The ends the benchmark holds on one port.
struct PortEnds {
    Fd App;                   // the application: raw, non-blocking
    Fd Peer;                  // the peer of the TCP client link
    std::unique_ptr<TelnetPeer> PeerTelnet; // how Peer speaks when the link has line control; else null
    std::vector<Fd> Clients;  // the clients of the TCP server link
    uint16_t ServerPort = 0;  // the TCP server link's own port
    Fd Udp;                   // the peer of the UDP link
    sockaddr_in UdpConsole {}; // where the UDP link receives
};

// A contestant's figures at one moment.
struct Reading {
    Clock::time_point At;
    double Cpu = 0;            // CPU seconds of all its processes
    double Passes = NAN;       // the console's pump passes
    double PeakMiB = 0;        // the largest resident size so far, summed over its processes
};

class Bridge {
public:
    // Starts the contestant on `layout` and checks every path both ways, or Fail.
    Bridge(Who who, const Layout& layout, const Options& options);
    // Stops the contestant's processes; the ends close after them.
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    Reading Read() const;
    const std::vector<pid_t>& Pids() const { return Processes.Pids; }
    // The console's host, to ask its state; null for socat.
    HostControl* Host() const { return Processes.Host.get(); }

    const Who Contestant;
    std::string Name;         // "console" or "socat", for messages
    std::vector<PortEnds> Ports;
    // Read asks the console host for its passes; the counting pass turns that off so
    // that the requests do not count as the console's calls.
    bool AskPasses = true;

private:
    Job MakeJob(const Layout& layout, std::vector<Fd>& listeners);
    void ConnectPeers(const Layout& layout, const Job& job, std::vector<Fd>& listeners);
    void OpenApplications();
    void CheckPaths(PortEnds& ends, const std::string& port);

    Served Processes;
    std::string Socat;          // for the TLS relays
    std::vector<pid_t> Relays;  // the TLS relays: the peers' side, stopped after the contestant
};

// Where the traffic logs of a case go; the log case empties it after each bridge.
std::string LogFolder();

} // namespace bench

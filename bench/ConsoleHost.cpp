// Both ends of the console host: the process that serves a job with the console
// core, and StartConsole, the one place that knows how such a process is started.
// A headless console executable can take the host's place there.
#include "ConsoleHost.h"

#include <memory>

#include "Bridge.h"
#include "platform/base/EventLog.h"
#include "platform/pty/PortDriver.h"
#include "ports/QLNManager.h"

#include <thread>

namespace bench {

// ---- the benchmark's side -------------------------------------------------------

HostControl::HostControl(pid_t pid, Fd requests, Fd replies)
    : Pid(pid), Requests(std::move(requests)), Replies(std::move(replies))
{
}

std::string HostControl::ReadLine(double seconds, const std::string& what)
{
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        size_t newline = Pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = Pending.substr(0, newline);
            Pending.erase(0, newline + 1);
            if (line.rfind("error ", 0) == 0)
                Fail("the console host: " + line.substr(6));
            return line;
        }
        if (Clock::now() > end)
            Fail("the console host said nothing within " + std::to_string(seconds) + " s: " + what);
        pollfd p {Replies.Get(), POLLIN, 0};
        if (poll(&p, 1, 50) <= 0)
            continue;
        char buffer[4096];
        ssize_t n = read(Replies.Get(), buffer, sizeof buffer);
        if (n > 0)
            Pending.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || (errno != EINTR && errno != EAGAIN))
            Fail("the console host ended (" + what + ")");
    }
}

std::string HostControl::Ask(const std::string& request)
{
    std::string line = request + "\n";
    if (write(Requests.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        Fail("the console host takes no requests: " + ErrnoText("write"));
    std::string reply = ReadLine(10, request);
    if (reply.rfind(request + " ", 0) != 0)
        Fail("the console host answered \"" + reply + "\" to \"" + request + "\"");
    return reply.substr(request.size() + 1);
}

HostControl::State HostControl::AskState()
{
    State state;
    std::istringstream fields(Ask("state"));
    fields >> state.Opened >> state.Connected >> state.Clients >> state.Secured;
    return state;
}

double HostControl::Passes()
{
    return std::stod(Ask("passes"));
}

namespace {

std::vector<std::string> JobArguments(const Job& job)
{
    std::vector<std::string> args {"--console-host"};
    if (job.WindowOpen)
        args.push_back("--window");
    if (!job.TlsCa.empty())
        args.insert(args.end(), {"--tls-ca", job.TlsCa, "--tls-cert", job.TlsCert, "--tls-key", job.TlsKey});
    if (job.Monitor != MonitorKind::None)
        args.push_back(job.Monitor == MonitorKind::Stalled ? "--monitor-stalled" : "--monitor-draining");
    for (auto& port : job.Ports) {
        args.insert(args.end(), {"--port", std::to_string(port.Number)});
        for (auto& link : port.Links) {
            switch (link.Type) {
            case JobLink::TcpClient:
                args.insert(args.end(), {link.Tls ? "--tcp-client-tls" : link.Rfc2217 ? "--tcp-client-rfc2217" : "--tcp-client",
                                         std::to_string(link.Port)});
                break;
            case JobLink::TcpServer:
                args.insert(args.end(), {link.Tls ? "--tcp-server-tls" : "--tcp-server", std::to_string(link.Port)});
                break;
            case JobLink::Udp:
                args.insert(args.end(), {"--udp", std::to_string(link.Port) + ":" + std::to_string(link.RemotePort)});
                break;
            }
        }
        if (!port.LogFile.empty())
            args.insert(args.end(), {"--log", port.LogFile});
    }
    return args;
}

} // namespace

// Out of line: HostControl is whole here.
Served::Served() = default;
Served::~Served() = default;
Served::Served(Served&&) noexcept = default;
Served& Served::operator=(Served&&) noexcept = default;

Served StartConsole(const Job& job)
{
    int requests[2], replies[2];
    if (pipe2(requests, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0)
        Fail(ErrnoText("pipe2"));
    Fd requestsRead(requests[0]), repliesWrite(replies[1]);
    Served served;
    pid_t pid = StartChild(OwnExecutable(), JobArguments(job), requestsRead.Get(), repliesWrite.Get());
    served.Pids.push_back(pid);
    served.Host = std::make_unique<HostControl>(pid, Fd(requests[1]), Fd(replies[0]));
    for (;;) {
        std::string line = served.Host->ReadLine(20, "the ports of a new host");
        if (line == "ready")
            break;
        std::istringstream fields(line);
        std::string word, path;
        int number = 0;
        if (!(fields >> word >> number >> path) || word != "port")
            Fail("the console host said \"" + line + "\"");
        served.AppPaths.push_back(path);
    }
    if (served.AppPaths.size() != job.Ports.size())
        Fail("the console host has not every port it was given");
    return served;
}

// ---- the host process ----------------------------------------------------------

namespace {

void Say(const std::string& line)
{
    std::string text = line + "\n";
    [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
}

[[noreturn]] void HostFails(const std::string& what)
{
    Say("error " + what);
    _exit(1);
}

Job ParseJob(int argc, char** argv)
{
    Job job;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--window") {
            job.WindowOpen = true;
            continue;
        }
        if (arg == "--monitor-stalled" || arg == "--monitor-draining") {
            job.Monitor = arg == "--monitor-stalled" ? MonitorKind::Stalled : MonitorKind::Draining;
            continue;
        }
        if (i + 1 >= argc)
            HostFails("no value after " + arg);
        std::string value = argv[++i];
        if (arg == "--port") {
            job.Ports.push_back(JobPort {std::stoi(value), {}, {}});
            continue;
        }
        if (arg == "--tls-ca" || arg == "--tls-cert" || arg == "--tls-key") {
            (arg == "--tls-ca" ? job.TlsCa : arg == "--tls-cert" ? job.TlsCert : job.TlsKey) = value;
            continue;
        }
        if (job.Ports.empty())
            HostFails(arg + " before the first --port");
        JobPort& port = job.Ports.back();
        if (arg == "--tcp-client" || arg == "--tcp-client-rfc2217" || arg == "--tcp-client-tls")
            port.Links.push_back({JobLink::TcpClient, static_cast<uint16_t>(std::stoi(value)), 0,
                                  arg == "--tcp-client-rfc2217", arg == "--tcp-client-tls"});
        else if (arg == "--tcp-server" || arg == "--tcp-server-tls")
            port.Links.push_back({JobLink::TcpServer, static_cast<uint16_t>(std::stoi(value)), 0, false,
                                  arg == "--tcp-server-tls"});
        else if (arg == "--udp")
            port.Links.push_back({JobLink::Udp, static_cast<uint16_t>(std::stoi(value)),
                                  static_cast<uint16_t>(std::stoi(value.substr(value.find(':') + 1)))});
        else if (arg == "--log")
            port.LogFile = value;
        else
            HostFails("unknown argument " + arg);
    }
    return job;
}

CNetObject* AddLink(CPortObject& port, const JobLink& link, const Job& job)
{
    LinkOptions options;
    options.Rfc2217 = link.Rfc2217;
    if (link.Tls)
        options.Tls = link.Type == JobLink::TcpClient ? TlsSettings {true, "", "", job.TlsCa}
                                                      : TlsSettings {true, job.TlsCert, job.TlsKey};
    switch (link.Type) {
    case JobLink::TcpClient:
        return port.AddTcpClient("127.0.0.1", link.Port, options).Link;
    case JobLink::TcpServer:
        return port.AddTcpServer(link.Port, CPortObject::BindFailure::Refuse, options).Link;
    case JobLink::Udp:
        return port.AddUdp(link.Port, "127.0.0.1", link.RemotePort).Link;
    }
    return nullptr;
}

// What the window's refresh timer does every 200 ms: under the lock, look at every
// link and take its Changed flag down.
void RefreshLikeTheWindow(CQLNManager& manager, const std::vector<CPortObject*>& ports)
{
    CGuard guard(manager.Lock());
    for (CPortObject* port : ports)
        for (auto& link : port->GetNetLinks())
            link->Changed = false;
}

std::string StateLine(CQLNManager& manager, const std::vector<CPortObject*>& ports)
{
    CQLNManager::PortList opened;
    manager.CollectOpenedPorts(&opened);
    int connected = 0, clients = 0, secured = 0;
    CGuard guard(manager.Lock());
    for (CPortObject* port : ports) {
        for (auto& link : port->GetNetLinks()) {
            connected += link->Type == NetKind::TcpClient && link->GetLinkState() == LinkState::Connected;
            clients += static_cast<int>(link->ClientCount());
            if (link->Settings().Tls.On)
                secured += static_cast<int>(link->TlsReport().Sessions.size());
        }
    }
    return "state " + std::to_string(opened.size()) + " " + std::to_string(connected) + " " + std::to_string(clients)
         + " " + std::to_string(secured);
}

} // namespace

void ConsoleHostMain(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN);
    // The figures are the output: of the console's events only what went wrong.
    EventLog::Instance().SetThreshold(EventLevel::Warning);
    Job job;
    try {
        job = ParseJob(argc, argv);
    } catch (const std::exception&) {
        HostFails("a number that is not one");
    }
    std::vector<int> numbers;
    for (auto& port : job.Ports)
        numbers.push_back(port.Number);
    // Lives until _exit: the pump thread must not outlive its manager.
    auto* manager = new CQLNManager(nullptr, "");
    if (manager->StartOnPorts(numbers))
        HostFails("the console core did not start on its ports");
    CQLNManager::PortList list;
    manager->CopyPorts(&list);
    std::vector<CPortObject*> ports(list.begin(), list.end());
    if (ports.size() != job.Ports.size())
        HostFails("the console core has not every port it was given");
    for (size_t i = 0; i < ports.size(); ++i) {
        for (auto& link : job.Ports[i].Links)
            if (!AddLink(*ports[i], link, job))
                HostFails("COM" + std::to_string(numbers[i]) + ": a link was refused");
        if (!job.Ports[i].LogFile.empty()) {
            ports[i]->SetLogMode(0);
            ports[i]->SetLogFile(job.Ports[i].LogFile.c_str());
        }
        Say("port " + std::to_string(numbers[i]) + " " + PortDriver::Instance().LinkPath(numbers[i]));
    }
    // A monitor on every port, as the console model's watch puts it there. One that
    // drains takes what waits every 10 ms on a thread of its own; one that is stalled
    // is never taken from.
    std::vector<std::shared_ptr<TrafficTap>> taps;
    if (job.Monitor != MonitorKind::None) {
        for (CPortObject* port : ports) {
            taps.push_back(std::make_shared<TrafficTap>());
            port->AddTap(taps.back());
        }
    }
    if (job.Monitor == MonitorKind::Draining) {
        // Runs until the process ends (_exit below).
        std::thread([manager, taps] {
            std::vector<TrafficRecord> records;
            uint64_t missed = 0;
            for (;;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                {
                    CGuard guard(manager->Lock());
                    for (const auto& tap : taps)
                        tap->Take(records, missed);
                }
                records.clear();
            }
        }).detach();
    }
    Say("ready");

    constexpr auto Tick = std::chrono::milliseconds(200);
    auto nextTick = Clock::now() + Tick;
    std::string pending;
    for (;;) {
        int timeout = -1;
        if (job.WindowOpen) {
            // Rounded up: a wait cut short by the rounding would spin until the tick.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(nextTick - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(left, 0));
        }
        pollfd p {STDIN_FILENO, POLLIN, 0};
        int ready = poll(&p, 1, timeout);
        if (job.WindowOpen && Clock::now() >= nextTick) {
            RefreshLikeTheWindow(*manager, ports);
            nextTick += Tick;
        }
        if (ready <= 0)
            continue;
        char buffer[256];
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
        pending.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        for (size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            std::string request = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (request == "passes")
                Say("passes " + std::to_string(manager->PassCount()));
            else if (request == "state")
                Say(StateLine(*manager, ports));
            else
                Say("unknown " + request);
        }
    }
    // The pump may be mid-pass; the process ends without running destructors, as
    // the console's ports and their pseudo-terminals go with it.
    _exit(0);
}

} // namespace bench

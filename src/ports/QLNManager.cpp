#include "ports/QLNManager.h"

#include <poll.h>
#include <sys/epoll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "net/HostResolver.h"
#include "net/NetIO.h"
#include "platform/base/EventLog.h"
#include "platform/base/Folders.h"
#include "platform/base/TickCount.h"
#include "net/ReadinessWait.h"

namespace {

void Signal(int eventFd)
{
    if (eventFd < 0)
        return;
    uint64_t one = 1;
    // A full counter already wakes the waiter; nothing to do about a failure.
    [[maybe_unused]] ssize_t n = write(eventFd, &one, sizeof one);
}

void Drain(int eventFd)
{
    uint64_t drained;
    [[maybe_unused]] ssize_t n = read(eventFd, &drained, sizeof drained);
}

// Tokens of the pump's own descriptors in its wait.
constexpr uint64_t StopToken = 1;
constexpr uint64_t WakeToken = 2;
constexpr uint64_t OpenNoticeToken = 3;
// What the event log names the pump by.
const char* const PumpSource = "pump";
// Without a working wait for its own descriptors the pump looks at them this often.
constexpr int LookMs = 100;

std::string PortName(int number)
{
    return "COM" + std::to_string(number);
}

std::string WhyNotServed(int number)
{
    PortDriver& driver = PortDriver::Instance();
    if (Failure why = driver.AttachFailure(number))
        return why.Reason();
    if (!driver.IsAttached(number))
        return PortName(number) + " is not present: its device is disabled or has no driver installed";
    return PortName(number) + " is already opened elsewhere in the console";
}

} // namespace

CQLNManager::CQLNManager(WindowHandle window, const std::string& infPath)
    : ManagerLock(std::make_unique<CCriticalSection>()),
      Installer(std::make_unique<DeviceInstaller>(window, infPath)),
      StopEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      WakeEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      Resolver(std::make_unique<HostResolver>([this] { WakePump(); })),
      Ports(std::make_unique<std::list<std::unique_ptr<CPortObject>>>()),
      Sockets(CNetIO::Acquire()),
      Readiness(std::make_unique<ReadinessWait>())
{
    ManagerLock->SetReleaseHook([this] { WakePump(); });
}

CQLNManager::~CQLNManager()
{
    Signal(StopEvent.Get());
    if (Wait(5000) == WaitResult::TimedOut) {
        // A pass that takes this long is stuck in a system call. Destroying the
        // ports under it would crash the pump, so keep waiting: the pass ends when
        // the call does.
        Wait(-1);
    }
    StopEvent.Reset();
    // A lookup under way is waited for: its thread must not outlive the wake event.
    Resolver->Stop();
    DestroyPorts();
    CNetIO::Release();
    Sockets = nullptr;
    ManagerLock->SetReleaseHook(nullptr);
    WakeEvent.Reset();
}

void CQLNManager::DestroyPorts()
{
    // The pump has ended or never started: no lock is needed, but the port
    // destructors take it around their links all the same.
    while (!Ports->empty())
        Ports->pop_front();
}

Failure CQLNManager::StartOnPorts(const std::vector<int>& numbers)
{
    DestroyPorts();
    for (int number : numbers) {
        PortDriver::Instance().AttachDevice(number, DeviceLinkFolder());
        Ports->push_back(std::make_unique<CPortObject>(number, ManagerLock.get(), Resolver.get()));
    }
    OpenAllPorts();
    return StartRest();
}

Failure CQLNManager::StartRest()
{
    // A pump that could not be stopped or woken must not start: its stop would never come.
    Failure broken = Readiness->CreateFailure();
    if (!StopEvent || !WakeEvent)
        broken = Failure::Said("no event descriptor for the pump (eventfd failed)");
    if (broken) {
        SayEvent(EventLevel::Error, PumpSource, "cannot start: " + broken.Text());
        return broken;
    }
    // Every accepted connection of a server link is a descriptor: a burst of clients
    // must not run into the soft limit while the hard one allows more.
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (Sockets->Start())
        return Failure::Said("The sockets library cannot be started.");
    if (!CThread::Start())
        return Failure::Said("The pump thread cannot be started.");
    return {};
}

void CQLNManager::CopyPorts(PortList* list)
{
    if (!list)
        return;
    CGuard guard(ManagerLock.get());
    list->clear();
    for (auto& port : *Ports)
        list->push_back(port.get());
}

void CQLNManager::CollectOpenedPorts(PortList* list)
{
    if (!list)
        return;
    CGuard guard(ManagerLock.get());
    for (auto& port : *Ports) {
        if (IsOpenedByApplication(port.get()))
            list->push_back(port.get());
    }
}

// Opens every port that can be served; one that cannot stays closed with the reason
// for the window, and the others open all the same (one bad device must not silence
// every port). The driver serves a number once: of several ports with one number,
// the first in list order (enumeration order) is opened and the later ones are not.
// How many ports stay closed.
int CQLNManager::OpenAllPorts()
{
    CGuard guard(ManagerLock.get());
    ManagerLock->Touch();
    int closed = 0;
    std::set<int> numbers;
    for (auto& port : *Ports) {
        const int number = port->GetPortNumber();
        if (!numbers.insert(number).second) {
            port->CloseDriver();
            if (port->GetUnavailableReason().empty())
                port->SetUnavailableReason(PortName(number) + " is also claimed by another device");
            ++closed;
        } else if (!port->OpenDriver()) {
            port->SetUnavailableReason(std::string());
        } else {
            port->SetUnavailableReason(WhyNotServed(number));
            ++closed;
        }
    }
    return closed;
}

void CQLNManager::CloseAllPorts()
{
    CGuard guard(ManagerLock.get());
    ManagerLock->Touch();
    for (auto& port : *Ports)
        port->CloseDriver();
}

void CQLNManager::WakePump()
{
    Signal(WakeEvent.Get());
}

uint64_t CQLNManager::PassCount()
{
    return Passes.load(std::memory_order_relaxed);
}

// The pump loop. One epoll wait for every descriptor of every port (registered
// once, changed only when what is wanted of them changes), then a step for each
// port that the wait reported or whose delay, interval or retry ran out; nothing is
// done for the others. A change by the window thread (it touched the lock), an
// answer of the resolver or an application opening a port wakes the wait and has
// every port served once.
//
// An own descriptor the wait does not take is looked at after every wait, and no
// wait lasts longer than LookMs; a wait that fails is said once and replaced by a
// look at the own descriptors every LookMs, after which every port is served: the
// pump goes on, slower, and always hears its stop.
void CQLNManager::Run()
{
    {
        CGuard guard(ManagerLock.get());
        ManagerLock->MarkQuietThread();
    }
    bool looking = false; // some own descriptor is looked at, not waited for
    const struct {
        int Fd;
        uint64_t Token;
        const char* What;
    } own[] = {{StopEvent.Get(), StopToken, "the stop event"},
               {WakeEvent.Get(), WakeToken, "the wake event"},
               {PortDriver::Instance().OpenNoticeFd(), OpenNoticeToken, "the notice of applications opening ports"}};
    for (const auto& one : own) {
        if (one.Fd < 0)
            continue; // no notice on this system: the ports look for applications themselves
        if (const Failure failure = Readiness->AddOwn(one.Fd, one.Token)) {
            SayEvent(EventLevel::Error, PumpSource,
                     std::string(one.What) + " cannot be waited on (" + failure.Text() + "); the pump looks at it every "
                         + std::to_string(LookMs) + " ms");
            looking = true;
        }
    }

    std::vector<epoll_event> events(256);
    // Room after the wait's reports for the own descriptors looked at.
    const int waitCapacity = static_cast<int>(events.size()) - 3;
    bool waitBroken = false;
    bool everyPort = true; // the first step serves every port
    int timeout = 0;
    for (;;) {
        int wait = everyPort ? 0 : timeout;
        if ((looking || waitBroken) && (wait < 0 || wait > LookMs))
            wait = LookMs;
        int found = 0;
        if (!waitBroken) {
            const ReadinessWait::Found reported = Readiness->Wait(events.data(), waitCapacity, wait);
            found = reported.Count;
            if (reported.Why) {
                SayEvent(EventLevel::Error, PumpSource,
                         "the wait failed (" + reported.Why.Text() + "); from now on every port is served every "
                             + std::to_string(LookMs) + " ms");
                waitBroken = true;
                found = 0;
                wait = 0;
            }
        }
        if (looking || waitBroken) {
            found += LookAtOwn(own[0].Fd, own[1].Fd, own[2].Fd, waitBroken ? wait : 0, events.data() + found);
            everyPort = everyPort || waitBroken;
        }
        CGuard guard(ManagerLock.get());
        for (int i = 0; i < found; ++i) {
            const uint64_t token = events[i].data.u64;
            switch (token) {
            case StopToken:
                return;
            case WakeToken:
                Drain(WakeEvent.Get());
                everyPort = true;
                break;
            case OpenNoticeToken:
                PortDriver::Instance().ForgetOpenEvents();
                for (auto& port : *Ports)
                    port->OpenNoticeArrived();
                everyPort = true;
                break;
            default:
                // The registration names the socket (or master) and its port: one
                // lookup, whatever the number of ports and clients. A report of a
                // registration that ended after the wait found it is dropped.
                Readiness->Deliver(token, events[i].events);
                break;
            }
        }
        timeout = ServePorts(everyPort);
        everyPort = false;
        Passes.fetch_add(1, std::memory_order_relaxed);
    }
}

int CQLNManager::LookAtOwn(int stop, int wake, int notice, int timeout, epoll_event* out)
{
    pollfd fds[3] = {{stop, POLLIN, 0}, {wake, POLLIN, 0}, {notice, POLLIN, 0}};
    const uint64_t tokens[3] = {StopToken, WakeToken, OpenNoticeToken};
    if (::poll(fds, 3, timeout) <= 0)
        return 0; // nothing, or a signal: the pass goes on as after an empty wait
    int found = 0;
    for (int i = 0; i < 3; ++i) {
        if (fds[i].fd >= 0 && (fds[i].revents & POLLIN)) {
            out[found] = epoll_event {};
            out[found].events = EPOLLIN;
            out[found].data.u64 = tokens[i];
            ++found;
        }
    }
    return found;
}

int CQLNManager::ServePorts(bool everyPort)
{
    const int32_t now = GetTickCount32();
    bool hasDue = false;
    int32_t earliest = 0;
    for (auto& port : *Ports) {
        if (everyPort || port->IsDue(now)) {
            if (everyPort)
                port->SetWait(Readiness.get());
            port->Pump();
            port->ArmWaits();
        }
        int32_t due = 0;
        if (port->NextDue(due) && (!hasDue || TickDiff(due, earliest) < 0)) {
            earliest = due;
            hasDue = true;
        }
    }
    if (!hasDue)
        return -1;
    const int32_t left = TickDiff(earliest, GetTickCount32());
    return left > 0 ? left : 0;
}

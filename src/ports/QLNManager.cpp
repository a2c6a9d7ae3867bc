#include "ports/QLNManager.h"

#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "net/HostResolver.h"
#include "net/NetIO.h"
#include "platform/base/Folders.h"
#include "platform/base/TickCount.h"
#include "forwarding/WaitSet.h"
#include "forwarding/DriverInterface.h"

namespace {

void Signal(int eventFd)
{
    if (eventFd < 0)
        return;
    uint64_t one = 1;
    // A full counter already wakes the waiter; nothing to do about a failure.
    [[maybe_unused]] ssize_t n = write(eventFd, &one, sizeof one);
}

bool IsSignalled(int eventFd)
{
    pollfd p {eventFd, POLLIN, 0};
    // A failing wait ends the loop just as a signalled event does.
    return poll(&p, 1, 0) != 0;
}

std::string PortName(int number)
{
    return "COM" + std::to_string(number);
}

std::string WhyNotServed(int number)
{
    PortDriver& driver = PortDriver::Instance();
    std::string why = driver.AttachProblem(number);
    if (!why.empty())
        return why;
    if (!driver.IsAttached(number))
        return PortName(number) + " is not present: its device is disabled or has no driver installed";
    return PortName(number) + " is already opened elsewhere in the console";
}

} // namespace

CQLNManager::CQLNManager(WindowHandle window, const std::string& infPath)
    : ManagerLock(std::make_unique<CCriticalSection>()),
      Window(window),
      InfPath(infPath),
      StopEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      WakeEvent(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      Resolver(std::make_unique<HostResolver>([this] { WakePump(); })),
      Ports(std::make_unique<std::list<std::unique_ptr<CPortObject>>>()),
      Sockets(CNetIO::Acquire()),
      Waits(std::make_unique<WaitSet>())
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

int CQLNManager::StartOnPorts(const std::vector<int>& numbers)
{
    DestroyPorts();
    for (int number : numbers) {
        PortDriver::Instance().AttachDevice(number, DeviceLinkFolder());
        Ports->push_back(std::make_unique<CPortObject>(number, ManagerLock.get(), Resolver.get()));
    }
    OpenAllPorts();
    return StartRest();
}

int CQLNManager::StartRest()
{
    // Every accepted connection of a server link is a descriptor: a burst of clients
    // must not run into the soft limit while the hard one allows more.
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (Sockets->Start() != 0)
        return 0;
    if (!CThread::Start())
        return 0;
    return 1;
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
// 1 when every port is open.
int CQLNManager::OpenAllPorts()
{
    CGuard guard(ManagerLock.get());
    int all = 1;
    std::set<int> numbers;
    for (auto& port : *Ports) {
        const int number = port->GetPortNumber();
        if (!numbers.insert(number).second) {
            port->CloseDriver();
            if (port->GetUnavailableReason().empty())
                port->SetUnavailableReason(PortName(number) + " is also claimed by another device");
            all = 0;
        } else if (port->OpenDriver()) {
            port->SetUnavailableReason(std::string());
        } else {
            port->SetUnavailableReason(WhyNotServed(number));
            all = 0;
        }
    }
    return all;
}

void CQLNManager::CloseAllPorts()
{
    CGuard guard(ManagerLock.get());
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

void CQLNManager::Run()
{
    {
        CGuard guard(ManagerLock.get());
        ManagerLock->MarkQuietThread();
    }
    int32_t work = 1; // the first pass starts without a pause
    while (!IsSignalled(StopEvent.Get())) {
        if (work != 0)
            work = 0;
        else
            WaitForWork();
        CGuard guard(ManagerLock.get());
        for (auto& port : *Ports)
            work += port->Pump();
        Passes.fetch_add(1, std::memory_order_relaxed);
    }
}

// The pause after a pass without work. It ends as soon as anything a pass could act
// on is ready (a port's application side, a socket, a change by the window thread,
// the stop request), and lasts longer than 1 ms only when nothing else could make
// a pass do work before its deadline.
void CQLNManager::WaitForWork()
{
    Waits->Clear();
    PortDriver::Instance().ForgetOpenEvents();
    {
        CGuard guard(ManagerLock.get());
        for (auto& port : *Ports)
            port->CollectWaits(*Waits);
    }
    if (Waits->Immediate)
        return;
    Waits->Add(StopEvent.Get(), POLLIN);
    Waits->Add(WakeEvent.Get(), POLLIN);

    int timeout = -1;
    if (Waits->HasDeadline) {
        const int32_t left = TickDiff(Waits->Due, GetTickCount32());
        timeout = left > 0 ? left : 0;
    }
    if (Waits->MustPoll && (timeout < 0 || timeout > 1))
        timeout = 1;

    poll(Waits->Fds.data(), Waits->Fds.size(), timeout);
    uint64_t drained;
    [[maybe_unused]] ssize_t n = read(WakeEvent.Get(), &drained, sizeof drained);
}

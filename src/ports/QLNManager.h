#pragma once
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/CriticalSection.h"
#include "platform/base/Failure.h"
#include "platform/base/UniqueFd.h"
#include "forwarding/PortObject.h"
#include "platform/base/Thread.h"
#include "ports/DeviceInstaller.h"

class CNetIO;
class HostResolver;
class ReadinessWait;
struct epoll_event;

// Owns every port, the one lock that guards them and the pump thread that serves
// them. Built and destroyed on the window thread.
class CQLNManager : public CThread {
public:
    // What callers get: a list of ports the manager still owns.
    using PortList = std::list<CPortObject*>;

    CQLNManager(WindowHandle window, const std::string& infPath);
    // Stops the pump (waiting as long as a pass still runs), then destroys the ports.
    ~CQLNManager() override;

    // Finds the installed ports, opens them, starts the sockets library and the pump.
    // Window thread, once.
    Failure Start();
    // Like Start, but on the given port numbers instead of the installed devices: the
    // driver makes each present first. For tests and tools that have no device store.
    Failure StartOnPorts(const std::vector<int>& numbers);

    // The numbers of the installed ports, as Start finds them, without opening any;
    // for a check of the configuration beside a running console or none. Any thread.
    static std::vector<int32_t> InstalledPortNumbers();

    CCriticalSection* Lock() { return ManagerLock.get(); }
    // Replaces `list` with the ports in list order; null does nothing. Locked.
    void CopyPorts(PortList* list);
    // Appends every port an application holds open; null does nothing. Locked.
    void CollectOpenedPorts(PortList* list);

    // Device handling (window thread).
    CPortObject* AddPort(int number);
    // Removes the port and its device; a failure with Errno EBUSY when an application
    // holds the port.
    Failure RemovePort(CPortObject* port);

    // The pump loop; the pump thread only.
    void Run() override;

    // Wakes a pump that waits after a pass without work. Any thread.
    void WakePump();
    // Passes the pump has made (each return of its wait); for tests. Any thread.
    uint64_t PassCount();
    // Looks the links' host names up off the pump and window threads. Lives as
    // long as the manager; tests replace its lookup.
    HostResolver& GetResolver() { return *Resolver; }

private:
    // Device side (QLNManagerDevices.cpp), window thread: the ports follow what the
    // installer finds. Builds the list before the pump starts.
    Failure EnumeratePorts();
    // Opens every port that can be served; how many could not be.
    int OpenAllPorts();
    void CloseAllPorts();
    Failure StartRest();
    void DestroyPorts();
    // The pump thread's work after each wait, lock held: the ports due served
    // (`everyPort`: all of them). Answers how long the next wait may last (-1: until
    // something is reported).
    int ServePorts(bool everyPort);
    // Polls the pump's own descriptors (-1: none) up to `timeout` ms; a report for
    // each one readable, under its token, goes to `out` (room for three). How many.
    static int LookAtOwn(int stop, int wake, int notice, int timeout, epoll_event* out);

    std::unique_ptr<CCriticalSection> ManagerLock;
    std::unique_ptr<DeviceInstaller> Installer;
    UniqueFd StopEvent;   // eventfd: signalled once to stop the pump
    UniqueFd WakeEvent;   // eventfd: signalled to cut a pump wait short
    // Wakes the pump with every answer; stopped after the pump, before the ports go.
    std::unique_ptr<HostResolver> Resolver;
    // The ports, in enumeration order and then order of addition; guarded by the
    // manager lock (but built before the pump starts and destroyed after it ended).
    std::unique_ptr<std::list<std::unique_ptr<CPortObject>>> Ports;
    CNetIO* Sockets = nullptr;
    std::atomic<uint64_t> Passes {0}; // read without the lock, so reading it wakes nothing
    std::unique_ptr<ReadinessWait> Readiness; // the pump's wait; guarded by the manager lock
};

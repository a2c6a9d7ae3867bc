#pragma once
// A console core on one port, bridged by the manager's real pump thread, and an
// application that holds the port.
#include <chrono>
#include <memory>
#include <thread>

#include "Application.h"
#include "Bytes.h"
#include "Files.h"
#include "Loopback.h"
#include "platform/base/EventLog.h"
#include "ports/QLNManager.h"
#include "PortsHome.h"

namespace qlntest {

class Console {
public:
    explicit Console(int number = 4)
    {
        // Each test's lines are its own: a burst of an earlier test (64 ports' links
        // starting) would fold the lines this one waits for into a count.
        EventLog::Instance().Reset();
        Manager = std::make_unique<CQLNManager>(nullptr, "");
        Started = !Manager->StartOnPorts({number});
        CQLNManager::PortList ports;
        Manager->CopyPorts(&ports);
        Port = ports.front();
        Application = std::make_unique<App>(PortDriver::Instance().LinkPath(number));
    }
    ~Console()
    {
        Application.reset();
        Manager.reset();
    }
    // Reads a field of a link or port under the manager lock.
    template <typename F>
    auto Locked(F f)
    {
        CGuard guard(Manager->Lock());
        return f();
    }
    LinkState State(CNetObject* link)
    {
        return Locked([&] { return link->GetLinkState(); });
    }
    size_t ClientCount(CNetObject* link)
    {
        return Locked([&] { return link->ClientCount(); });
    }

    PortsHome Home; // first: the folders exist before the manager looks at them
    std::unique_ptr<CQLNManager> Manager;
    bool Started = false;
    CPortObject* Port = nullptr;
    std::unique_ptr<App> Application;
};

// Passes the pump makes over `seconds`: ~0 for a pump at rest, thousands for one
// that spins.
inline uint64_t PassesOver(CQLNManager& manager, double seconds)
{
    uint64_t before = manager.PassCount();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return manager.PassCount() - before;
}

} // namespace qlntest

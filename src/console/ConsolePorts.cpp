#include "console/ConsolePorts.h"

#include <cerrno>
#include <string>

#include "console/ConsoleModel.h"
#include "console/NodeTexts.h"
#include "forwarding/PortObject.h"
#include "platform/base/EventLog.h"

namespace {

const char* const AddPortFailed = "Add port failed!";
const char* const RemovePortFailed = "Remove port failed!";

std::string ComName(int64_t number)
{
    return "COM" + std::to_string(number);
}

} // namespace

CQLNManager::PortList ConsolePorts::CollectOpenedPorts()
{
    CQLNManager::PortList opened;
    if (Model.PortManager)
        Model.PortManager->CollectOpenedPorts(&opened);
    return opened;
}

ConsoleResult ConsolePorts::CanAddPort()
{
    if (!Model.PortManager)
        return ConsoleResult::Refused({});
    // Installing a port closes and reopens every port, which an application holding
    // one would notice.
    const CQLNManager::PortList opened = CollectOpenedPorts();
    if (!opened.empty())
        return ConsoleResult::Refused(OpenedPortsText(opened)
                                      + "\nBefore adding any port, please close all opened quillons!");
    return ConsoleResult::Done();
}

ConsoleResult ConsolePorts::AddPort(int number)
{
    if (ConsoleResult refusal = CanAddPort(); !refusal)
        return refusal;
    // Refused before the device store is touched: an install closes every port for
    // a moment, only to fail.
    if (number < 0)
        return ConsoleResult::Refused(AddPortFailed, "COM numbers start at 1; 0 lets the system choose.");
    if (number != 0 && FindPort(number))
        return ConsoleResult::Refused(AddPortFailed, ComName(number) + " is already a port of this console.");
    CPortObject* port = Model.PortManager->AddPort(number);
    if (!port)
        return ConsoleResult::Refused(AddPortFailed, "The port's device could not be installed.");
    SayEvent(EventLevel::Info, ComName(port->GetPortNumber()), "added");
    Model.Tell([port](ConsoleObserver& observer) { observer.PortAdded(port); });
    ConsoleResult done;
    done.Port = port;
    return done;
}

ConsoleResult ConsolePorts::RemovePort(CPortObject* port)
{
    if (!Model.PortManager || !port)
        return ConsoleResult::Refused({});
    if (!Model.Owns(port))
        return ConsoleResult::Refused(RemovePortFailed, "No such port.");
    const int32_t number = port->GetPortNumber();
    if (const Failure failed = Model.PortManager->RemovePort(port)) {
        if (failed.Errno == EBUSY)
            return ConsoleResult::Refused("Before removing the port, please close it first!",
                                          "An application holds " + ComName(number) + " open.");
        return ConsoleResult::Refused(RemovePortFailed);
    }
    SayEvent(EventLevel::Info, ComName(number), "removed");
    Model.EndWatches(port, false, ComName(number) + " was removed.");
    Model.Tell([port](ConsoleObserver& observer) { observer.PortRemoved(port); });
    return Model.ErasePortSettings(number);
}

CPortObject* ConsolePorts::FindPort(int32_t number)
{
    if (!Model.PortManager)
        return nullptr;
    CQLNManager::PortList ports;
    Model.PortManager->CopyPorts(&ports);
    for (CPortObject* port : ports) {
        if (port->GetPortNumber() == number)
            return port;
    }
    return nullptr;
}

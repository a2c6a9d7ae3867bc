#pragma once
#include <cstdint>

#include "console/ConsoleResult.h"
#include "ports/QLNManager.h"

class ConsoleModel;

// The console's commands on ports: which an application holds open, whether a port
// may be added, adding and removing one, and finding one by its number. ConsoleModel
// owns one and hands its port commands here; window thread only, as the model.
class ConsolePorts {
public:
    explicit ConsolePorts(ConsoleModel& model) : Model(model) {}
    ConsolePorts(const ConsolePorts&) = delete;
    ConsolePorts& operator=(const ConsolePorts&) = delete;

    // See ConsoleModel for each.
    CQLNManager::PortList CollectOpenedPorts();
    ConsoleResult CanAddPort();
    ConsoleResult AddPort(int number);
    ConsoleResult RemovePort(CPortObject* port);
    CPortObject* FindPort(int32_t number);

private:
    ConsoleModel& Model;
};

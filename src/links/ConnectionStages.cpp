// Implements MakeStages: the stack of a link's new connection.
#include "links/ConnectionStages.h"

#include "links/NetObject.h"
#include "links/PortSide.h"
#include "links/TelnetStage.h"

std::vector<std::unique_ptr<Stage>> MakeStages(const CNetObject& link, ComPortSession::Role role, PortSide& port)
{
    std::vector<std::unique_ptr<Stage>> stages;
    if (link.Rfc2217) {
        PortSide* side = &port;
        stages.push_back(std::make_unique<TelnetStage>(
            role, [side](LineSettings& settings) { return side->ReadLineSettings(settings); },
            port.ApplicationPresent()));
    }
    return stages;
}

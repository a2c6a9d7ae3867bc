// Implements MakeStages: the stack of a link's new connection.
#include "links/ConnectionStages.h"

#include "links/NetObject.h"
#include "links/PortSide.h"
#include "links/TelnetStage.h"
#include "links/TlsStage.h"

std::vector<std::unique_ptr<Stage>> MakeStages(const CNetObject& link, ComPortSession::Role role, PortSide& port)
{
    std::vector<std::unique_ptr<Stage>> stages;
    // TLS lowest: Telnet and line control run inside it, as device servers offer it.
    if (link.Settings().Tls.On) {
        const bool client = role == ComPortSession::Role::Client;
        stages.push_back(std::make_unique<TlsStage>(link.TlsSetup, client ? link.Settings().RemoteAddr : std::string()));
    }
    if (link.Settings().Rfc2217) {
        PortSide* side = &port;
        stages.push_back(std::make_unique<TelnetStage>(
            role, [side](LineSettings& settings) { return side->ReadLineSettings(settings); },
            port.ApplicationPresent()));
    }
    return stages;
}

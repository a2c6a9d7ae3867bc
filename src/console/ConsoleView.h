#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "forwarding/PortObject.h"

class ConsoleModel;

// What the window shows of a port or link: its number, settings and texts. Each
// takes the manager lock, and a port or link that is not the console's reads as
// empty (number 0, no text). ConsoleModel owns one and hands these reads here;
// window thread only, as the model.
class ConsoleView {
public:
    struct PortSettings {
        int32_t SendToNetDelayTime = 0;
        int32_t ReceiveFromNetDelayTime = 0;
        std::string LogFilename;
        int32_t LogMode = 0;
        bool LogTimestamps = false;
    };
    struct LinkSettings {
        NetKind Kind = NetKind::TcpClient;
        std::string RemoteAddr;
        bool AutoReconnect = true;
        int32_t ReconnectIntervalTime = DefaultReconnectInterval;
    };

    explicit ConsoleView(ConsoleModel& model) : Model(model) {}
    ConsoleView(const ConsoleView&) = delete;
    ConsoleView& operator=(const ConsoleView&) = delete;

    // See ConsoleModel for each.
    int32_t PortNumber(CPortObject* port);
    PortSettings SettingsOf(CPortObject* port);
    LinkSettings SettingsOf(CPortObject* port, CNetObject* link);
    std::string PortText(CPortObject* port);
    std::string ChangedLinkText(CPortObject* port, CNetObject* link, bool always);
    std::vector<std::pair<CNetObject*, std::string>> ChangedLinkTexts(CPortObject* port);

private:
    ConsoleModel& Model;
};

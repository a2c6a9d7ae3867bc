#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "console/ConsoleObserver.h"
#include "console/ConsoleResult.h"

class CNetObject;
class CPortObject;
class ConsoleModel;

// The console's commands on the options of ports and links: each applies the value
// under the manager lock, saves the port and tells the observers. ConsoleModel owns
// one and hands its option commands here; window thread only, as the model.
class ConsolePortOptions {
public:
    enum class Setting { SendToNetDelayTime, ReceiveFromNetDelayTime, ReconnectIntervalTime };

    explicit ConsolePortOptions(ConsoleModel& model) : Model(model) {}
    ConsolePortOptions(const ConsolePortOptions&) = delete;
    ConsolePortOptions& operator=(const ConsolePortOptions&) = delete;

    // See ConsoleModel: ReadSetting, LogNameProblem and CheckLogFile.
    static ConsoleResult ReadSetting(Setting setting, std::string_view text, int32_t& value);
    static std::string LogNameProblem(const std::string& filename);
    static ConsoleResult CheckLogFile(const std::string& filename);

    ConsoleResult SetSendToNetDelayTime(CPortObject* port, int32_t milliseconds);
    ConsoleResult SetReceiveFromNetDelayTime(CPortObject* port, int32_t milliseconds);
    ConsoleResult SetLog(CPortObject* port, const std::string& filename, int32_t mode, bool timestamps);
    ConsoleResult SetAutoReconnect(CPortObject* port, CNetObject* link, bool on);
    ConsoleResult SetReconnectIntervalTime(CPortObject* port, CNetObject* link, int32_t milliseconds);

private:
    // Applies `change` under the lock to a port of the console, saves it and tells
    // the observers of `option`.
    template <class Change>
    ConsoleResult ChangePort(CPortObject* port, CNetObject* link, ConsoleObserver::Option option,
                             Change&& change);

    ConsoleModel& Model;
};

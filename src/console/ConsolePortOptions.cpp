#include "console/ConsolePortOptions.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/ConsoleModel.h"
#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "platform/base/UniqueFd.h"
#include "platform/config/ProfileFile.h"
#include "platform/config/WholeNumber.h"

namespace {

const char* const OpenLogFailed = "Open log file failed!";

} // namespace

ConsoleResult ConsolePortOptions::ReadSetting(Setting setting, std::string_view text, int32_t& value)
{
    if (ParseWholeNumber(text, value))
        return ConsoleResult::Done();
    const char* message = "";
    switch (setting) {
    case Setting::SendToNetDelayTime:
        message = "Set send to net delay time failed!";
        break;
    case Setting::ReceiveFromNetDelayTime:
        message = "Set receive from net delay time failed!";
        break;
    case Setting::ReconnectIntervalTime:
        message = "Set reconnect interval time failed!";
        break;
    }
    return ConsoleResult::Refused(message, "Enter a whole number of milliseconds from -2147483648 to 2147483647.");
}

template <class Change>
ConsoleResult ConsolePortOptions::ChangePort(CPortObject* port, CNetObject* link, ConsoleObserver::Option option,
                                             Change&& change)
{
    if (link ? !Model.Owns(port, link) : !Model.Owns(port))
        return ConsoleResult::Refused({});
    ConsoleResult saved;
    {
        // The pump reads the options on its passes.
        CGuard guard(Model.PortManager->Lock());
        Model.PortManager->Lock()->Touch(); // the pump goes by the new value from now on
        change();
        saved = Model.SavePortSettings(port);
    }
    Model.Tell([&](ConsoleObserver& observer) { observer.OptionChanged(port, link, option); });
    return saved;
}

ConsoleResult ConsolePortOptions::SetSendToNetDelayTime(CPortObject* port, int32_t milliseconds)
{
    return ChangePort(port, nullptr, ConsoleObserver::Option::SendToNetDelayTime,
                      [&] { port->SetSendToNetDelayTime(milliseconds); });
}

ConsoleResult ConsolePortOptions::SetReceiveFromNetDelayTime(CPortObject* port, int32_t milliseconds)
{
    return ChangePort(port, nullptr, ConsoleObserver::Option::ReceiveFromNetDelayTime,
                      [&] { port->SetReceiveFromNetDelayTime(milliseconds); });
}

ConsoleResult ConsolePortOptions::SetLog(CPortObject* port, const std::string& filename, int32_t mode, bool timestamps)
{
    if (const std::string problem = LogNameProblem(filename); !problem.empty())
        return ConsoleResult::Refused("Set log file failed!", problem);
    ConsoleResult result = ChangePort(port, nullptr, ConsoleObserver::Option::Log, [&] {
        port->SetLogFile(filename.c_str());
        port->SetLogMode(mode != 0 ? 1 : 0);
        port->SetLogTimestamps(timestamps);
    });
    // A change that could not be saved is the graver news; the name is kept either way.
    if (!result || result.Unsaved)
        return result;
    return CheckLogFile(filename);
}

std::string ConsolePortOptions::LogNameProblem(const std::string& filename)
{
    if (HasLineBreakOrNul(filename))
        return "The log file's name must be one line, without a line break or a NUL character.";
    // The configuration file's bound is the shorter one: a name it could not keep
    // whole would come back as another path.
    return ProfileText::LengthProblem("The log file's name", filename);
}

ConsoleResult ConsolePortOptions::CheckLogFile(const std::string& filename)
{
    if (filename.empty())
        return ConsoleResult::Done();
    // As the log opens its file for each record: never waiting, a regular file only.
    const UniqueFd fd(::open(filename.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    std::string why;
    struct stat st {};
    if (!fd)
        why = std::strerror(errno);
    else if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        why = "it is not a regular file";
    if (why.empty())
        return ConsoleResult::Done();
    return ConsoleResult::Refused(OpenLogFailed, filename + " cannot be appended to: " + why
                                                     + ". The name is kept; nothing is logged until it can.");
}

ConsoleResult ConsolePortOptions::SetAutoReconnect(CPortObject* port, CNetObject* link, bool on)
{
    return ChangePort(port, link, ConsoleObserver::Option::AutoReconnect, [&] { link->SetAutoReconnect(on); });
}

ConsoleResult ConsolePortOptions::SetReconnectIntervalTime(CPortObject* port, CNetObject* link, int32_t milliseconds)
{
    return ChangePort(port, link, ConsoleObserver::Option::ReconnectIntervalTime,
                      [&] { link->SetReconnectInterval(milliseconds); });
}

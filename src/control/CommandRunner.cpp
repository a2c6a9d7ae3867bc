#include "control/CommandRunner.h"

#include "console/ComNumbers.h"
#include "console/ConsoleModel.h"
#include "control/StatusReport.h"
#include "platform/base/EventLog.h"

namespace {

using Verb = ControlCommand::Verb;

// The add-port dialog lists these numbers.
constexpr int32_t HighestComNumber = 256;

std::string ComName(int32_t number)
{
    return "COM" + std::to_string(number);
}

ControlReply Refused(const ConsoleResult& result)
{
    return RefusedReply(result.Message, result.Reason());
}

ControlReply Done(std::string out = {})
{
    return {0, std::move(out), {}};
}

// Done, refused, or done but not saved: then exit code 1 too, with what was done on
// standard output and why it is not saved on standard error.
ControlReply Reply(const ConsoleResult& result, std::string out = {})
{
    if (!result)
        return Refused(result);
    if (!result.Unsaved)
        return Done(std::move(out));
    ControlReply reply = Refused(result);
    reply.Out = std::move(out);
    return reply;
}

// The port's status entry; the model names ports by number.
const ConsoleStatus::Port* StatusOf(const ConsoleStatus& status, int32_t number)
{
    for (const ConsoleStatus::Port& port : status.Ports) {
        if (port.Number == number)
            return &port;
    }
    return nullptr;
}

ControlReply AddPort(ConsoleModel& model, const ControlCommand& command)
{
    if (ConsoleResult refusal = model.CanAddPort(); !refusal)
        return Refused(refusal);
    const int32_t number = command.Port;
    if (number > HighestComNumber)
        return RefusedReply("Add port failed!", "COM numbers run from 1 to 256.");
    // The dialog asks before it takes a number the database has in use; --force is
    // the answer given in advance. A port of this console is the model's to refuse.
    if (number != 0 && !command.Force && !model.FindPort(number)) {
        const std::vector<bool> inUse = ReadComNumberUsage();
        if (static_cast<size_t>(number) <= inUse.size() && inUse[static_cast<size_t>(number) - 1])
            return RefusedReply("The port number is in use!",
                                ComName(number) + " is in use in the COM number database; --force assigns it anyway.");
    }
    const ConsoleResult added = model.AddPort(number);
    if (!added)
        return Refused(added);
    const int32_t got = model.PortNumber(added.Port);
    const ConsoleStatus status = model.Status();
    const ConsoleStatus::Port* port = StatusOf(status, got);
    return Done(ComName(got) + " " + (port ? port->LinkPath : std::string()) + "\n");
}

ControlReply AddLink(ConsoleModel& model, CPortObject* port, const ControlCommand& command)
{
    // In the dialog's order: the link's ports first, then the options panel's
    // interval, so that a refused interval leaves no link behind.
    if (const LinkCheck check = CheckLink(command.Link); !check.Result)
        return Refused(check.Result);
    int32_t interval = 0;
    if (command.Link.Kind == NetKind::TcpClient && command.HasInterval) {
        if (ConsoleResult refusal = ConsoleModel::ReadSetting(ConsoleModel::Setting::ReconnectIntervalTime,
                                                              command.Interval, interval);
            !refusal)
            return Refused(refusal);
    }
    const ConsoleResult added = model.AddNet(port, command.Link);
    if (!added)
        return Refused(added);
    // Each change saves the whole section: the last save tells whether the link and
    // its options are in the file.
    ConsoleResult saved = added;
    if (command.Link.Kind == NetKind::TcpClient && command.NoReconnect)
        saved = model.SetAutoReconnect(port, added.Link, false);
    if (command.Link.Kind == NetKind::TcpClient && command.HasInterval)
        saved = model.SetReconnectIntervalTime(port, added.Link, interval);
    const ConsoleStatus status = model.Status();
    const ConsoleStatus::Port* entry = StatusOf(status, command.Port);
    if (!entry || entry->Links.empty())
        return Reply(saved);
    return Reply(saved, ComName(command.Port) + " #" + std::to_string(entry->Links.size()) + " "
                            + entry->Links.back().NodeText + "\n");
}

ControlReply OnLink(ConsoleModel& model, CPortObject* port, const ControlCommand& command)
{
    CNetObject* link = model.FindLink(port, command.Index - 1);
    if (!link)
        return RefusedReply("No such link.", ComName(command.Port) + " has no link #" + std::to_string(command.Index)
                                                 + " (see quillonctl status).");
    if (command.Action == Verb::LinkRemove)
        return Reply(model.RemoveNet(port, link));
    // The window offers Reconnect only for a TCP client link that is unconnected.
    if (!model.CanReconnect(port, link))
        return RefusedReply("Reconnect failed!", "Only a TCP client link that is unconnected reconnects.");
    const ConsoleResult done = model.Reconnect(port, link);
    return done ? Done() : Refused(done);
}

// A delay as typed: the window's number rule, and then no negative delay, which the
// window's field would take but a command line has no use for.
ConsoleResult ReadDelay(ConsoleModel::Setting setting, const std::string& text, int32_t& value)
{
    ConsoleResult result = ConsoleModel::ReadSetting(setting, text, value);
    if (result && value < 0)
        result = ConsoleResult::Refused(
            setting == ConsoleModel::Setting::SendToNetDelayTime ? "Set send to net delay time failed!"
                                                                 : "Set receive from net delay time failed!",
            "A delay is a number of milliseconds from 0 up; " + text + " is negative.");
    return result;
}

ControlReply SetOption(ConsoleModel& model, CPortObject* port, const ControlCommand& command)
{
    ConsoleResult result;
    int32_t value = 0;
    switch (command.Action) {
    case Verb::SetSendDelay:
        result = ReadDelay(ConsoleModel::Setting::SendToNetDelayTime, command.Value, value);
        if (result)
            result = model.SetSendToNetDelayTime(port, value);
        break;
    case Verb::SetReceiveDelay:
        result = ReadDelay(ConsoleModel::Setting::ReceiveFromNetDelayTime, command.Value, value);
        if (result)
            result = model.SetReceiveFromNetDelayTime(port, value);
        break;
    case Verb::SetLog: {
        // "log off" keeps the mode and timestamps, as the window's Set with an empty
        // name keeps its boxes.
        int32_t mode = command.Hex ? 1 : 0;
        bool timestamps = command.Timestamps;
        if (command.Value.empty()) {
            const ConsoleModel::PortSettings settings = model.SettingsOf(port);
            mode = settings.LogMode;
            timestamps = settings.LogTimestamps;
        }
        result = model.SetLog(port, command.Value, mode, timestamps);
        break;
    }
    default:
        break;
    }
    return Reply(result);
}

// The events the console keeps, as its standard error shows them (the journal's
// priorities aside); numbered for a follower, which asks for those after the last.
ControlReply Events(const ControlCommand& command)
{
    std::string out;
    for (const Event& event : EventLog::Instance().Since(command.After)) {
        if (command.Numbered)
            out += std::to_string(event.Number) + " ";
        out += EventLog::Format(event, false);
    }
    return Done(std::move(out));
}

} // namespace

ControlReply RefusedReply(const std::string& message, const std::string& reason)
{
    // The window's message boxes may have several lines; a refusal here is one line
    // of message and one of reason, for scripts that read standard error.
    std::string line;
    for (const char c : message) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    std::string err = line.empty() ? std::string() : line + "\n";
    if (!reason.empty())
        err += reason + "\n";
    return {1, {}, err.empty() ? "Refused.\n" : err};
}

ControlReply RunControlCommand(ConsoleModel& model, const ControlCommand& command, bool running)
{
    if (command.Action == Verb::Status) {
        const ConsoleStatus status = model.Status();
        if (command.Follow)
            return Done(StatusFacts(status));
        const InstancePaths where = InstancePaths::For();
        return Done(command.Json ? StatusJson(status, running, where) : StatusText(status, running, where));
    }
    if (command.Action == Verb::Events)
        return Events(command);
    if (command.Action == Verb::Reload) {
        std::vector<std::string> said;
        size_t problems = 0;
        const ConsoleResult reloaded = model.Reload(&said, &problems);
        std::string out;
        for (const std::string& line : said)
            out += line + "\n";
        if (!reloaded || problems == 0)
            return Reply(reloaded, out);
        // Applied as far as it could be: what was done, and exit code 1.
        return {1, std::move(out),
                "The configuration has " + std::to_string(problems) + (problems == 1 ? " problem" : " problems")
                    + "; see above.\n"};
    }
    // A monitor is a stream the console's control socket serves (ControlServer).
    if (command.Action == Verb::Monitor)
        return RefusedReply("Monitor failed!", "Only a running console can be monitored.");
    if (command.Action == Verb::PortAdd)
        return AddPort(model, command);

    CPortObject* port = model.FindPort(command.Port);
    if (!port)
        return RefusedReply("No such port.", ComName(command.Port) + " is not a port of this console.");
    switch (command.Action) {
    case Verb::PortRemove:
        return Reply(model.RemovePort(port));
    case Verb::LinkAdd:
        return AddLink(model, port, command);
    case Verb::LinkRemove:
    case Verb::LinkReconnect:
        return OnLink(model, port, command);
    default:
        return SetOption(model, port, command);
    }
}

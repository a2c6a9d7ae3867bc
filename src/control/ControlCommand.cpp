#include "control/ControlCommand.h"

#include <algorithm>
#include <charconv>

#include "platform/base/Text.h"
#include "platform/config/WholeNumber.h"

namespace {

using Verb = ControlCommand::Verb;

// Walks the words, each taken once; what is left at the end is an error.
class Words {
public:
    explicit Words(const std::vector<std::string>& words) : List(words) {}

    bool Done() const { return At >= List.size(); }
    const std::string& Peek() const { return List[At]; }
    // The next word, or empty (no word is empty: see ParseControlCommand).
    std::string Next() { return Done() ? std::string() : List[At++]; }
    size_t Position() const { return At; }
    // Takes `flag` wherever it stands among the remaining words.
    bool Flag(const char* flag)
    {
        const auto found = std::find(List.begin() + static_cast<std::ptrdiff_t>(At), List.end(), flag);
        if (found == List.end())
            return false;
        Taken.push_back(static_cast<size_t>(found - List.begin()));
        return true;
    }
    // The value after `option`, removed with it; false when the option is absent.
    // `at`, when given, receives the value's position among the words.
    bool Option(const char* option, std::string& value, std::string& error, size_t* at = nullptr)
    {
        for (size_t i = At; i < List.size(); ++i) {
            if (List[i] != option || IsTaken(i))
                continue;
            if (i + 1 >= List.size()) {
                error = std::string(option) + " needs a value";
                return false;
            }
            Taken.push_back(i);
            Taken.push_back(i + 1);
            value = List[i + 1];
            if (at)
                *at = i + 1;
            return true;
        }
        return false;
    }
    // The remaining words that no flag or option took; the first of them that looks
    // like an option is remembered as unknown.
    std::vector<std::string> Rest()
    {
        std::vector<std::string> rest;
        for (size_t i = At; i < List.size(); ++i) {
            if (IsTaken(i))
                continue;
            rest.push_back(List[i]);
            if (Unknown.empty() && List[i].starts_with("--"))
                Unknown = List[i];
        }
        At = List.size();
        return rest;
    }
    const std::string& UnknownOption() const { return Unknown; }
    size_t IndexOfRest(size_t n) const
    {
        for (size_t i = At; i < List.size(); ++i) {
            if (!IsTaken(i) && n-- == 0)
                return i;
        }
        return 0;
    }

private:
    bool IsTaken(size_t i) const { return std::find(Taken.begin(), Taken.end(), i) != Taken.end(); }

    const std::vector<std::string>& List;
    size_t At = 0;
    std::vector<size_t> Taken;
    std::string Unknown;
};

// "COM5", "com5" or "5": the number, at least 1.
bool ReadPortName(const std::string& text, int32_t& number)
{
    std::string_view digits = text;
    if (digits.size() > 3 && EqualsIgnoringCase(digits.substr(0, 3), "COM"))
        digits.remove_prefix(3);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return ParseWholeNumber(digits, number) && number >= 1;
}

// "HOST:PORT", or "[HOST]:PORT" for a host with colons.
bool SplitHostPort(const std::string& text, std::string& host, std::string& port)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return true;
}

bool Fail(ParsedCommand& parsed, std::string error)
{
    parsed.Error = std::move(error);
    return false;
}

bool ParseStatus(Words& words, ParsedCommand& parsed)
{
    parsed.Command.Json = words.Flag("--json");
    parsed.Command.Follow = words.Flag("--follow");
    return words.Rest().empty() || Fail(parsed, "status takes --json and --follow only");
}

bool ParseEvents(Words& words, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    command.Action = Verb::Events;
    command.Follow = words.Flag("--follow");
    std::string after;
    std::string error;
    command.Numbered = words.Option("--after", after, error);
    if (!error.empty())
        return Fail(parsed, error);
    if (command.Numbered) {
        const auto [end, failed] = std::from_chars(after.data(), after.data() + after.size(), command.After);
        if (failed != std::errc() || end != after.data() + after.size())
            return Fail(parsed, "--after takes an event's number");
    }
    return words.Rest().empty() || Fail(parsed, "events takes --follow only");
}

bool ParsePort(Words& words, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    const std::string action = words.Next();
    if (action == "add") {
        command.Action = Verb::PortAdd;
        command.Force = words.Flag("--force");
        const std::vector<std::string> rest = words.Rest();
        if (rest.size() > 1)
            return Fail(parsed, "port add takes one number at most");
        if (!rest.empty() && !ReadPortName(rest[0], command.Port))
            return Fail(parsed, "not a COM number: " + rest[0]);
        return true;
    }
    if (action == "remove") {
        command.Action = Verb::PortRemove;
        const std::vector<std::string> rest = words.Rest();
        if (rest.size() != 1)
            return Fail(parsed, "port remove takes one COM number");
        return ReadPortName(rest[0], command.Port) || Fail(parsed, "not a COM number: " + rest[0]);
    }
    return Fail(parsed, "port takes add or remove");
}

// The allow list and the client limit of the listening kinds, and TLS for the TCP
// kinds; any --tls-… option turns TLS on. The model checks the values as the
// dialog's fields; the files are read when the link is made.
bool ParseTrust(Words& words, const std::string& kind, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    LinkFields& link = command.Link;
    std::string error;
    if ((kind == "tcp-server" || kind == "udp") && !words.Option("--allow", link.Allow, error) && !error.empty())
        return Fail(parsed, error);
    if (kind == "tcp-server" && !words.Option("--max-clients", link.MaxClients, error) && !error.empty())
        return Fail(parsed, error);
    if (kind != "tcp-client" && kind != "tcp-server")
        return true;
    link.Tls.On = words.Flag("--tls");
    const std::pair<const char*, std::string*> files[] = {
        {"--tls-cert", &link.Tls.Cert}, {"--tls-key", &link.Tls.Key}, {"--tls-ca", &link.Tls.CA}};
    for (const auto& [option, value] : files) {
        size_t at = 0;
        if (words.Option(option, *value, error, &at)) {
            link.Tls.On = true;
            command.PathWords.push_back(at);
        } else if (!error.empty()) {
            return Fail(parsed, error);
        }
    }
    if (words.Option("--tls-pin", link.Tls.Pin, error))
        link.Tls.On = true;
    return error.empty() || Fail(parsed, error);
}

bool ParseLinkAdd(Words& words, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    LinkFields& link = command.Link;
    command.Action = Verb::LinkAdd;
    const std::string kind = words.Next();
    std::string error;
    // Line control for the TCP kinds, a listen address for the listening ones; the
    // model checks the address as the dialog's field.
    if (kind == "tcp-client" || kind == "tcp-server")
        link.Rfc2217 = words.Flag("--rfc2217");
    if ((kind == "tcp-server" || kind == "udp") && !words.Option("--listen", link.LocalAddr, error) && !error.empty())
        return Fail(parsed, error);
    if (!ParseTrust(words, kind, parsed))
        return false;
    if (kind == "tcp-client") {
        link.Kind = NetKind::TcpClient;
        command.NoReconnect = words.Flag("--no-reconnect");
        command.HasInterval = words.Option("--interval", command.Interval, error);
        if (!error.empty())
            return Fail(parsed, error);
        const std::vector<std::string> rest = words.Rest();
        if (rest.size() != 1 || !SplitHostPort(rest[0], link.RemoteAddr, link.RemotePort))
            return Fail(parsed, "tcp-client takes HOST:PORT");
        return true;
    }
    const std::vector<std::string> rest = words.Rest();
    if (kind == "tcp-server") {
        link.Kind = NetKind::TcpServer;
        if (rest.size() != 1)
            return Fail(parsed, "tcp-server takes one listen port");
        link.LocalPort = rest[0];
        return true;
    }
    if (kind == "udp") {
        link.Kind = NetKind::Udp;
        if (rest.size() != 2 || !SplitHostPort(rest[1], link.RemoteAddr, link.RemotePort))
            return Fail(parsed, "udp takes LOCALPORT HOST:PORT");
        link.LocalPort = rest[0];
        return true;
    }
    return Fail(parsed, "the link kinds are tcp-client, tcp-server and udp");
}

bool ParseLink(Words& words, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    const std::string action = words.Next();
    const std::string port = words.Next();
    if (action != "add" && action != "remove" && action != "reconnect")
        return Fail(parsed, "link takes add, remove or reconnect");
    if (!ReadPortName(port, command.Port))
        return Fail(parsed, "not a COM port: " + port);
    if (action == "add")
        return ParseLinkAdd(words, parsed);
    command.Action = action == "remove" ? Verb::LinkRemove : Verb::LinkReconnect;
    const std::vector<std::string> rest = words.Rest();
    int32_t index = 0;
    if (rest.size() != 1 || !ParseWholeNumber(rest[0], index) || index < 1)
        return Fail(parsed, "link " + action + " takes the link's INDEX, from 1");
    command.Index = static_cast<size_t>(index);
    return true;
}

bool ParseSet(Words& words, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    const std::string port = words.Next();
    if (!ReadPortName(port, command.Port))
        return Fail(parsed, "not a COM port: " + port);
    const std::string option = words.Next();
    if (option == "log") {
        command.Action = Verb::SetLog;
        command.Hex = words.Flag("--hex");
        command.Timestamps = words.Flag("--timestamps");
        const size_t fileWord = words.IndexOfRest(0);
        const std::vector<std::string> rest = words.Rest();
        if (rest.size() != 1)
            return Fail(parsed, "set log takes FILE [--hex] [--timestamps], or off");
        if (rest[0] != "off") {
            command.Value = rest[0];
            command.FileWord = fileWord;
        }
        return true;
    }
    if (option != "send-delay" && option != "receive-delay")
        return Fail(parsed, "set takes send-delay, receive-delay or log");
    command.Action = option == "send-delay" ? Verb::SetSendDelay : Verb::SetReceiveDelay;
    const std::vector<std::string> rest = words.Rest();
    if (rest.size() != 1)
        return Fail(parsed, "set " + option + " takes the milliseconds");
    command.Value = rest[0];
    return true;
}

bool ParseMonitor(Words& words, ParsedCommand& parsed)
{
    ControlCommand& command = parsed.Command;
    command.Action = Verb::Monitor;
    const bool hex = words.Flag("--hex");
    const bool text = words.Flag("--text");
    if (hex && text)
        return Fail(parsed, "monitor takes --hex or --text, not both");
    command.View = hex ? TrafficView::Hex : text ? TrafficView::Text : TrafficView::Dump;
    const std::vector<std::string> rest = words.Rest();
    if (rest.size() != 1)
        return Fail(parsed, "monitor takes one COM port");
    return ReadPortName(rest[0], command.Port) || Fail(parsed, "not a COM port: " + rest[0]);
}

} // namespace

ParsedCommand ParseControlCommand(const std::vector<std::string>& list)
{
    ParsedCommand parsed;
    if (list.empty())
        return Fail(parsed, "a command is needed"), parsed;
    if (std::any_of(list.begin(), list.end(), [](const std::string& word) { return word.empty(); }))
        return Fail(parsed, "an argument is empty"), parsed;
    Words words(list);
    const std::string verb = words.Next();
    bool ok = false;
    if (verb == "status")
        ok = ParseStatus(words, parsed);
    else if (verb == "port")
        ok = ParsePort(words, parsed);
    else if (verb == "link")
        ok = ParseLink(words, parsed);
    else if (verb == "set")
        ok = ParseSet(words, parsed);
    else if (verb == "events")
        ok = ParseEvents(words, parsed);
    else if (verb == "monitor")
        ok = ParseMonitor(words, parsed);
    else if (verb == "reload") {
        parsed.Command.Action = Verb::Reload;
        ok = words.Rest().empty() || Fail(parsed, "reload takes no arguments");
    }
    else if (verb.starts_with("-"))
        ok = Fail(parsed, "unknown option: " + verb);
    else
        ok = Fail(parsed, "unknown command: " + verb);
    // An option none of the command's takes says so, whatever else is wrong.
    if (!words.UnknownOption().empty())
        ok = Fail(parsed, "unknown option: " + words.UnknownOption());
    parsed.Ok = ok;
    return parsed;
}

std::string ControlUsage()
{
    return "usage: quillonctl status [--json] [--follow]\n"
           "       quillonctl port add [N] [--force]\n"
           "       quillonctl port remove N\n"
           "       quillonctl link add COM<n> tcp-client HOST:PORT [--no-reconnect] [--interval MS] [--rfc2217]\n"
           "                  [--tls] [--tls-ca FILE] [--tls-pin HEX] [--tls-cert FILE --tls-key FILE]\n"
           "       quillonctl link add COM<n> tcp-server PORT [--listen ADDR] [--rfc2217] [--allow LIST]\n"
           "                  [--max-clients N] [--tls --tls-cert FILE --tls-key FILE [--tls-ca FILE]]\n"
           "       quillonctl link add COM<n> udp LOCALPORT HOST:PORT [--listen ADDR] [--allow LIST]\n"
           "       quillonctl link remove COM<n> INDEX\n"
           "       quillonctl link reconnect COM<n> INDEX\n"
           "       quillonctl set COM<n> send-delay MS | receive-delay MS | log FILE [--hex] [--timestamps] | log off\n"
           "       quillonctl events [--follow]\n"
           "       quillonctl monitor COM<n> [--hex | --text]\n"
           "       quillonctl reload\n"
           "       quillonctl --version | --help\n";
}

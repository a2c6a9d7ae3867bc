#include "console/LinkFields.h"

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cstring>

#include "net/AllowList.h"
#include "net/LocalAddress.h"
#include "net/NetAddress.h"
#include "platform/config/ProfileText.h"
#include "platform/config/WholeNumber.h"

namespace {

const char* const AddNetFailed = "Add net failed!";

// One port text; false (and `check` refused) when it is not a number from 1 to 65535.
bool CheckPort(const std::string& text, const char* message, LinkCheck::Field field, uint16_t& port,
               LinkCheck& check)
{
    int32_t value = 0;
    if (ParseWholeNumber(text, value) && value >= 1 && value <= 65535) {
        port = static_cast<uint16_t>(value);
        return true;
    }
    check.Result = ConsoleResult::Refused(message, "Enter a port from 1 to 65535.");
    check.Failed = field;
    return false;
}

// The listen address: empty, or a numeric address of this machine.
bool CheckLocalAddr(const std::string& text, const char* message, LinkCheck& check)
{
    if (text.empty())
        return true;
    std::string problem = ProfileText::LengthProblem("The address", text);
    if (problem.empty())
        problem = HasLineBreakOrNul(text) ? "The address must be one line, without a line break or a NUL character."
                                          : LocalAddressProblem(text);
    if (problem.empty())
        return true;
    check.Result = ConsoleResult::Refused(message, problem);
    check.Failed = LinkCheck::Field::LocalAddr;
    return false;
}

// The remote address: as HostNameProblem and HostBlankProblem allow.
bool CheckRemoteAddr(const std::string& text, LinkCheck& check)
{
    std::string problem = HostNameProblem(text);
    if (problem.empty())
        problem = HostBlankProblem(text);
    if (problem.empty())
        return true;
    check.Result = ConsoleResult::Refused("Remote Address error!", problem);
    check.Failed = LinkCheck::Field::RemoteAddr;
    return false;
}

// A UDP socket bound to one family's address cannot send to the other's; the
// wildcard "::" (and no address) takes both. A remote name shows its family only
// when it is looked up.
bool CheckUdpFamilies(const LinkFields& fields, LinkCheck& check)
{
    NetAddress local;
    NetAddress remote;
    if (fields.LocalAddr.empty() || !NetAddress::FromNumeric(fields.LocalAddr.c_str(), local)
        || !NetAddress::FromNumeric(fields.RemoteAddr.c_str(), remote) || local.Family() == remote.Family())
        return true;
    if (local.IsAny6())
        return true;
    const bool remote6 = remote.Family() == AF_INET6;
    check.Result = ConsoleResult::Refused("Local Address error!",
                                          std::string("The remote address is ") + (remote6 ? "IPv6" : "IPv4")
                                              + " and the local address " + (remote6 ? "IPv4" : "IPv6") + ".");
    check.Failed = LinkCheck::Field::LocalAddr;
    return false;
}

// The client limit: empty (no limit) or a whole number from 0 (no limit) to 65535.
bool ReadMaxClients(const std::string& text, int32_t& limit)
{
    limit = 0;
    return text.empty() || (ParseWholeNumber(text, limit) && limit >= 0 && limit <= 65535);
}

} // namespace

// The allow list, the client limit and TLS, as far as the kind takes them.
void CheckTrust(const LinkFields& fields, LinkCheck& check)
{
    // Taken only whole: a list cut at the file's bound could still parse, as a wider
    // one. A range with host bits set is refused with the form meant.
    std::string why = ProfileText::LengthProblem("The allow list", fields.Allow);
    AllowList list;
    std::vector<std::string> hostBits;
    if (fields.Kind != NetKind::TcpClient && why.empty())
        why = AllowList::Parse(fields.Allow, list, &hostBits).Reason();
    if (fields.Kind != NetKind::TcpClient && (!why.empty() || !hostBits.empty())) {
        check.Result = ConsoleResult::Refused("Allow List error!", why.empty() ? hostBits.front() : why);
        check.Failed = LinkCheck::Field::Allow;
        return;
    }
    int32_t limit = 0;
    if (fields.Kind == NetKind::TcpServer && !ReadMaxClients(fields.MaxClients, limit)) {
        check.Result = ConsoleResult::Refused("Max Clients error!", "Enter a number of clients from 0 (no limit) to 65535.");
        check.Failed = LinkCheck::Field::MaxClients;
        return;
    }
    if (fields.Kind == NetKind::Udp)
        return;
    const std::pair<const char*, const std::string*> texts[] = {{"The certificate file's name", &fields.Tls.Cert},
                                                                {"The key file's name", &fields.Tls.Key},
                                                                {"The CA file's name", &fields.Tls.CA},
                                                                {"The pin", &fields.Tls.Pin}};
    for (const auto& [field, text] : texts) {
        std::string problem = ProfileText::LengthProblem(field, *text);
        if (problem.empty() && HasLineBreakOrNul(*text))
            problem = "A TLS file or pin must be one line, without a line break or a NUL character.";
        if (!problem.empty()) {
            check.Result = ConsoleResult::Refused("TLS error!", problem);
            check.Failed = LinkCheck::Field::Tls;
            return;
        }
    }
    if (const std::string problem = TlsSettingsProblem(fields.Tls, fields.Kind == NetKind::TcpServer); !problem.empty()) {
        check.Result = ConsoleResult::Refused("TLS error!", problem);
        check.Failed = LinkCheck::Field::Tls;
    }
}

std::string TrustSummary(const LinkFields& fields)
{
    std::vector<std::string> parts;
    if (fields.Kind != NetKind::Udp && fields.Tls.On) {
        parts.emplace_back("TLS");
        if (fields.Kind == NetKind::TcpServer && !fields.Tls.CA.empty())
            parts.emplace_back("client certificates");
        if (fields.Kind == NetKind::TcpClient && !fields.Tls.Pin.empty())
            parts.emplace_back("pinned");
    }
    if (fields.Kind != NetKind::TcpClient && !fields.Allow.empty()) {
        size_t entries = 0;
        for (size_t begin = 0; begin <= fields.Allow.size();) {
            const size_t comma = std::min(fields.Allow.find(',', begin), fields.Allow.size());
            if (fields.Allow.find_first_not_of(" \t", begin) < comma)
                ++entries;
            begin = comma + 1;
        }
        parts.push_back("allow " + std::to_string(entries) + (entries == 1 ? " entry" : " entries"));
    }
    if (fields.Kind == NetKind::TcpServer && !fields.MaxClients.empty() && fields.MaxClients != "0")
        parts.push_back("at most " + fields.MaxClients + " clients");
    std::string summary;
    for (const std::string& part : parts)
        summary += (summary.empty() ? "" : ", ") + part;
    return summary;
}

LinkOptions OptionsOf(const LinkFields& fields)
{
    LinkOptions options;
    if (fields.Kind == NetKind::TcpServer || fields.Kind == NetKind::Udp) {
        options.LocalAddr = fields.LocalAddr;
        options.Allow = fields.Allow;
    }
    if (fields.Kind == NetKind::TcpClient || fields.Kind == NetKind::TcpServer) {
        options.Rfc2217 = fields.Rfc2217;
        options.Tls = fields.Tls;
    }
    if (fields.Kind == NetKind::TcpServer && !ReadMaxClients(fields.MaxClients, options.MaxClients))
        options.MaxClients = -1;
    return options;
}

LinkCheck CheckLink(const LinkFields& fields)
{
    LinkCheck check;
    using Field = LinkCheck::Field;
    switch (fields.Kind) {
    case NetKind::TcpClient:
        if (CheckRemoteAddr(fields.RemoteAddr, check)
            && CheckPort(fields.RemotePort, "Remote Port error!", Field::RemotePort, check.RemotePort, check))
            CheckTrust(fields, check);
        return check;
    case NetKind::TcpServer:
        if (CheckPort(fields.LocalPort, "Listen Port error!", Field::LocalPort, check.LocalPort, check)
            && CheckLocalAddr(fields.LocalAddr, "Listen Address error!", check))
            CheckTrust(fields, check);
        return check;
    case NetKind::Udp:
        if (CheckPort(fields.LocalPort, "Local Port error!", Field::LocalPort, check.LocalPort, check)
            && CheckLocalAddr(fields.LocalAddr, "Local Address error!", check)
            && CheckRemoteAddr(fields.RemoteAddr, check)
            && CheckPort(fields.RemotePort, "Remote Port error!", Field::RemotePort, check.RemotePort, check)
            && CheckUdpFamilies(fields, check))
            CheckTrust(fields, check);
        return check;
    }
    check.Result = ConsoleResult::Refused(AddNetFailed, "Unknown link kind.");
    return check;
}

bool HasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string HostNameProblem(std::string_view host)
{
    if (HasLineBreakOrNul(host))
        return "The remote address must be one line, without a line break or a NUL character.";
    std::string_view name = host;
    if (name.size() > 1 && name.back() == '.')
        name.remove_suffix(1); // the root's dot of a fully qualified name
    if (name.size() > MaxHostNameLength)
        return "A host name has at most " + std::to_string(MaxHostNameLength) + " characters; this one has "
            + std::to_string(name.size()) + ".";
    for (size_t begin = 0; begin <= name.size();) {
        size_t dot = name.find('.', begin);
        if (dot == std::string_view::npos)
            dot = name.size();
        if (dot - begin > MaxHostLabelLength)
            return "Each part of a host name between dots has at most " + std::to_string(MaxHostLabelLength)
                + " characters; one has " + std::to_string(dot - begin) + ".";
        begin = dot + 1;
    }
    return {};
}

std::string HostBlankProblem(std::string_view host)
{
    if (host.empty())
        return "Enter the remote host: a name or an address.";
    if (host.find_first_of(" \t") != std::string_view::npos)
        return "A host name or address has no blanks.";
    return {};
}

std::string BindFailureReason(uint16_t port, const Failure& why)
{
    if (!why)
        return {};
    // Settings that cannot serve say so in their own words.
    if (why.Errno == 0 && !why.Call)
        return why.Reason();
    if (why.Errno == EADDRINUSE)
        return "Port " + std::to_string(port) + " is already in use.";
    return "Port " + std::to_string(port) + ": " + why.Reason() + ".";
}

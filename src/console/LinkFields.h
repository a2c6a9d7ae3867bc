#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/ConsoleResult.h"
#include "links/NetObject.h"

// A new link as the add-net dialog takes it: the kind and the texts as typed. The
// dialog's OK and the model's AddNet check it with the same CheckLink, so every way
// of adding a link refuses the same texts with the same messages.
struct LinkFields {
    NetKind Kind = NetKind::TcpClient;
    std::string RemoteAddr; // TCP client, UDP: the host as typed; only its form is checked
    std::string RemotePort; // TCP client, UDP
    std::string LocalPort;  // TCP server: the listen port; UDP: the local port
    std::string LocalAddr {}; // TCP server, UDP: the listen address; empty: every interface
    bool Rfc2217 = false;     // TCP client, TCP server: line control over Telnet
    std::string Allow {};      // TCP server, UDP: the peers taken, as typed; empty: everyone
    std::string MaxClients {}; // TCP server: as typed; empty or 0: no limit
    TlsSettings Tls {};        // TCP client, TCP server

    bool operator==(const LinkFields&) const = default;
};

// The outcome of CheckLink: the ports as numbers, or the first text that failed.
struct LinkCheck {
    enum class Field { None, RemoteAddr, RemotePort, LocalPort, LocalAddr, Allow, MaxClients, Tls };

    ConsoleResult Result;
    Field Failed = Field::None; // the dialog gives this field's edit the focus
    uint16_t LocalPort = 0;
    uint16_t RemotePort = 0;
};

// The fields of the kind, in the dialog's order: TCP client "Remote Address error!",
// then "Remote Port error!"; TCP server "Listen Port error!", then "Listen Address
// error!"; UDP "Local Port error!", then "Local Address error!", then "Remote
// Address error!", then "Remote Port error!" (each only when the ones before
// passed). Each port is a whole number from 1 to 65535. A remote address is looked
// up only when the link uses it, but it must be one line and of a host name's size
// (HostNameProblem). A listen address, when given, must be a numeric address of
// this machine; a UDP link's numeric remote address must be of a family its local
// address can reach. Then, for the kinds that take them: "Allow List error!" with
// the entry and why ("10.0.0.0/33: prefix longer than 32", "10.0.0.5/8: host bits
// set; 10.0.0.0/8?"), "Max Clients error!", "TLS error!" (the files are read only
// when the link is made; their names must be one line). No text longer than the
// configuration file keeps whole (ProfileText::LongestValue) passes: the field's
// message says so. A kind the console does not know is refused with "Add net failed!".
LinkCheck CheckLink(const LinkFields& fields);
// The part of CheckLink for the allow list, the client limit and TLS (the security
// dialog's own OK); `check` is refused with the same words when one fails.
void CheckTrust(const LinkFields& fields, LinkCheck& check);
// What is set of them in one line, for the add-net dialog: "TLS, client
// certificates, allow 2 entries, at most 4 clients"; empty when nothing is.
std::string TrustSummary(const LinkFields& fields);

// Whether the text holds a line break (CR or LF) or a NUL: no such value can be kept
// in the configuration file, whose lines it would break.
bool HasLineBreakOrNul(std::string_view text);

// DNS bounds a name to 253 characters (without a final dot) and each label between
// dots to 63.
constexpr size_t MaxHostNameLength = 253;
constexpr size_t MaxHostLabelLength = 63;

// Why `host` cannot be a link's remote address, in words for the user, or empty when
// it can: a line break or NUL, or beyond the bounds of DNS. An empty host passes
// (the link then never reaches anything, as always).
std::string HostNameProblem(std::string_view host);
// Why `host` names nothing a link could reach: it is empty, or holds a blank. The
// dialog and quillonctl refuse such a host; a stored one is kept, with a warning.
std::string HostBlankProblem(std::string_view host);

// The options of `fields` that its kind takes. A client limit that is not a number
// from 0 to 65535 becomes -1, which the link refuses.
LinkOptions OptionsOf(const LinkFields& fields);

// The second line of "Add net failed!" for a local port the link could not have:
// "Port 30000 is already in use.", or "Port 30000: <why>."; settings that cannot
// serve (a TLS file that cannot be had) give their own words; empty without a reason.
std::string BindFailureReason(uint16_t port, const Failure& why);

#pragma once
#include <cstdint>
#include <string>

#include "net/LinkKinds.h"
#include "net/ReportedLine.h"
#include "ports/QLNManager.h"

class CNetObject;
class CPortObject;

// The texts the console shows for its ports and links: the window's tree nodes, and
// the same words wherever else a port or link is named.

// "COM5", or "COM5 (Unavailable)" while the port cannot be served.
std::string PortNodeText(CPortObject& port);

// "(Unconnected)", "(Connecting)", "(Connected)".
std::string StateText(LinkState state);

// By kind, with the state in front:
//   "(Connected) TCP Client / Remote Addr:Port 127.0.0.1:30000"
//   "(2) TCP Server / Listen Port 30000", "(Not listening) TCP Server / Listen Port 30000"
//   "UDP / Local Port 30000, Remote Addr:Port 127.0.0.1:31000", "(Not listening) UDP / …"
// An IPv6 remote address shows in brackets ("[::1]:30000"); a listen address, when
// set, in front of the local port ("Listen Port 127.0.0.1:30000").
// Manager lock held by the caller (the pump changes the state and the clients).
std::string LinkNodeText(const CNetObject& link);
// The tree's text of a link: its node text, then what it carries beyond raw bytes,
// "  [TLS]", "  [RFC 2217]" or "  [TLS, RFC 2217]".
std::string LinkTreeText(const CNetObject& link);

// The far serial port of a TCP client link with line control, as its server last
// reported it: "9600 baud 7E2, flow hardware, DTR on, RTS on, modem state 0x30";
// "not agreed" while the server has not taken the option. Unknown parts show "?".
std::string FarLineText(const ReportedLine& line);

// Where applications open the port (its COM<n> link), or why it cannot be served.
std::string PortPlaceText(CPortObject& port);

// "COM<n> is opened!\n" for each port in list order: the head of the messages that
// refuse adding a port or ask before closing while applications hold ports.
std::string OpenedPortsText(const CQLNManager::PortList& ports);

// A traffic log whose last record could not be written: "log stopped: No space left
// on device (since 17:30:01)"; the date comes too when it is not today. `since` is
// milliseconds since 1970, shown in local time.
std::string LogStoppedText(const std::string& reason, int64_t since);

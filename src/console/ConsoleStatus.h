#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "links/TlsSettings.h"
#include "net/LinkKinds.h"
#include "net/ReportedLine.h"

class CPortObject;
class CQLNManager;
class CNetObject;

// Every port and link of a console at one moment, as plain values: what a status
// report prints and what the window's live figures show. Taken in one hold of the
// manager lock, so the figures of all ports belong to the same moment.
//
// New figures are added as fields here; readers take what they know.
struct ConsoleStatus {
    struct Link {
        NetKind Kind = NetKind::TcpClient;
        int32_t LocalPort = 0;          // TCP server: listen port; UDP: local port
        std::string LocalAddr;          // TCP server, UDP: listen address; empty: all interfaces
        bool Rfc2217 = false;           // TCP client, TCP server: line control over Telnet
        std::string RemoteAddr;         // TCP client, UDP: as stored
        uint16_t RemotePort = 0;        // TCP client, UDP
        LinkState State = LinkState::Unconnected;  // TCP client; others Unconnected
        bool Listening = true;          // false while a server or UDP link waits for its port
        size_t Clients = 0;             // TCP server: accepted connections
        std::vector<std::string> ClientPeers; // TCP server: their addresses, "192.0.2.7:50312"
        // TCP server: what each client's connection says of itself, in the same order
        // ("asks 115200 8N1, flow none, DTR on, RTS on" for an RFC 2217 client; empty: nothing).
        std::vector<std::string> ClientNotes;
        bool AutoReconnect = false;     // TCP client
        int32_t ReconnectIntervalTime = 0; // TCP client, milliseconds
        std::string NodeText;           // as the window's tree shows it
        std::string Name;               // as the event log names it: "COM2 #3 tcp-client 127.0.0.1:7201"
        uint64_t BytesSent = 0;         // to the link's peers (to each client of a server)
        uint64_t BytesReceived = 0;
        int64_t LastChange = 0;         // wall clock, milliseconds since 1970; 0: never
        std::string LastError;          // why the last attempt, bind or connection failed
        int64_t LastErrorTime = 0;      // when, wall clock as LastChange; 0: never failed
        // The link came up after that failure (a TCP client connected, a server or
        // UDP link bound its port): the failure is history, not its state.
        bool LastErrorPast = false;
        // TCP client with line control, once it connected: what the far serial port
        // reported on the current (or last) connection.
        bool FarLineKnown = false;
        ReportedLine FarLine;
        std::string Allow;              // TCP server, UDP: the peers taken; empty: everyone
        int32_t MaxClients = 0;         // TCP server: 0: no limit
        TlsSettings Tls;                // TCP client, TCP server: as stored
        TlsFigures TlsNow;              // its own certificate and its connections' sessions
        uint64_t Refused = 0;           // TCP server, UDP: peers turned away
        std::string LastRefusedPeer;    // the last of them, "192.0.2.7:50312"
        std::string LastRefusedWhy;     // and why, "not in the allow list"
        uint64_t Backlog = 0;           // bytes kept for a peer that is down
        uint64_t BacklogDropped = 0;    // bytes dropped from the backlog since the link was made
    };
    struct Port {
        int32_t Number = 0;
        std::string LinkPath;           // the COM<n> link applications open; empty when absent
        std::string UnavailableReason;  // empty while the port is served
        bool HeldByApplication = false;
        int32_t SendToNetDelayTime = 0;
        int32_t ReceiveFromNetDelayTime = 0;
        std::string LogFilename;
        int32_t LogMode = 0;
        bool LogTimestamps = false;     // each record with its time, link and peer
        // The log's last record could not be written (LogStoppedText says it).
        bool LogStopped = false;
        std::string LogStoppedReason;   // "No space left on device"
        int64_t LogStoppedSince = 0;    // wall clock, milliseconds since 1970
        uint64_t LogRecordsLost = 0;    // since it stopped
        size_t ToNetQueued = 0;         // bytes from the application not yet sent on
        size_t FromNetQueued = 0;       // bytes for the application not yet written
        uint64_t DroppedDatagrams = 0;
        uint64_t BytesToApplication = 0;
        uint64_t BytesFromApplication = 0;
        std::vector<Link> Links;        // in list order (the INI's order)
    };

    std::vector<Port> Ports; // in the manager's order (the tree's order)
    bool Window = false;     // the console shows its window (false: it runs headless)
};

// The status of every port of `manager`, or of `only` that one (none when it is not
// the manager's), with every link of each, or `onlyLink` alone, or none without
// `links`. Takes the manager lock.
ConsoleStatus TakeStatus(CQLNManager& manager, CPortObject* only = nullptr, CNetObject* onlyLink = nullptr,
                         bool links = true);

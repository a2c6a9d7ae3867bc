#pragma once
#include <string>

#include "console/ConsoleStatus.h"
#include "control/InstancePaths.h"

// The console's status as quillonctl prints it. `running` false: no console runs,
// and the status is that of the installed ports and their configured links as a
// console would bring them up.
//
// JSON, one line, for scripts:
//   {"version":1,"running":true,"ports":[{"name":"COM3","number":3,"path":"…/dev/COM3",
//     "available":true,"unavailableReason":"","heldByApplication":false,
//     "sendDelay":0,"receiveDelay":0,"log":{"file":"","hex":false},
//     "bytesToApplication":0,"bytesFromApplication":0,"queuedToNet":0,
//     "queuedFromNet":0,"droppedDatagrams":0,
//     "links":[{"index":1,"kind":"tcp-client","state":"connected",…}]}]}
// Link fields by kind: tcp-client remoteHost, remotePort, autoReconnect,
// reconnectInterval; tcp-server localPort, clients (their "address:port"); udp
// localPort, remoteHost, remotePort. Every link: index (from 1), kind, state
// ("unconnected", "connecting", "connected"; a server or UDP link "listening" or
// "not-listening"), text (as the window's tree shows it), bytesSent, bytesReceived,
// lastChange (ms since 1970, 0: never), lastError with lastErrorTime (ms since
// 1970, 0: never) and lastErrorPast (the link came up since). "window" says whether
// the console shows its window. "runtimeFolder" is the folder of the lock and the
// sockets (`where`), "runtimeFolderNote" why XDG_RUNTIME_DIR was not used ("" when
// it was, or is unset); both are left out without a folder.
std::string StatusJson(const ConsoleStatus& status, bool running, const InstancePaths& where = {});

// The same for a person: the window's texts, one port and its links per block, then
// "Runtime folder <folder>" with the note, if any.
std::string StatusText(const ConsoleStatus& status, bool running, const InstancePaths& where = {});

// "last failure 2026-12-07 17:30:01.123 (past): Connection refused", "(past)" once
// the link came up after it; empty for a link that never failed.
std::string LastFailureText(const ConsoleStatus::Link& link);

// The status as `status --follow` compares it from one moment to the next: one
// fact per line, "<what>\t<name>\t<value>", in the status's order. Each port
// ("COM3") and link ("COM3 #2") starts with its fact of no name, what it is (the
// port's path, the link's kind and addresses), then its figures and states.
std::string StatusFacts(const ConsoleStatus& status);

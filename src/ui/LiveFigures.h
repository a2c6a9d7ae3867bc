#pragma once
#include <QString>
#include <QStringList>

#include "console/ConsoleStatus.h"

// The words of the live figures under the tree: what a port or a link has moved and
// how it is doing, from one status taken by the refresh. Each comes in two forms:
// short lines for the small options panel, and the whole story, with exact byte
// counts and one client per line, for its tooltip.
struct FigureText {
    QStringList Lines;
    QString Full;
};

// Whether an application holds the port with the bytes to and from it (first
// line); bytes waiting each way and datagrams dropped (second line), after a line
// that says the traffic log stopped while it is.
FigureText PortFigures(const ConsoleStatus::Port& port);

// Bytes sent and received, the last change of state, the last failure with its time
// (marked "(past)" once the link has come up since), a server's clients with their
// addresses, for a link with RFC 2217 the serial line as the far end reported it, and
// the allow list, client limit, TLS and peers turned away.
FigureText LinkFigures(const ConsoleStatus::Link& link);

// A byte count for a narrow panel: exact up to 99,999, then in KiB, MiB or GiB.
QString ShortBytes(uint64_t bytes);

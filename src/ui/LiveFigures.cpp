#include "ui/LiveFigures.h"

#include <iterator>

#include <QDateTime>
#include <QLocale>

#include "console/NodeTexts.h"

namespace {

QString Count(uint64_t value)
{
    return QLocale(QLocale::English).toString(static_cast<qulonglong>(value));
}

// Local time of day, with the date once it is not today; "never" for 0.
QString When(int64_t millisecondsSince1970)
{
    if (millisecondsSince1970 <= 0)
        return "never";
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(millisecondsSince1970).toLocalTime();
    if (at.date() == QDate::currentDate())
        return at.toString("HH:mm:ss");
    return at.toString("yyyy-MM-dd HH:mm:ss");
}

// A link with RFC 2217 says so; a client link's far end speaks for a real serial
// port, and the line settings and modem state it last reported follow.
QString LineState(const ConsoleStatus::Link& link)
{
    if (!link.Rfc2217)
        return {};
    if (!link.FarLineKnown)
        return "RFC 2217";
    return "RFC 2217, far line: " + QString::fromStdString(FarLineText(link.FarLine));
}

// The allow list, the client limit, TLS (the own certificate, so that the far side
// can pin it, and each connection's session) and the peers turned away.
void TrustLines(const ConsoleStatus::Link& link, QStringList& lines, QStringList& full)
{
    auto both = [&](const QString& line) {
        lines << line;
        full << line;
    };
    if (!link.Allow.empty())
        both("Allow: " + QString::fromStdString(link.Allow));
    if (link.MaxClients != 0)
        both("At most " + QString::number(link.MaxClients) + " clients");
    if (link.Tls.On) {
        const TlsFigures& tls = link.TlsNow;
        if (!tls.Fingerprint.empty()) {
            lines << "TLS certificate " + QString::fromStdString(tls.Fingerprint);
            full << "TLS certificate (SHA-256): " + QString::fromStdString(tls.Fingerprint)
                    << "Valid until: " + QString::fromStdString(tls.NotAfter);
        }
        if (!link.Tls.Pin.empty())
            both("TLS pinned " + QString::fromStdString(link.Tls.Pin));
        else if (tls.Fingerprint.empty())
            both("TLS");
        for (const TlsSession& session : tls.Sessions) {
            QString line = QString::fromStdString((session.Peer.empty() ? "" : session.Peer + " ") + session.Version
                                                  + " " + session.Cipher);
            if (!session.PeerSubject.empty() || !session.PeerFingerprint.empty())
                line += QString::fromStdString(", peer " + session.PeerSubject + " " + session.PeerFingerprint);
            both(line);
        }
    }
    if (link.Backlog != 0 || link.BacklogDropped != 0)
        both("Backlog: " + Count(link.Backlog) + " bytes · " + Count(link.BacklogDropped) + " dropped while down");
    if (link.Refused != 0)
        both("Refused " + Count(link.Refused) + ", last " + QString::fromStdString(link.LastRefusedPeer) + ": "
             + QString::fromStdString(link.LastRefusedWhy));
}

} // namespace

QString ShortBytes(uint64_t bytes)
{
    if (bytes < 100000)
        return Count(bytes) + " B";
    static const char* const Units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(Units)) {
        value /= 1024.0;
        ++unit;
    }
    return QString::number(value, 'f', 1) + ' ' + Units[unit];
}

FigureText PortFigures(const ConsoleStatus::Port& port)
{
    FigureText text;
    const QString held = port.HeldByApplication ? "Open" : "Not open";
    text.Lines << held + " · to app " + ShortBytes(port.BytesToApplication) + " · from app "
            + ShortBytes(port.BytesFromApplication);
    text.Lines << "Waiting " + ShortBytes(port.FromNetQueued) + " to app, " + ShortBytes(port.ToNetQueued)
            + " to net · " + Count(port.DroppedDatagrams) + " datagrams dropped";
    QStringList full{
        port.HeldByApplication ? "An application holds the port open." : "No application holds the port.",
        "To the application: " + Count(port.BytesToApplication) + " bytes",
        "From the application: " + Count(port.BytesFromApplication) + " bytes",
        "Waiting for the application: " + Count(port.FromNetQueued) + " bytes",
        "Waiting for the network: " + Count(port.ToNetQueued) + " bytes",
        "Datagrams dropped: " + Count(port.DroppedDatagrams),
    };
    if (port.LogStopped) {
        const QString stopped = QString::fromStdString(LogStoppedText(port.LogStoppedReason, port.LogStoppedSince));
        // In the place of the bytes waiting, which the panel has one line for: this
        // is the news; the tooltip keeps both.
        text.Lines.insert(1, stopped);
        full << stopped + ", " + Count(port.LogRecordsLost) + " records lost";
    }
    text.Full = full.join('\n');
    return text;
}

FigureText LinkFigures(const ConsoleStatus::Link& link)
{
    FigureText text;
    QStringList full;
    text.Lines << "Sent " + ShortBytes(link.BytesSent) + " · received " + ShortBytes(link.BytesReceived);
    full << "Sent: " + Count(link.BytesSent) + " bytes" << "Received: " + Count(link.BytesReceived) + " bytes";
    text.Lines << "Last change " + When(link.LastChange);
    full << "Last change: " + When(link.LastChange);
    if (!link.LastError.empty()) {
        // When, and whether the link has come up since: then it is history.
        const QString when = link.LastErrorTime > 0 ? When(link.LastErrorTime) : QString("at an unknown time");
        const QString past = link.LastErrorPast ? " (past)" : "";
        const QString failure = QString::fromStdString(link.LastError);
        text.Lines << "Last failure " + when + past + ": " + failure;
        full << "Last failure: " + failure + ", " + when + (link.LastErrorPast ? "; the link has come up since" : "");
    }
    if (link.Kind == NetKind::TcpServer) {
        QStringList peers;
        for (size_t i = 0; i < link.ClientPeers.size(); ++i) {
            const std::string note = i < link.ClientNotes.size() ? link.ClientNotes[i] : std::string();
            peers << QString::fromStdString(link.ClientPeers[i] + (note.empty() ? "" : " " + note));
        }
        text.Lines << "Clients: " + (peers.isEmpty() ? QString("none") : peers.join(", "));
        full << "Clients: " + (peers.isEmpty() ? QString("none") : '\n' + peers.join('\n'));
    }
    if (const QString line = LineState(link); !line.isEmpty()) {
        text.Lines << line;
        full << line;
    }
    TrustLines(link, text.Lines, full);
    text.Full = full.join('\n');
    return text;
}

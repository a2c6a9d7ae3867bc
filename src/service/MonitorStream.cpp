#include "service/MonitorStream.h"

#include <QLocalSocket>

#include "console/ConsoleModel.h"
#include "control/ControlProtocol.h"

MonitorStream::MonitorStream(QLocalSocket* socket) : QObject(socket), Socket(socket)
{
    // The client reads again: what waited in the watch, and the count of what was
    // missed meanwhile, can go.
    connect(Socket, &QLocalSocket::bytesWritten, this, [this] {
        if (Held && Socket->bytesToWrite() < MaxPending)
            Flush();
    });
}

// The watch goes first, under the manager lock: no wake can reach this object after.
MonitorStream::~MonitorStream() = default;

ConsoleResult MonitorStream::Start(ConsoleModel& model, CPortObject* port)
{
    ConsoleResult refusal;
    // Called on the pump thread with the manager lock held: it only posts.
    Watch = model.Watch(port, [this] { QMetaObject::invokeMethod(this, [this] { Flush(); }, Qt::QueuedConnection); },
                        &refusal);
    if (!Watch)
        return refusal;
    Socket->write(QByteArray::fromStdString(ControlProtocol::EncodeReply({0, {}, {}})));
    return ConsoleResult::Done();
}

void MonitorStream::Flush()
{
    if (!Watch || Ending)
        return;
    // While the client does not read, records stay in the watch, which keeps what it
    // can and counts the rest.
    Held = Socket->bytesToWrite() >= MaxPending && !Watch->Ended();
    if (Held)
        return;
    uint64_t missed = 0;
    const std::vector<TrafficRecord> records = Watch->Take(missed);
    QByteArray out;
    // What the connection cannot take is counted with what the watch missed after it.
    size_t sent = 0;
    for (; sent < records.size() && Socket->bytesToWrite() + out.size() < MaxPending; ++sent)
        out += QByteArray::fromStdString(ControlProtocol::EncodeRecord(records[sent]));
    missed += records.size() - sent;
    if (missed > 0)
        out += QByteArray::fromStdString(ControlProtocol::EncodeMissed(missed));
    if (Watch->Ended()) {
        Ending = true;
        out += QByteArray::fromStdString(ControlProtocol::EncodeEnd(Watch->EndReason()));
    }
    if (!out.isEmpty())
        Socket->write(out);
    // Closes once what is written has gone out.
    if (Ending)
        Socket->disconnectFromServer();
}

#include "service/MonitorStream.h"

#include <QLocalSocket>

#include "console/ConsoleModel.h"
#include "control/ControlProtocol.h"

MonitorStream::MonitorStream(QLocalSocket* socket) : QObject(socket), Socket(socket)
{
    // The client reads again: what waits can go.
    connect(Socket, &QLocalSocket::bytesWritten, this, [this] {
        if (Held && Socket->bytesToWrite() < MaxPending)
            Flush();
    });
}

MonitorStream::~MonitorStream()
{
    // The watch goes first, under the manager lock: no wake reaches this object after.
    Watch.reset();
}

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

bool MonitorStream::WriteWaiting()
{
    QByteArray out;
    while (!Waiting.empty() && Socket->bytesToWrite() + out.size() < MaxPending) {
        out += QByteArray::fromStdString(ControlProtocol::EncodeRecord(Waiting.front()));
        Waiting.pop_front();
    }
    if (Waiting.empty() && MissedAfter > 0) {
        out += QByteArray::fromStdString(ControlProtocol::EncodeMissed(MissedAfter));
        MissedAfter = 0;
    }
    if (!out.isEmpty())
        Socket->write(out);
    return Waiting.empty();
}

void MonitorStream::Flush()
{
    if (!Watch || Ending)
        return;
    // While the client does not read, what was taken waits here and the rest in the
    // watch, which keeps what its bound holds and counts what follows.
    Held = !WriteWaiting() || (Socket->bytesToWrite() >= MaxPending && !Watch->Ended());
    if (Held)
        return;
    std::vector<TrafficRecord> records = Watch->Take(MissedAfter);
    Waiting.assign(std::make_move_iterator(records.begin()), std::make_move_iterator(records.end()));
    Held = !WriteWaiting();
    if (Held || !Watch->Ended())
        return;
    // Closes once what is written has gone out.
    Ending = true;
    Socket->write(QByteArray::fromStdString(ControlProtocol::EncodeEnd(Watch->EndReason())));
    Socket->disconnectFromServer();
}

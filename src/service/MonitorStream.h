#pragma once
#include <QObject>
#include <cstdint>
#include <deque>
#include <memory>

#include "console/ConsoleResult.h"
#include "console/TrafficWatch.h"

class CPortObject;
class ConsoleModel;
class QLocalSocket;

// One `quillonctl monitor` on the control socket: the records of a port's traffic
// written to the connection as they come (ControlProtocol's stream), until the client
// goes, the port is removed or the console stops.
//
// The console never waits for the client: the records go on the event loop, and
// while the client leaves MaxPending bytes unread, what was taken from the watch
// waits here and the rest in the watch, whose bound counts what it cannot keep; the
// count goes to the client after the records before it. A connection the client
// closed takes the watch with it.
//
// Window (main) thread only. A child of its socket, which it closes at the end.
class MonitorStream : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 MaxPending = 1 << 20;

    explicit MonitorStream(QLocalSocket* socket);
    ~MonitorStream() override;

    // Watches `port`: the request is answered with exit code 0 and the records follow.
    // A refusal (ConsoleModel::Watch's) is returned unanswered, and the stream does
    // nothing.
    ConsoleResult Start(ConsoleModel& model, CPortObject* port);

private:
    // Takes what the watch has and writes what the connection can take.
    void Flush();
    // Writes what waits while the connection takes it; true when nothing waits.
    bool WriteWaiting();

    QLocalSocket* Socket;
    std::unique_ptr<TrafficWatch> Watch;
    std::deque<TrafficRecord> Waiting; // taken from the watch, not yet written
    uint64_t MissedAfter = 0;          // the records the watch missed after Waiting's
    bool Held = false;                 // records wait until the client reads
    bool Ending = false;
};

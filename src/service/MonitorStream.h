#pragma once
#include <QObject>
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
// while the client leaves MaxPending bytes unread they wait in the watch, whose
// bound drops and counts the rest; the count goes to the client once it reads again.
// A connection the client closed takes the watch with it.
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

    QLocalSocket* Socket;
    std::unique_ptr<TrafficWatch> Watch;
    bool Held = false;   // records wait in the watch until the client reads
    bool Ending = false;
};

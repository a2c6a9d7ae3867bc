#pragma once
#include <QLocalServer>
#include <QObject>
#include <QString>

class ConsoleModel;
class QLocalSocket;

// The console's control socket: each connection brings one quillonctl request
// (ControlProtocol), carried out on the console's model on this thread, as the
// window's menu would; the reply goes back and the connection closes.
//
// A client is untrusted even though it is local: only a process of this user is
// served (its credentials are checked), a request line is bounded, a connection
// that does not finish within a few seconds is dropped, and only a few are served
// at once. Nothing a client sends can stall the console: every read and write
// waits on the event loop.
//
// Window (main) thread only. The model outlives the server.
class ControlServer : public QObject {
    Q_OBJECT

public:
    ControlServer(ConsoleModel& model, QString path);
    // Stops listening and removes the socket's file.
    ~ControlServer() override;

    // Listens at the path, replacing a socket file a killed console left (the
    // caller holds the single-instance lock). False, with `why`, when it cannot.
    bool Listen(QString& why);

private:
    void Serve(QLocalSocket* socket);
    void Answer(QLocalSocket* socket, const QByteArray& line);

    ConsoleModel& Model;
    QString Path;
    int Connections = 0; // before Server: its sockets count down as it destroys them
    QLocalServer Server;
};

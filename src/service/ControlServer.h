#pragma once
#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <vector>

#include "control/ControlCommand.h"

class ConsoleModel;
class QLocalSocket;
class QTimer;

// The console's control socket: each connection brings one quillonctl request
// (ControlProtocol), carried out on the console's model on this thread, as the
// window's menu would; the reply goes back and the connection closes.
//
// A client is untrusted even though it is local: only a process of this user is
// served (its credentials are checked), a request line is bounded, and nothing a
// client sends can stall the console: every read and write waits on the event loop.
// Connections are served in turn: a connection holds one of MaxReceiving slots only
// while its request is on the way, and one that has not sent a whole request within
// RequestDeadlineMs is closed. While every slot is held, new connections wait in the
// listen queue (a client's connect waits, up to its own time-out) instead of being
// turned away. A reply that the client does not read is dropped with its connection
// after ConnectionDeadlineMs.
//
// A monitor ("monitor COM<n>") is the one request whose connection stays: its slot
// was given back with its request, and its stream (MonitorStream) lasts until the
// client, the port or the console goes, never waiting for the client.
//
// A follower of the event log ("events --after N --follow") that has seen every
// event is answered once there is a new one, or empty after FollowHoldMs; at the
// console's end (Finish) it gets the last ones, the console's "stopped" among them.
//
// Window (main) thread only. The model outlives the server.
class ControlServer : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxReceiving = 64;
    static constexpr int RequestDeadlineMs = 2000;
    static constexpr int ConnectionDeadlineMs = 10000;
    static constexpr int FollowHoldMs = 2000;
    // How long Finish waits for a follower's next request.
    static constexpr int FinishWaitMs = 100;

    ControlServer(ConsoleModel& model, QString path);
    // Stops listening and removes the socket's file.
    ~ControlServer() override;

    // Listens at the path, replacing a socket file a killed console left (the
    // caller holds the single-instance lock). False, with `why`, when it cannot.
    bool Listen(QString& why);
    // The console is done and has said its last event: every follower waiting for
    // events gets what it has not seen yet, and its reply is written out now (no
    // event loop runs any more).
    void Finish();

private:
    // Takes waiting connections while slots are free.
    void TakeWaiting();
    void Serve(QLocalSocket* socket);
    // `deadline` closes the connection unless a monitor's stream stops it.
    void Answer(QLocalSocket* socket, const QByteArray& line, QTimer* deadline);
    // Answers the followers that have news, or waited long enough (all: every one).
    void AnswerFollowers(bool all);
    // In Finish: reads a connection's request at once; a follower's is kept.
    void TakeLastFollower(QLocalSocket* socket);
    int FollowersAway = 0; // answered, their next request not in yet

    struct Follower {
        QPointer<QLocalSocket> Socket;
        ControlCommand Command;
        std::chrono::steady_clock::time_point Since;
    };
    std::vector<Follower> Followers;
    QTimer FollowCheck;

    ConsoleModel& Model;
    QString Path;
    int Receiving = 0;    // slots held; before Server: its sockets give theirs back as it destroys them
    bool Closing = false; // in the destructor: nothing more is taken
    QLocalServer Server;
};

#pragma once
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "control/InstanceLock.h"
#include "control/InstancePaths.h"

class QLocalSocket;

// One console per user. The lock file "QLN_Console.lock" in the runtime folder
// stands for the named mutex "QLN_Console": whoever holds it is the console (see
// InstanceLock and InstancePaths). Beside it the console listens on a local socket
// "QLN_Console", through which a later start asks it to bring its window forward.
//
// The lock is released when the object goes (or the process ends, however it ends):
// a lock left behind by a killed console is taken over by the next start. The lock
// file and the socket belong to this object; the socket's file is removed with it.
//
// Window thread only; RaiseRequested is emitted from the event loop.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Claim {
        First,   // this process is the console; the lock is held from now on
        Second,  // another console runs; it has been asked to come forward
        Failed,  // the lock file cannot be made (no usable runtime folder): Problem says why
    };

    // `folder`: where the lock and the sockets live; by default the user's runtime
    // folder (InstancePaths).
    explicit SingleInstance(QString folder = QString());
    ~SingleInstance() override;

    // Takes the lock, or reaches the console that holds it (`askToRaise` false: a
    // start without a window leaves the running console's window alone). A
    // quillonctl that holds the lock while it changes the ports is waited for, for
    // a while: a console must not start in the middle of its change. Once.
    Claim Take(bool askToRaise = true);

    // After Failed: why, naming the folder or the file; after Second: the lock that
    // is held, with its holder.
    std::string Problem() const;

    QString LockPath() const;
    QString ServerPath() const;
    // Where the control socket of this console goes.
    QString ControlPath() const;

signals:
    // A later start asked this console to restore and raise its window.
    void RaiseRequested();

private:
    void Serve(QLocalSocket* socket);
    // Asks the running console to come forward; whether it was reached does not
    // matter to the caller (a second start ends either way).
    void AskRunningConsole();

    InstancePaths Paths;
    InstanceLock Lock;
    QLocalServer Server;
};

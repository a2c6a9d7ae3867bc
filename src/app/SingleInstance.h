#pragma once
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalSocket;

// One console per user. An exclusive lock file "QLN_Console.lock" in the runtime
// folder stands for the named mutex "QLN_Console": whoever holds it is the console.
// Beside it the console listens on a local socket "QLN_Console", through which a
// later start asks it to bring its window forward.
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
        Failed,  // the lock file cannot be created (no usable runtime folder)
    };

    // `folder`: where the lock and the socket live; by default RuntimeFolder(). In
    // the shared temp folder (no XDG_RUNTIME_DIR) the names carry the user id, so
    // that two users' consoles never meet.
    explicit SingleInstance(QString folder = QString());
    ~SingleInstance() override;

    // Takes the lock, or reaches the console that holds it. Once.
    Claim Take();

    QString LockPath() const;
    QString ServerPath() const;

signals:
    // A later start asked this console to restore and raise its window.
    void RaiseRequested();

private:
    void Serve(QLocalSocket* socket);
    // Asks the running console to come forward; whether it was reached does not
    // matter to the caller (a second start ends either way).
    void AskRunningConsole();

    QString Folder;
    QString Name;
    std::unique_ptr<QLockFile> Lock;
    QLocalServer Server;
};

#include "app/SingleInstance.h"

#include <QFile>
#include <QLocalSocket>
#include <QVariant>
#include <cstdlib>
#include <unistd.h>

#include "platform/base/Folders.h"

namespace {

// What a later start sends; anything else on the socket is ignored.
const QByteArray RaiseRequest = "raise\n";
// A running console answers within this time or is left alone.
constexpr int ReachTimeoutMs = 2000;

} // namespace

SingleInstance::SingleInstance(QString folder) : Folder(std::move(folder)), Name("QLN_Console")
{
    if (Folder.isEmpty()) {
        Folder = QFile::decodeName(QByteArray::fromStdString(RuntimeFolder()));
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime)
            Name += "-" + QString::number(::getuid());
    }
    connect(&Server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = Server.nextPendingConnection())
            Serve(socket);
    });
}

SingleInstance::~SingleInstance()
{
    Server.close(); // removes the socket's file while the lock still guards it
    Lock.reset();
}

QString SingleInstance::LockPath() const
{
    return Folder + "/" + Name + ".lock";
}

QString SingleInstance::ServerPath() const
{
    return Folder + "/" + Name;
}

SingleInstance::Claim SingleInstance::Take()
{
    Lock = std::make_unique<QLockFile>(LockPath());
    // Only a lock whose process is gone is stale, never one that is merely old:
    // a console runs for months.
    Lock->setStaleLockTime(0);
    if (!Lock->tryLock(0)) {
        const QLockFile::LockError error = Lock->error();
        Lock.reset();
        if (error != QLockFile::LockFailedError)
            return Claim::Failed;
        AskRunningConsole();
        return Claim::Second;
    }

    // A socket file left by a killed console would refuse the listen; the lock says
    // that nobody else uses it.
    QLocalServer::removeServer(ServerPath());
    Server.setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket the console still runs; a later start then only ends.
    Server.listen(ServerPath());
    return Claim::First;
}

void SingleInstance::Serve(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto consume = [this, socket] {
        const QByteArray received = socket->property("received").toByteArray() + socket->readAll();
        if (received.contains(RaiseRequest)) {
            socket->setProperty("received", QByteArray());
            socket->disconnectFromServer();
            emit RaiseRequested();
        } else if (received.size() > 64) {
            socket->disconnectFromServer(); // not one of ours
        } else {
            socket->setProperty("received", received);
        }
    };
    connect(socket, &QLocalSocket::readyRead, this, consume);
    if (socket->bytesAvailable() > 0)
        consume();
}

void SingleInstance::AskRunningConsole()
{
    QLocalSocket socket;
    socket.connectToServer(ServerPath());
    if (!socket.waitForConnected(ReachTimeoutMs))
        return;
    socket.write(RaiseRequest);
    socket.waitForBytesWritten(ReachTimeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(ReachTimeoutMs);
}

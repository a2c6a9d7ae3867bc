#include "service/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QVariant>

#include "platform/base/EventLog.h"

namespace {

// What a later start sends; anything else on the socket is ignored.
const QByteArray RaiseRequest = "raise\n";
// A running console answers within this time or is left alone.
constexpr int ReachTimeoutMs = 2000;
// How long a start waits for a quillonctl to finish its change.
constexpr double ControlHoldSeconds = 30.0;

QString Decoded(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

SingleInstance::SingleInstance(QString folder)
    : Paths(InstancePaths::For(QFile::encodeName(folder).toStdString())), Lock(Paths.Lock)
{
    connect(&Server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = Server.nextPendingConnection())
            Serve(socket);
    });
}

SingleInstance::~SingleInstance()
{
    Server.close(); // removes the socket's file while the lock still guards it
    Lock.Release();
}

QString SingleInstance::LockPath() const
{
    return Decoded(Paths.Lock);
}

QString SingleInstance::ServerPath() const
{
    return Decoded(Paths.Raise);
}

QString SingleInstance::ControlPath() const
{
    return Decoded(Paths.Control);
}

std::string SingleInstance::Problem() const
{
    if (!Paths.Problem.empty())
        return Paths.Problem;
    if (Lock.Problem())
        return Lock.Problem().Reason();
    const std::string holder = InstanceLock::HolderOf(Paths.Lock);
    return "Its lock is " + Paths.Lock + (holder.empty() ? std::string() : ", held by " + holder) + ".";
}

SingleInstance::Claim SingleInstance::Take(bool askToRaise)
{
    // Nothing is made in a folder another user could have put files in.
    if (!Paths.Problem.empty())
        return Claim::Failed;
    // The executable's file name, as a person would look for it in the lock file.
    const std::string holder = QCoreApplication::applicationName().toStdString();
    InstanceLock::Result taken = Lock.TryTake(holder);
    // A holder that has not written its name yet has only just taken the lock: a
    // console writes its name at once, so it is a quillonctl too.
    if (const std::string other = InstanceLock::HolderOf(Paths.Lock);
        taken == InstanceLock::Result::Busy && (other.empty() || other == ControlToolHolder))
        taken = Lock.Take(holder, ControlHoldSeconds);
    switch (taken) {
    case InstanceLock::Result::Taken:
        break;
    case InstanceLock::Result::Busy:
        if (askToRaise)
            AskRunningConsole();
        return Claim::Second;
    case InstanceLock::Result::Failed:
        return Claim::Failed;
    }

    // A socket file left by a killed console would refuse the listen; the lock says
    // that nobody else uses it.
    QLocalServer::removeServer(ServerPath());
    Server.setSocketOptions(QLocalServer::UserAccessOption);
    // Without the socket the console still runs; a later start then only ends.
    Server.listen(ServerPath());
    if (!Paths.Passed.empty())
        SayEvent(EventLevel::Warning, "console", Paths.Passed + " The lock and the sockets are in " + Paths.Folder + ".");
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

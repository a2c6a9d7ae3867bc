#include "service/ControlServer.h"

#include <QLocalSocket>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "console/ConsoleModel.h"
#include "control/CommandRunner.h"
#include "control/ControlCommand.h"
#include "control/ControlSocket.h"
#include "platform/base/EventLog.h"
#include "service/MonitorStream.h"

namespace {

void Send(QLocalSocket* socket, const ControlReply& reply)
{
    socket->write(QByteArray::fromStdString(ControlProtocol::EncodeReply(reply)));
    // Closes once the reply has been written out.
    socket->disconnectFromServer();
}

} // namespace

ControlServer::ControlServer(ConsoleModel& model, QString path) : Model(model), Path(std::move(path))
{
    connect(&Server, &QLocalServer::newConnection, this, &ControlServer::TakeWaiting);
    // The event log has no signal of its own; a look now and then while someone
    // follows it costs nothing when nobody does.
    FollowCheck.setInterval(100);
    connect(&FollowCheck, &QTimer::timeout, this, [this] { AnswerFollowers(false); });
}

ControlServer::~ControlServer()
{
    Closing = true;
    FollowCheck.stop();
    Server.close();
}

bool ControlServer::Listen(QString& why)
{
    QLocalServer::removeServer(Path);
    Server.setSocketOptions(QLocalServer::UserAccessOption);
    if (Server.listen(Path))
        return true;
    why = Server.errorString();
    return false;
}

void ControlServer::TakeWaiting()
{
    while (!Closing && Receiving < MaxReceiving && Server.hasPendingConnections()) {
        if (QLocalSocket* socket = Server.nextPendingConnection())
            Serve(socket);
    }
}

void ControlServer::Serve(QLocalSocket* socket)
{
    ++Receiving;
    // The slot goes back once the request is in, refused or timed out, or with the
    // socket, whichever comes first; and the next waiting connection takes it.
    auto holding = std::make_shared<bool>(true);
    auto release = [this, holding] {
        if (!*holding)
            return;
        *holding = false;
        --Receiving;
        TakeWaiting();
    };
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QObject::destroyed, this, release);
    // A monitor's stream stops it: it lasts as long as the client reads.
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(ConnectionDeadlineMs);
    QTimer::singleShot(RequestDeadlineMs, socket, [socket, holding] {
        if (*holding)
            socket->abort(); // no whole request yet: an idle connection
    });
    if (!PeerIsThisUser(static_cast<int>(socket->socketDescriptor()))) {
        release();
        Send(socket, RefusedReply("Refused.", "This console serves only its own user."));
        return;
    }
    // Reads at most one request line; the rest of what the client sends is ignored.
    socket->setReadBufferSize(static_cast<qint64>(ControlProtocol::MaxRequestLine));
    auto received = std::make_shared<QByteArray>();
    auto consume = [this, socket, received, release, deadline] {
        *received += socket->read(static_cast<qint64>(ControlProtocol::MaxRequestLine) - received->size());
        const qsizetype newline = received->indexOf('\n');
        if (newline >= 0) {
            const QByteArray line = received->left(newline);
            received->clear();
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            release();
            Answer(socket, line, deadline);
        } else if (received->size() >= static_cast<qsizetype>(ControlProtocol::MaxRequestLine)) {
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            release();
            Send(socket, {2, {}, "The request is too long.\n"});
        }
    };
    connect(socket, &QLocalSocket::readyRead, this, consume);
    if (socket->bytesAvailable() > 0)
        consume();
}

void ControlServer::Answer(QLocalSocket* socket, const QByteArray& line, QTimer* deadline)
{
    std::vector<std::string> words;
    std::string error;
    if (!ControlProtocol::DecodeRequest(std::string_view(line.constData(), static_cast<size_t>(line.size())), words,
                                        error)) {
        Send(socket, {2, {}, error + "\n"});
        return;
    }
    const ParsedCommand parsed = ParseControlCommand(words);
    if (!parsed.Ok) {
        Send(socket, {2, {}, parsed.Error + "\n" + ControlUsage()});
        return;
    }
    if (parsed.Command.Action == ControlCommand::Verb::Monitor) {
        CPortObject* port = Model.FindPort(parsed.Command.Port);
        if (!port) {
            Send(socket, RefusedReply("No such port.", "COM" + std::to_string(parsed.Command.Port)
                                                           + " is not a port of this console."));
            return;
        }
        // The client's end of the stream is untrusted too: it sends nothing more.
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        auto* stream = new MonitorStream(socket);
        if (const ConsoleResult refused = stream->Start(Model, port); !refused) {
            delete stream;
            Send(socket, RefusedReply(refused.Message, refused.Reason()));
            return;
        }
        deadline->stop();
        return;
    }
    const ControlCommand& command = parsed.Command;
    if (command.Action == ControlCommand::Verb::Events && command.Follow)
        FollowersAway = std::max(FollowersAway, 1) - 1;
    if (command.Action == ControlCommand::Verb::Events && command.Follow && command.Numbered && !Closing
        && EventLog::Instance().LastNumber() <= command.After) {
        disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
        deadline->stop();
        Followers.push_back({socket, command, std::chrono::steady_clock::now()});
        FollowCheck.start();
        return;
    }
    Send(socket, RunControlCommand(Model, command, Model.IsRunning()));
}

void ControlServer::AnswerFollowers(bool all)
{
    const uint64_t last = EventLog::Instance().LastNumber();
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(Followers, [&](const Follower& follower) {
        if (!follower.Socket)
            return true;
        if (!all && last <= follower.Command.After && now - follower.Since < std::chrono::milliseconds(FollowHoldMs))
            return false;
        QLocalSocket* socket = follower.Socket;
        if (all) {
            // No event loop writes it later.
            socket->write(QByteArray::fromStdString(
                ControlProtocol::EncodeReply(RunControlCommand(Model, follower.Command, false))));
            socket->flush();
            socket->waitForBytesWritten(100);
            socket->disconnectFromServer();
        } else {
            Send(socket, RunControlCommand(Model, follower.Command, Model.IsRunning()));
            ++FollowersAway;
        }
        return true;
    });
    if (Followers.empty())
        FollowCheck.stop();
}

void ControlServer::Finish()
{
    Closing = true;
    // A follower answered a moment ago asks again at once: its next request is
    // waited for a little (no event loop takes it any more), so that it too gets
    // the last events.
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(FinishWaitMs);
    while (FollowersAway > 0 && Clock::now() < end) {
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        if (!Server.hasPendingConnections() && !Server.waitForNewConnection(std::max(left, 1)))
            break;
        while (QLocalSocket* socket = Server.nextPendingConnection())
            TakeLastFollower(socket);
    }
    AnswerFollowers(true);
}

void ControlServer::TakeLastFollower(QLocalSocket* socket)
{
    QByteArray line;
    while (!line.contains('\n') && line.size() < static_cast<qsizetype>(ControlProtocol::MaxRequestLine)
           && (socket->bytesAvailable() > 0 || socket->waitForReadyRead(FinishWaitMs)))
        line += socket->readAll();
    std::vector<std::string> words;
    std::string error;
    const qsizetype newline = line.indexOf('\n');
    if (newline >= 0 && PeerIsThisUser(static_cast<int>(socket->socketDescriptor()))
        && ControlProtocol::DecodeRequest(std::string_view(line.constData(), static_cast<size_t>(newline)), words, error)) {
        const ParsedCommand parsed = ParseControlCommand(words);
        if (parsed.Ok && parsed.Command.Action == ControlCommand::Verb::Events && parsed.Command.Follow) {
            FollowersAway = std::max(FollowersAway, 1) - 1;
            Followers.push_back({socket, parsed.Command, std::chrono::steady_clock::now()});
            return;
        }
    }
    socket->abort(); // anything else finds the console gone, as it is
}

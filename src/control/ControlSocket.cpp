#include "control/ControlSocket.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/base/UniqueFd.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, at least 0.
int Remaining(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline; false when it passed.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p {fd, events, 0};
        const int n = ::poll(&p, 1, Remaining(deadline));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

Exchange Failed(Failure why)
{
    return {ExchangeResult::Failed, std::move(why)};
}

// The failure of system call `call` with `error`: its words `words`, then the error's.
Failure OfCall(const char* call, int error, const std::string& words)
{
    Failure failure = Failure::OfCall(call, error);
    failure.Words = words + std::strerror(error);
    return failure;
}

// One connection, one request, one reply. `unanswered` tells a connection the console
// closed before any byte of a reply came (it was going, or it dropped the connection
// as idle): the request may be tried again.
//
// With `stream`, a reply with exit code 0 leaves the connection open: `stream` gets it,
// and `rest` what came after the reply.
Exchange ExchangeOnce(const std::string& path, const std::vector<std::string>& words, ControlReply& reply,
                      Clock::time_point deadline, bool& unanswered,
                            UniqueFd* stream = nullptr, std::string* rest = nullptr)
{
    unanswered = false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return Failed(Failure::Said("The control socket's path is too long: " + path));
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        const int error = errno;
        return Failed(OfCall("socket", error, "socket: "));
    }
    // A console whose backlog is full refuses with EAGAIN until it accepts again.
    while (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED)
            return {ExchangeResult::NoConsole, {}};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN) {
            const int error = errno;
            return Failed(OfCall("connect", error, "Cannot reach the console at " + path + ": "));
        }
        if (Remaining(deadline) == 0)
            return Failed(Failure::Said("The console at " + path + " does not take the connection."));
        ::poll(nullptr, 0, 10);
    }

    const std::string request = ControlProtocol::EncodeRequest(words);
    for (size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd.Get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitFor(fd.Get(), POLLOUT, deadline))
                return Failed(Failure::Said("The console does not take the request."));
        } else {
            break; // a console that refuses the caller answers without reading: the answer waits
        }
    }

    std::string received;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            received.append(buffer, static_cast<size_t>(n));
            size_t used = 0;
            const auto state = stream ? ControlProtocol::DecodeReplyPrefix(received, reply, used)
                                      : ControlProtocol::DecodeReply(received, reply);
            if (state == ControlProtocol::ReplyState::Complete && stream && reply.Code == 0) {
                *stream = std::move(fd);
                *rest = received.substr(used);
            }
            if (state == ControlProtocol::ReplyState::Complete)
                return {ExchangeResult::Answered, {}};
            if (state == ControlProtocol::ReplyState::Malformed)
                return Failed(Failure::Said("The console's answer is not understood (another version?)."));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            unanswered = received.empty();
            return Failed(Failure::Said("The console ended the connection without answering."));
        } else if (!WaitFor(fd.Get(), POLLIN, deadline)) {
            return Failed(Failure::Said("The console did not answer in time."));
        }
    }
}

} // namespace

Exchange ExchangeWithConsole(const std::string& path, const std::vector<std::string>& words, ControlReply& reply,
                             double seconds)
{
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    bool unanswered = false;
    Exchange result = ExchangeOnce(path, words, reply, deadline, unanswered);
    // Once more on a fresh connection: a console closes a connection unanswered when
    // it has not taken the request (it dropped the connection as idle, or was going).
    if (result.Result == ExchangeResult::Failed && unanswered && Remaining(deadline) > 0)
        result = ExchangeOnce(path, words, reply, deadline, unanswered);
    return result;
}

Exchange OpenConsoleStream(const std::string& path, const std::vector<std::string>& words, ControlReply& reply,
                           double seconds, UniqueFd& stream, std::string& pending)
{
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    bool unanswered = false;
    Exchange result = ExchangeOnce(path, words, reply, deadline, unanswered, &stream, &pending);
    if (result.Result == ExchangeResult::Failed && unanswered && Remaining(deadline) > 0)
        result = ExchangeOnce(path, words, reply, deadline, unanswered, &stream, &pending);
    return result;
}

bool PeerIsThisUser(int fd)
{
    ucred credentials {};
    socklen_t length = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 && length == sizeof credentials
        && credentials.uid == ::geteuid();
}

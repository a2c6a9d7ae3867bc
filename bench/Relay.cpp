#include "Relay.h"

#include <pty.h>

#include "BridgeMeasures.h"

namespace bench {

namespace {

// One direction: what was read and not yet written.
struct Way {
    int From, To;
    std::vector<uint8_t> Buffer = std::vector<uint8_t>(IoSize);
    size_t Begin = 0, End = 0;
    bool Empty() const { return Begin == End; }
};

// False when the side has closed or failed; EIO on the master means the
// application let go.
bool Move(Way& way, short fromEvents, short toEvents)
{
    if (way.Empty() && (fromEvents & (POLLIN | POLLERR | POLLHUP))) {
        ssize_t n = read(way.From, way.Buffer.data(), way.Buffer.size());
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return false;
        way.Begin = 0;
        way.End = static_cast<size_t>(std::max<ssize_t>(n, 0));
    }
    if (!way.Empty() && (toEvents & (POLLOUT | POLLERR))) {
        ssize_t n = write(way.To, way.Buffer.data() + way.Begin, way.End - way.Begin);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        way.Begin += static_cast<size_t>(std::max<ssize_t>(n, 0));
    }
    return true;
}

} // namespace

void RelayMain()
{
    Way toNet {STDIN_FILENO, STDOUT_FILENO}, toApp {STDOUT_FILENO, STDIN_FILENO};
    SetNonBlocking(STDIN_FILENO);
    SetNonBlocking(STDOUT_FILENO);
    for (;;) {
        pollfd fds[2] = {
            {STDIN_FILENO, static_cast<short>((toNet.Empty() ? POLLIN : 0) | (toApp.Empty() ? 0 : POLLOUT)), 0},
            {STDOUT_FILENO, static_cast<short>((toApp.Empty() ? POLLIN : 0) | (toNet.Empty() ? 0 : POLLOUT)), 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            _exit(1);
        if (!Move(toNet, fds[0].revents, fds[1].revents) || !Move(toApp, fds[1].revents, fds[0].revents))
            _exit(0);
    }
}

std::pair<double, double> RelayedThroughput(uint64_t bytes)
{
    int master = -1, slave = -1;
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0)
        Fail(ErrnoText("openpty"));
    Fd masterFd(master), app(slave);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(slave);
    Fd listener = Listen();
    Fd peer = ConnectWithin(LocalPort(listener.Get()), 10, "the relay's peer");
    Fd relaySide = AcceptWithin(listener.Get(), 10, "the relay's socket");
    pid_t relay = StartChild(OwnExecutable(), {"--relay"}, master, relaySide.Get());
    masterFd.Reset();
    relaySide.Reset();
    Exchange(app.Get(), peer.Get(), "relay");
    double mb = static_cast<double>(bytes) / 1e6;
    double toNet = mb / Transfer("relay, application to network", app.Get(), peer.Get(), bytes);
    double toApp = mb / Transfer("relay, network to application", peer.Get(), app.Get(), bytes);
    StopChildren({relay});
    return {toNet, toApp};
}

} // namespace bench

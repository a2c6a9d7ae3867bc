#include "service/QuitOnSignals.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "platform/base/EventLog.h"

namespace {

// The first two stop the console; SIGHUP asks for a reload.
constexpr int StopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe of the one QuitOnSignals object: [0] read by the event loop, [1] written
// by the handler. -1 while there is none.
int Pipe[2] = {-1, -1};
struct sigaction Previous[std::size(StopSignals)];
bool Installed[std::size(StopSignals)] = {};

extern "C" void OnStopSignal(int signal)
{
    const int saved = errno;
    // The signal's number (these are below 128).
    const char byte = static_cast<char>(signal);
    // A full pipe already holds a request; losing this byte loses nothing.
    [[maybe_unused]] ssize_t n = ::write(Pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

QuitOnSignals::QuitOnSignals()
{
    if (::pipe2(Pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Pipe[0] = Pipe[1] = -1;
        return; // the default actions stay: a stop signal ends the process at once
    }
    Notifier = std::make_unique<QSocketNotifier>(Pipe[0], QSocketNotifier::Read);
    connect(Notifier.get(), &QSocketNotifier::activated, this, [this] { Drain(); });

    for (size_t i = 0; i < std::size(StopSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(StopSignals[i], nullptr, &current) != 0)
            continue;
        if (current.sa_handler == SIG_IGN) {
            // Kept as it came (nohup), but not in silence: a user who sends it
            // expects a reload.
            if (StopSignals[i] == SIGHUP)
                SayEvent(EventLevel::Warning, "console",
                         "SIGHUP is ignored, as this console was started with it ignored (nohup): "
                         "the configuration is reloaded only by quillonctl reload");
            continue;
        }
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        Installed[i] = ::sigaction(StopSignals[i], &action, &Previous[i]) == 0;
    }
}

QuitOnSignals::~QuitOnSignals()
{
    for (size_t i = 0; i < std::size(StopSignals); ++i) {
        if (Installed[i])
            ::sigaction(StopSignals[i], &Previous[i], nullptr);
        Installed[i] = false;
    }
    Notifier.reset();
    for (int& fd : Pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void QuitOnSignals::Drain()
{
    char buffer[64];
    bool reload = false;
    ssize_t n = 0;
    while ((n = ::read(Pipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == SIGHUP)
                reload = true;
            else if (Which == 0)
                Which = buffer[i];
        }
    }
    if (Which == 0) {
        if (reload)
            emit ReloadRequested();
        return;
    }
    Seen = true;
    // exit, not quit: quit would first try to close the window, whose close handler
    // asks about open ports. exit also leaves any modal box's loop.
    QCoreApplication::exit(0);
}

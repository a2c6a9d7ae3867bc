#pragma once
// The console as a process of its own: the benchmark runs itself again with
// --console-host, and that process serves the job with the console core until it
// is told to stop (SIGTERM) or its requests pipe closes.
//
// On its standard output the host says "port <n> <application path>" for each port,
// then "ready" (or "error <text>" and exits 1). Then it answers one line per request
// line on its standard input:
//   "passes" -> "passes <count>"   the pump's passes; takes no lock, so wakes nothing
//   "state"  -> "state <opened> <connected> <clients> <secured>": ports an application
//               holds, TCP client links connected, clients accepted by server links,
//               TLS connections whose handshake is done. Takes the manager lock, as
//               the window does.
#include <string>

#include "BenchSupport.h"

namespace bench {

// The benchmark's end of the pipes to a console host.
class HostControl {
public:
    HostControl(pid_t pid, Fd requests, Fd replies);

    // The next line the host writes, without its line end, or Fail after `seconds`
    // or when the host ended.
    std::string ReadLine(double seconds, const std::string& what);
    // One request and its reply, or Fail.
    std::string Ask(const std::string& request);

    struct State {
        int Opened = 0;
        int Connected = 0;
        int Clients = 0;
        int Secured = 0;
    };
    State AskState();
    double Passes();

private:
    pid_t Pid;
    Fd Requests;
    Fd Replies;
    std::string Pending; // read, not yet a whole line
};

// The hidden mode: `argv` holds what follows --console-host. Never returns.
[[noreturn]] void ConsoleHostMain(int argc, char** argv);

} // namespace bench

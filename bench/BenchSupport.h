#pragma once
// Pieces of the bridge benchmark: failing loudly with everything cleaned up,
// loopback sockets, an application on a pseudo-terminal, child processes (the
// console host, socat, the call counters) that never outlive the benchmark, and CPU
// time of processes.
//
// The benchmark is single-threaded; all of this runs on the main thread, except the
// signal handlers, which touch only the fixed child table and a prepared message.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/base/UniqueFd.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// ---- children and the way out ------------------------------------------------

// Processes started by the benchmark. A fixed table, so that a signal handler can
// walk it; a slot holds 0 once its child has been reaped. Room for one socat per
// port of the largest case, a console host and a call counter.
constexpr int MaxChildren = 256;
inline volatile pid_t Children[MaxChildren] = {};
inline std::string TempRoot;       // removed on every orderly way out
inline char WatchdogMessage[512];  // prepared before the alarm is armed
inline char TempRootCopy[256];     // TempRoot, for the signal handler

inline void KillChildrenNow()
{
    for (int i = 0; i < MaxChildren; ++i) {
        pid_t pid = Children[i];
        if (pid > 0)
            kill(pid, SIGKILL);
    }
}

inline void ReapChildren()
{
    for (int i = 0; i < MaxChildren; ++i) {
        pid_t pid = Children[i];
        if (pid <= 0)
            continue;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        Children[i] = 0;
    }
}

inline void RemoveTempRoot()
{
    if (TempRoot.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(TempRoot, ignored);
    TempRoot.clear();
}

// The benchmark itself broke: say what, leave nothing behind, exit 2. No destructors
// (a Fail may come from deep inside a case): _exit.
[[noreturn]] inline void Fail(const std::string& what)
{
    std::fflush(stdout);
    std::fprintf(stderr, "bridge_bench: FAILED: %s\n", what.c_str());
    ReapChildren();
    RemoveTempRoot();
    _exit(2);
}

inline std::string ErrnoText(const char* call)
{
    return std::string(call) + ": " + std::strerror(errno);
}

inline void OnFatalSignal(int signal)
{
    KillChildrenNow();
    for (int i = 0; i < MaxChildren; ++i) // kill and waitpid are async-signal-safe
        if (Children[i] > 0)
            waitpid(Children[i], nullptr, 0);
    // So are fork and execve: rm takes the temporary folder away.
    if (TempRootCopy[0] == '/') {
        pid_t rm = fork();
        if (rm == 0) {
            char* const argv[] = {const_cast<char*>("rm"), const_cast<char*>("-rf"), TempRootCopy, nullptr};
            char* const envp[] = {nullptr};
            execve("/bin/rm", argv, envp);
            _exit(127);
        }
        if (rm > 0)
            waitpid(rm, nullptr, 0);
    }
    const char* text = signal == SIGALRM ? WatchdogMessage : "bridge_bench: interrupted\n";
    [[maybe_unused]] ssize_t n = write(STDERR_FILENO, text, std::strlen(text));
    _exit(signal == SIGALRM ? 3 : 130);
}

// Children die with us on SIGINT/SIGTERM, and on a run that outlasts `seconds`.
inline void ArmWatchdog(unsigned seconds)
{
    std::snprintf(WatchdogMessage, sizeof WatchdogMessage,
                  "bridge_bench: FAILED: still running after %u s; stopped\n", seconds);
    if (TempRoot.size() < sizeof TempRootCopy)
        std::snprintf(TempRootCopy, sizeof TempRootCopy, "%s", TempRoot.c_str());
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGALRM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    alarm(seconds);
}

// Full path of `name` along PATH (or `name` itself when it holds a '/'), or empty.
inline std::string FindProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 ? name : std::string();
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string full = (dir.empty() ? "." : dir) + "/" + name;
        if (access(full.c_str(), X_OK) == 0)
            return full;
    }
    return {};
}

// This program's own path: the console host and the relay are this program too.
inline std::string OwnExecutable()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        Fail(ErrnoText("readlink /proc/self/exe"));
    return std::string(path, static_cast<size_t>(n));
}

// Starts `program` with `args` as a child that the kernel kills when the benchmark
// dies. Its standard input is `input` (else /dev/null), its standard output `output`
// (else the benchmark's). The pid, or Fail.
inline pid_t StartChild(const std::string& program, const std::vector<std::string>& args, int input = -1,
                        int output = -1)
{
    int slot = -1;
    for (int i = 0; i < MaxChildren && slot < 0; ++i)
        if (Children[i] == 0)
            slot = i;
    if (slot < 0)
        Fail("too many child processes");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0)
        Fail(ErrnoText("fork"));
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (input < 0)
            input = open("/dev/null", O_RDONLY);
        if (input >= 0)
            dup2(input, STDIN_FILENO);
        if (output >= 0)
            dup2(output, STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    Children[slot] = pid;
    return pid;
}

inline bool ChildAlive(pid_t pid)
{
    for (int i = 0; i < MaxChildren; ++i) {
        if (Children[i] != pid)
            continue;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            Children[i] = 0;
            return false;
        }
        return true;
    }
    return false;
}

// Sends `signal` (SIGTERM unless told) to each of `pids`, gives them two seconds in
// all to go, then SIGKILL.
inline void StopChildren(const std::vector<pid_t>& pids, int signal = SIGTERM)
{
    std::vector<int> slots;
    for (pid_t pid : pids)
        for (int i = 0; i < MaxChildren; ++i)
            if (Children[i] == pid && pid > 0) {
                kill(pid, signal);
                slots.push_back(i);
            }
    auto end = Clock::now() + std::chrono::seconds(2);
    for (int i : slots) {
        pid_t pid = Children[i];
        pid_t reaped = 0;
        while (Clock::now() < end && (reaped = waitpid(pid, nullptr, WNOHANG)) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (reaped == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        Children[i] = 0;
    }
}

// ---- descriptors -------------------------------------------------------------

// The console's own owner of a descriptor.
using Fd = UniqueFd;

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

inline uint16_t LocalPort(int fd)
{
    sockaddr_in addr {};
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        Fail(ErrnoText("getsockname"));
    return ntohs(addr.sin_port);
}

inline void SetNonBlocking(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        Fail(ErrnoText("fcntl O_NONBLOCK"));
}

// A TCP listener on 127.0.0.1 and a port the system picks.
inline Fd Listen()
{
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in addr = Loopback(0);
    if (fd.Get() < 0 || bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || listen(fd.Get(), 16) != 0)
        Fail(ErrnoText("listen on 127.0.0.1"));
    return fd;
}

// A port that was free a moment ago in both families (the console's listeners take
// both), for links that must be told their own port. Never one handed out before by
// this process, and below the range outgoing connections take their ports from: a
// port the system picked could be some connection's own by the time the link binds.
inline uint16_t FreePort(int type)
{
    static std::mt19937 pick {std::random_device {}()};
    static std::set<uint16_t> given;
    std::uniform_int_distribution<int> range(20000, 32000);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto port = static_cast<uint16_t>(range(pick));
        if (given.count(port))
            continue;
        // The IPv6 wildcard with IPv4 mapped in, or, with no IPv6 here, the IPv4 one.
        Fd fd(socket(AF_INET6, type | SOCK_CLOEXEC, 0));
        sockaddr_storage any {};
        socklen_t length = sizeof(sockaddr_in6);
        if (fd.Get() >= 0) {
            const int off = 0;
            setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
            any.ss_family = AF_INET6;
        } else {
            fd = Fd(socket(AF_INET, type | SOCK_CLOEXEC, 0));
            any.ss_family = AF_INET;
            length = sizeof(sockaddr_in);
        }
        reinterpret_cast<sockaddr_in*>(&any)->sin_port = htons(port); // same place in both
        if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&any), length) == 0) {
            given.insert(port);
            return port;
        }
    }
    Fail("no free port from 20000 to 32000");
}

// The network peer's side of a TCP connection: non-blocking, no Nagle delay.
inline void MakePeer(int fd)
{
    SetNonBlocking(fd);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

inline Fd AcceptWithin(int listener, double seconds, const std::string& what)
{
    pollfd p {listener, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0)
        Fail("no connection within " + std::to_string(seconds) + " s: " + what);
    Fd fd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (fd.Get() < 0)
        Fail(ErrnoText("accept"));
    MakePeer(fd.Get());
    return fd;
}

// Connects to a listener that may not listen yet (a child still starting), or Fail.
inline Fd ConnectWithin(uint16_t port, double seconds, const std::string& what)
{
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in addr = Loopback(port);
        if (fd.Get() >= 0 && connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            MakePeer(fd.Get());
            return fd;
        }
        if (errno != ECONNREFUSED || Clock::now() > end)
            Fail(what + ": " + ErrnoText("connect to 127.0.0.1"));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline Fd BindUdp()
{
    Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in addr = Loopback(0);
    if (fd.Get() < 0 || bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        Fail(ErrnoText("bind UDP 127.0.0.1:0"));
    return fd;
}

// The application: a serial program holding the port, raw and non-blocking.
inline Fd OpenApplication(const std::string& path)
{
    Fd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
        Fail(ErrnoText(("open " + path).c_str()));
    termios tio {};
    if (tcgetattr(fd.Get(), &tio) != 0)
        Fail(ErrnoText("tcgetattr"));
    cfmakeraw(&tio);
    if (tcsetattr(fd.Get(), TCSANOW, &tio) != 0)
        Fail(ErrnoText("tcsetattr"));
    return fd;
}

// Waits until `fd` reports one of `events` (or an error or hang-up), or Fail.
inline void WaitReady(int fd, short events, double seconds, const std::string& what)
{
    auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        if (left < 0)
            Fail("nothing within " + std::to_string(seconds) + " s: " + what);
        pollfd p {fd, events, 0};
        int r = poll(&p, 1, left);
        if (r > 0)
            return;
        if (r < 0 && errno != EINTR)
            Fail(ErrnoText("poll"));
    }
}

// ---- CPU time ----------------------------------------------------------------

// CPU seconds of one thread ("<pid>/task/<tid>") or process: the scheduler's
// nanosecond count when the kernel keeps it, else user + system time from
// /proc/.../stat in clock ticks (for a process, all its threads).
inline double TaskCpuSeconds(const std::string& task)
{
    std::ifstream schedstat("/proc/" + task + "/schedstat");
    unsigned long long ns = 0;
    if (schedstat >> ns)
        return static_cast<double>(ns) / 1e9;
    std::ifstream stat("/proc/" + task + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0; // gone: it used nothing more
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Thread ids of a live process.
inline std::vector<std::string> Threads(pid_t pid)
{
    std::vector<std::string> tids;
    std::error_code error;
    for (auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error))
        tids.push_back(entry.path().filename());
    return tids;
}

// CPU seconds of a whole process so far: the sum over its threads, since the
// schedstat of /proc/<pid> counts the main thread alone. Threads that ended are not
// counted; the contestants keep theirs for as long as they run.
inline double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream probe("/proc/" + std::to_string(pid) + "/schedstat");
    if (!probe)
        return TaskCpuSeconds(std::to_string(pid));
    double sum = 0;
    for (auto& tid : Threads(pid))
        sum += TaskCpuSeconds(std::to_string(pid) + "/task/" + tid);
    return sum;
}

// The largest resident size a live process had so far (VmHWM), in MiB.
inline double PeakResidentMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

inline std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Lets the benchmark hold as many descriptors as the hard limit allows: the largest
// cases keep several hundred sockets and pseudo-terminals open at once.
inline void RaiseDescriptorLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace bench

#pragma once
// Serial peers that no one here wrote: pyserial's RFC 2217 client and server side
// (Debian's python3-serial) and ser2net, run as child processes; the far serial port
// they serve is a pseudo-terminal the test holds.
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "platform/base/UniqueFd.h"
#include "Files.h"
#include "TempFolder.h"
#include "WaitUntil.h"

extern char** environ;

namespace qlntest {

// Starts `words` (looked up on the PATH) with `actions` applied to its descriptors;
// its pid, or -1. The actions are destroyed.
inline pid_t Spawn(const std::vector<std::string>& words, posix_spawn_file_actions_t& actions)
{
    std::vector<char*> argv;
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A child process for the length of a test: its output (both streams) in a file,
// ended with SIGTERM, then SIGKILL, and reaped when the object goes.
class PeerProcess {
public:
    PeerProcess(const std::vector<std::string>& words, const std::string& outputPath)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        Pid = Spawn(words, actions);
    }
    ~PeerProcess()
    {
        if (Pid <= 0 || Exited)
            return;
        kill(Pid, SIGTERM);
        if (WaitExit(5.0) == -1) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool Started() const { return Pid > 0; }
    // The exit code once the process ended within `seconds` (128 + the signal for
    // one killed), or -1.
    int WaitExit(double seconds)
    {
        if (Exited)
            return Code;
        WaitUntil([&] {
            int status = 0;
            if (Pid <= 0 || waitpid(Pid, &status, WNOHANG) != Pid)
                return false;
            Exited = true;
            Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        }, seconds);
        return Exited ? Code : -1;
    }

private:
    pid_t Pid = -1;
    bool Exited = false;
    int Code = -1;
};

// A child process the test talks with: one request a line on its standard input, one
// answer a line on its standard output (standard error goes to `errorPath`).
class Conversation {
public:
    Conversation(const std::vector<std::string>& words, const std::string& errorPath)
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        ToChild = UniqueFd(in[1]);
        FromChild = UniqueFd(out[0]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        Pid = Spawn(words, actions);
        close(in[0]);
        close(out[1]);
        fcntl(FromChild.Get(), F_SETFL, O_NONBLOCK);
    }
    ~Conversation()
    {
        ToChild.Reset(); // its end of input: it closes its line and ends
        if (Pid > 0) {
            if (!WaitUntil([&] { return waitpid(Pid, nullptr, WNOHANG) == Pid; }, 5.0)) {
                kill(Pid, SIGKILL);
                waitpid(Pid, nullptr, 0);
            }
        }
    }
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    bool Started() const { return Pid > 0; }
    // Its answer to `request`, or "(no answer)" after `seconds`.
    std::string Ask(const std::string& request, double seconds = 30.0)
    {
        const std::string line = request + "\n";
        if (write(ToChild.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return "(not sent)";
        std::string answer;
        const bool got = WaitUntil([&] {
            char c;
            while (read(FromChild.Get(), &c, 1) == 1) {
                if (c == '\n')
                    return true;
                answer += c;
            }
            return false;
        }, seconds);
        return got ? answer : "(no answer)";
    }

private:
    pid_t Pid = -1;
    UniqueFd ToChild;
    UniqueFd FromChild;
};

// Runs `words` to its end; its exit code, or -1.
inline int RunToEnd(const std::vector<std::string>& words, double seconds = 30.0)
{
    PeerProcess process(words, "/dev/null");
    return process.Started() ? process.WaitExit(seconds) : -1;
}

// A Python that has pyserial, or empty. Debian's own comes first: a Python of
// another installation on the PATH may lack Debian's modules.
inline std::string PythonWithPyserial()
{
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        if (RunToEnd({python, "-c", "import serial.rfc2217"}) == 0)
            return python;
    }
    return {};
}

// The full path of `program` on the PATH, the system folders included, or empty.
inline std::string FindProgram(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string folders = std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + program;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// A script of tests/support.
inline std::string SupportScript(const std::string& name)
{
    return std::string(QLN_TEST_SUPPORT_DIR) + "/" + name;
}

// The far serial port: a pseudo-terminal pair. A peer opens `SlavePath` as its
// serial device; the test reads and writes the line's far end on `Master`, and
// reads the settings the peer put on the slave through it.
struct FarPty {
    FarPty()
    {
        int master = -1, slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        Master = UniqueFd(master);
        Slave = UniqueFd(slave); // keeps the line up between the peer's opens
        SlavePath = name;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        termios tio {};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    termios Settings() const
    {
        termios tio {};
        tcgetattr(Master.Get(), &tio);
        return tio;
    }

    UniqueFd Master;
    UniqueFd Slave;
    std::string SlavePath;
};

// Sets a terminal to `speed` with `on` set and `off` cleared in its control flags.
inline bool SetLine(int fd, speed_t speed, tcflag_t on, tcflag_t off)
{
    termios tio {};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_cflag = (tio.c_cflag & ~off) | on;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Writes everything to a descriptor that is not a socket, waiting for room.
inline bool WriteAllTo(int fd, const std::vector<uint8_t>& data, double seconds = 30.0)
{
    size_t done = 0;
    return WaitUntil([&] {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        return done == data.size();
    }, seconds);
}

} // namespace qlntest

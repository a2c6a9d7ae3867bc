#pragma once
// Shared pieces of the console's tests: private folders, waiting with deadlines,
// an application on a COM<n> link, and plain loopback peers.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/base/Folders.h"
#include "platform/pty/PortDriver.h"

namespace qlntest {

// Polls `condition` until it holds or `seconds` pass.
inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 10.0)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A fresh HOME and XDG_* tree for one test; removed with the object.
class TempHome {
public:
    TempHome()
    {
        char pattern[] = "/tmp/qlntest.XXXXXX";
        Root = mkdtemp(pattern);
        for (const char* sub : {"/home", "/state", "/config", "/runtime"})
            MakeFolders(Root + sub);
        chmod((Root + "/runtime").c_str(), 0700);
        setenv("HOME", (Root + "/home").c_str(), 1);
        setenv("XDG_STATE_HOME", (Root + "/state").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (Root + "/runtime").c_str(), 1);
    }
    ~TempHome()
    {
        PortDriver::Instance().DetachAll();
        std::string command = "rm -rf '" + Root + "'";
        [[maybe_unused]] int rc = std::system(command.c_str());
    }
    std::string Root;
};

// Reads until `count` bytes came or the time is up, waiting for readiness rather
// than sleeping; returns what came.
inline std::vector<uint8_t> ReadUpTo(int fd, size_t count, double seconds, bool socket)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(1 << 16);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        size_t want = std::min(buf.size(), count - out.size());
        ssize_t n = socket ? recv(fd, buf.data(), want, MSG_DONTWAIT) : read(fd, buf.data(), want);
        if (n > 0) {
            out.insert(out.end(), buf.begin(), buf.begin() + n);
            continue;
        }
        pollfd p {fd, POLLIN, 0};
        poll(&p, 1, 10);
    }
    return out;
}

// An application holding COM<n> the way a serial program does: raw, non-blocking.
class App {
public:
    explicit App(const std::string& path, bool raw = true)
    {
        Fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (Fd >= 0 && raw) {
            termios tio {};
            tcgetattr(Fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(Fd, TCSANOW, &tio);
        }
    }
    ~App() { Close(); }
    void Close()
    {
        if (Fd >= 0)
            close(Fd);
        Fd = -1;
    }
    bool Ok() const { return Fd >= 0; }
    // Writes everything, waiting for room as long as `seconds` allow.
    bool WriteAll(const std::vector<uint8_t>& data, double seconds = 10.0)
    {
        size_t done = 0;
        return WaitUntil([&] {
            ssize_t n = write(Fd, data.data() + done, data.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            return done == data.size();
        }, seconds);
    }
    // Reads until `count` bytes came or the time is up; returns what came.
    std::vector<uint8_t> ReadExactly(size_t count, double seconds = 10.0)
    {
        return ReadUpTo(Fd, count, seconds, false);
    }
    // Whatever is there now.
    std::vector<uint8_t> ReadAvailable()
    {
        std::vector<uint8_t> out;
        uint8_t buf[65536];
        ssize_t n;
        while ((n = read(Fd, buf, sizeof buf)) > 0)
            out.insert(out.end(), buf, buf + n);
        return out;
    }
    int Fd = -1;
};

// The whole content of a file; empty when it cannot be read.
inline std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed = 1)
{
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

inline std::vector<uint8_t> AllByteValues()
{
    std::vector<uint8_t> out(256);
    for (int i = 0; i < 256; ++i)
        out[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return out;
}

// ---- plain loopback peers (blocking-free, deadline-bound) ----

inline uint16_t LocalPort(int fd)
{
    sockaddr_in addr {};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

inline sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A listening TCP socket on 127.0.0.1 and a free port (or the one given).
inline int Listen(uint16_t port = 0)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = Loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A port that was free a moment ago (bound and released).
inline uint16_t FreePort(int type = SOCK_STREAM)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    uint16_t port = LocalPort(fd);
    close(fd);
    return port;
}

inline int AcceptWithin(int listener, double seconds = 10.0)
{
    int fd = -1;
    WaitUntil([&] {
        pollfd p {listener, POLLIN, 0};
        if (poll(&p, 1, 5) > 0)
            fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        return fd >= 0;
    }, seconds);
    return fd;
}

inline int ConnectTo(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline int BindUdp(uint16_t port = 0)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool SendAll(int fd, const std::vector<uint8_t>& data, double seconds = 10.0)
{
    size_t done = 0;
    return WaitUntil([&] {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            done += static_cast<size_t>(n);
        return done == data.size();
    }, seconds);
}

inline std::vector<uint8_t> RecvExactly(int fd, size_t count, double seconds = 10.0)
{
    return ReadUpTo(fd, count, seconds, true);
}

// Bytes that arrive within `seconds` (for "nothing more comes" checks).
inline std::vector<uint8_t> RecvFor(int fd, double seconds)
{
    std::vector<uint8_t> out;
    uint8_t buf[65536];
    WaitUntil([&] {
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        return false;
    }, seconds);
    return out;
}

} // namespace qlntest

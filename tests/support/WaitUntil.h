#pragma once
// Waiting with a deadline instead of sleeping a fixed time: for a condition, and for
// bytes on a descriptor. Needs neither GoogleTest nor the console, so that any test
// or tool may include it.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qlntest {

// Polls `condition` about every millisecond until it holds (true) or `seconds` pass
// (false).
inline bool WaitUntil(const std::function<bool()>& condition, double seconds = 10.0)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Reads until `count` bytes came or `seconds` passed, waiting for readiness between
// reads; returns what came. `socket` reads with recv, anything else with read.
inline std::vector<uint8_t> ReadUpTo(int fd, size_t count, double seconds, bool socket)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(1 << 16);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        const size_t want = std::min(buf.size(), count - out.size());
        const ssize_t n = socket ? recv(fd, buf.data(), want, MSG_DONTWAIT) : read(fd, buf.data(), want);
        if (n > 0) {
            out.insert(out.end(), buf.begin(), buf.begin() + n);
            continue;
        }
        pollfd p {fd, POLLIN, 0};
        poll(&p, 1, 10);
    }
    return out;
}

} // namespace qlntest

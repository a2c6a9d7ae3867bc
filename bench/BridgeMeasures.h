#pragma once
// The measurements of the bridge benchmark, the same code for every contestant: the
// checked byte pattern, bulk transfers in one poll loop, one-byte round trips and
// the statistics over them. Main thread only.
#include <cmath>

#include "BenchSupport.h"
#include "TelnetPeer.h"

namespace bench {

// ---- the byte pattern ----------------------------------------------------------

// Stream offset i carries Bytes[i % Period]. The period is odd so that it lines up
// with no chunk or buffer size; the table holds two periods so that any run of up
// to one period starting anywhere is contiguous.
class Pattern {
public:
    static constexpr size_t Period = (1u << 20) + 13;
    Pattern() : Bytes(2 * Period)
    {
        uint32_t x = 0x9E3779B9u;
        for (size_t i = 0; i < Period; ++i) {
            x = x * 1664525u + 1013904223u;
            Bytes[i] = Bytes[i + Period] = static_cast<uint8_t>(x >> 24);
        }
    }
    const uint8_t* At(uint64_t offset) const { return Bytes.data() + offset % Period; }
    // Compares `count` (at most one period) received bytes with the stream at `offset`.
    void Check(uint64_t offset, const uint8_t* data, size_t count, const std::string& what) const
    {
        const uint8_t* expected = At(offset);
        if (std::memcmp(expected, data, count) == 0)
            return;
        size_t i = 0;
        while (expected[i] == data[i])
            ++i;
        char text[160];
        std::snprintf(text, sizeof text, "%s: byte %llu is 0x%02x, sent 0x%02x", what.c_str(),
                      static_cast<unsigned long long>(offset + i), data[i], expected[i]);
        Fail(text);
    }

private:
    std::vector<uint8_t> Bytes;
};

inline const Pattern& ThePattern()
{
    static const Pattern pattern;
    return pattern;
}

// ---- the measurements, the same for both contestants --------------------------

constexpr size_t IoSize = 64 * 1024;
constexpr double StallSeconds = 10.0;

// Writes `total` pattern bytes into `writeFd` while reading and checking them from
// `readFd`, in one poll loop. Seconds from the first write to the last byte checked.
// A Telnet peer (`writes`, `reads`) escapes what it writes or decodes what it reads;
// `sent` then counts the bytes escaped so far.
inline double Transfer(const std::string& what, int writeFd, int readFd, uint64_t total,
                       TelnetPeer* writes = nullptr, TelnetPeer* reads = nullptr)
{
    const Pattern& pattern = ThePattern();
    std::vector<uint8_t> in(IoSize), wire;
    size_t wireAt = 0;
    uint64_t sent = 0, got = 0;
    const auto start = Clock::now();
    const auto hardEnd = start + std::chrono::seconds(60 + static_cast<long>(total >> 20) * 2);
    auto lastProgress = start;
    while (got < total) {
        const bool more = sent < total || wireAt < wire.size();
        pollfd fds[2] = {{writeFd, static_cast<short>(more ? POLLOUT : 0), 0},
                         {readFd, POLLIN, 0}};
        if (poll(fds, 2, 100) < 0 && errno != EINTR)
            Fail(ErrnoText("poll"));
        bool progress = false;
        if (more && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            size_t length = static_cast<size_t>(std::min<uint64_t>(total - sent, IoSize));
            if (writes && wireAt == wire.size()) {
                wire.clear();
                wireAt = 0;
                TelnetPeer::Escape(pattern.At(sent), length, wire);
                sent += length;
            }
            ssize_t n = writes ? write(writeFd, wire.data() + wireAt, wire.size() - wireAt)
                               : write(writeFd, pattern.At(sent), length);
            if (n > 0) {
                if (writes)
                    wireAt += static_cast<size_t>(n);
                else
                    sent += static_cast<uint64_t>(n);
                progress = true;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                Fail(what + ": " + ErrnoText("write"));
            }
        }
        if (fds[1].revents & (POLLIN | POLLERR | POLLHUP)) {
            ssize_t n = read(readFd, in.data(), in.size());
            if (n > 0) {
                // Only commands came: progress all the same.
                const size_t data = reads ? reads->Decode(in.data(), static_cast<size_t>(n)) : static_cast<size_t>(n);
                if (got + data > sent)
                    Fail(what + ": more bytes arrived than were sent");
                pattern.Check(got, in.data(), data, what);
                got += data;
                progress = true;
            } else if (n == 0) {
                Fail(what + ": the far side closed after " + std::to_string(got) + " bytes");
            } else if (errno != EAGAIN && errno != EINTR) {
                Fail(what + ": " + ErrnoText("read"));
            }
        }
        auto now = Clock::now();
        if (progress)
            lastProgress = now;
        if (SecondsBetween(lastProgress, now) > StallSeconds || now > hardEnd)
            Fail(what + ": stuck after " + std::to_string(sent) + " bytes sent, "
                 + std::to_string(got) + " received");
    }
    return SecondsBetween(start, Clock::now());
}

inline void WriteByte(int fd, uint8_t value, const std::string& what)
{
    for (;;) {
        ssize_t n = write(fd, &value, 1);
        if (n == 1)
            return;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            Fail(what + ": " + ErrnoText("write"));
        WaitReady(fd, POLLOUT, 5.0, what + ": room to write");
    }
}

// One data byte; through `telnet`, when given, the commands before it are dropped.
inline uint8_t ReadByte(int fd, const std::string& what, TelnetPeer* telnet = nullptr)
{
    for (;;) {
        WaitReady(fd, POLLIN, 5.0, what);
        uint8_t value = 0;
        ssize_t n = read(fd, &value, 1);
        if (n == 1 && telnet && telnet->Decode(&value, 1) == 0)
            continue;
        if (n == 1)
            return value;
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            Fail(what + ": the far side closed or failed");
    }
}

// Microseconds of each round trip after the warm-up: the application writes one
// byte, the peer reads it and sends it back, the application reads it.
inline std::vector<double> RoundTrips(int appFd, int peerFd, int warmUp, int trips)
{
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(trips));
    for (int i = 0; i < warmUp + trips; ++i) {
        uint8_t value = static_cast<uint8_t>(i * 37 + 11);
        auto start = Clock::now();
        WriteByte(appFd, value, "round trip, application");
        if (ReadByte(peerFd, "round trip: the byte at the peer") != value)
            Fail("round trip: the peer got a different byte");
        WriteByte(peerFd, value, "round trip, peer");
        if (ReadByte(appFd, "round trip: the echo at the application") != value)
            Fail("round trip: the application got a different byte back");
        if (i >= warmUp)
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return micros;
}

inline double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return NAN;
    size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

// One byte each way: the path is live before anything is timed.
inline void Exchange(int appFd, int peerFd, const std::string& who, TelnetPeer* telnet = nullptr)
{
    WriteByte(appFd, 'a', who);
    if (ReadByte(peerFd, who + ": first byte at the peer", telnet) != 'a')
        Fail(who + ": the first byte came out changed at the peer");
    WriteByte(peerFd, 'n', who);
    if (ReadByte(appFd, who + ": first byte at the application") != 'n')
        Fail(who + ": the first byte came out changed at the application");
}

inline double Median(std::vector<double> values)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

} // namespace bench

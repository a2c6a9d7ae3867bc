#pragma once
// An application on the far side of a COM<n> port, holding it the way a serial
// program does: raw and non-blocking.
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "platform/base/UniqueFd.h"
#include "WaitUntil.h"

namespace qlntest {

class App {
public:
    // Opens `path` (a port's link); `raw` false keeps the terminal settings it finds.
    explicit App(const std::string& path, bool raw = true)
        : Fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        if (Fd && raw) {
            termios tio {};
            tcgetattr(Fd.Get(), &tio);
            cfmakeraw(&tio);
            tcsetattr(Fd.Get(), TCSANOW, &tio);
        }
    }
    // Lets go of the port, as an application that ends.
    void Close() { Fd.Reset(); }
    bool Ok() const { return Fd.Valid(); }
    // Writes everything, waiting for room as long as `seconds` allow.
    bool WriteAll(const std::vector<uint8_t>& data, double seconds = 10.0)
    {
        size_t done = 0;
        return WaitUntil([&] {
            const ssize_t n = write(Fd.Get(), data.data() + done, data.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            return done == data.size();
        }, seconds);
    }
    // Reads until `count` bytes came or the time is up; returns what came.
    std::vector<uint8_t> ReadExactly(size_t count, double seconds = 10.0)
    {
        return ReadUpTo(Fd.Get(), count, seconds, false);
    }
    // Whatever is there now.
    std::vector<uint8_t> ReadAvailable()
    {
        std::vector<uint8_t> out;
        uint8_t buf[65536];
        ssize_t n;
        while ((n = read(Fd.Get(), buf, sizeof buf)) > 0)
            out.insert(out.end(), buf, buf + n);
        return out;
    }

    UniqueFd Fd;
};

} // namespace qlntest

#pragma once
#include <unistd.h>
#include <utility>

// Owns one file descriptor and closes it when it goes (or when Reset gives it
// another). Move-only; -1 means none. The one way the console closes a descriptor
// it owns, so that no path closes one twice or forgets it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : Fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : Fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }
    explicit operator bool() const { return Valid(); }

    // Hands the descriptor over to the caller, who closes it from then on.
    int Release() { return std::exchange(Fd, -1); }
    // Closes what is held (if anything) and takes `fd`. Returns close's result for
    // the old descriptor (0 when there was none).
    int Reset(int fd = -1)
    {
        int old = std::exchange(Fd, fd);
        return old >= 0 ? ::close(old) : 0;
    }

private:
    int Fd = -1;
};

#include "control/InstanceLock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/base/Text.h"

InstanceLock::InstanceLock(std::string path) : FilePath(std::move(path)) {}

InstanceLock::~InstanceLock()
{
    Release();
}

InstanceLock::Result InstanceLock::Fail(const char* call, const char* what)
{
    Last = Failure::OfCall(call); // errno first, before anything can change it
    Last.Words = FilePath + " " + what + ": " + std::strerror(Last.Errno) + ".";
    return Result::Failed;
}

InstanceLock::Result InstanceLock::Fail(const std::string& words)
{
    Last = Failure::Said(FilePath + " " + words);
    return Result::Failed;
}

InstanceLock::Result InstanceLock::TryTake(std::string_view holder)
{
    if (Held())
        return Result::Taken;
    Last = Failure {};
    // A holder removes the file before it lets go; a process that opened the file
    // just before that holds a lock on a name nobody sees and tries again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        UniqueFd fd(::open(FilePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
        if (!fd)
            return Fail("open", "cannot be opened");
        struct stat held {};
        struct stat named {};
        if (::fstat(fd.Get(), &held) != 0)
            return Fail("fstat", "cannot be read");
        if (!S_ISREG(held.st_mode))
            return Fail("is not a regular file.");
        if (held.st_uid != ::geteuid())
            return Fail("belongs to user " + std::to_string(held.st_uid) + ", not to this one.");
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            return errno == EWOULDBLOCK ? Result::Busy
                                        : Fail("flock", "cannot be locked");
        if (::stat(FilePath.c_str(), &named) != 0 || named.st_ino != held.st_ino || named.st_dev != held.st_dev)
            continue;
        const std::string record = std::to_string(::getpid()) + "\n" + std::string(holder) + "\n";
        if (::ftruncate(fd.Get(), 0) != 0
            || ::pwrite(fd.Get(), record.data(), record.size(), 0) != static_cast<ssize_t>(record.size()))
            return Fail("write", "cannot be written");
        Fd = std::move(fd);
        return Result::Taken;
    }
    return Result::Busy;
}

InstanceLock::Result InstanceLock::Take(std::string_view holder, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const Result result = TryTake(holder);
        if (result != Result::Busy || std::chrono::steady_clock::now() >= deadline)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void InstanceLock::Release()
{
    if (!Held())
        return;
    ::unlink(FilePath.c_str());
    Fd.Reset();
}

std::string InstanceLock::HolderOf(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    char buffer[256];
    const ssize_t n = fd ? ::read(fd.Get(), buffer, sizeof buffer) : -1;
    if (n <= 0)
        return {};
    std::string holder;
    int line = 0;
    ForEachLine(std::string_view(buffer, static_cast<size_t>(n)), [&](std::string_view text) {
        if (++line == 2)
            holder = text;
        return line < 2;
    });
    return holder;
}

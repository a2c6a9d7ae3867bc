#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor it holds when it goes out of scope.
class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    int Get() const { return fd_; }
    // Closes now and reports the result (close can report a delayed write error).
    bool Close()
    {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The file a replacement must land on: the target of a symbolic link, so that the
// link survives; the path itself otherwise (also for a dangling link).
std::string ResolveTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            return resolved;
    }
    return path;
}

std::string FolderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

FileReadResult ReadWholeFile(const std::string& path, std::string& content, size_t limit)
{
    content.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? FileReadResult::Missing : FileReadResult::Failed;
    FdCloser closer(fd);

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit)
        return FileReadResult::Failed;

    content.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            content.clear();
            return FileReadResult::Failed;
        }
        if (n == 0)
            break;
        content.append(buf, static_cast<size_t>(n));
        if (content.size() > limit) { // grew while being read
            content.clear();
            return FileReadResult::Failed;
        }
    }
    return FileReadResult::Ok;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content, bool followLink)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::string target = followLink ? ResolveTarget(path) : path;
    const std::string folder = FolderOf(target);

    struct stat old {};
    const bool exists = (followLink ? ::stat(target.c_str(), &old) : ::lstat(target.c_str(), &old)) == 0 &&
                        !S_ISLNK(old.st_mode);
    if (exists && S_ISDIR(old.st_mode)) {
        errno = EISDIR;
        return false;
    }

    // A name of our own beside the target: the pid and a counter keep concurrent
    // writers of this and other processes apart; O_EXCL settles any remaining clash.
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    FdCloser closer(fd);

    bool ok = WriteAll(fd, content);
    if (ok && exists) {
        // Keep the original's permissions; its owner only where we may (as root).
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
        if (ok && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
            (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = closer.Close() && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }

    // Make the rename itself durable; the replacement has happened either way.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

#include "platform/config/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <signal.h>
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

constexpr char TempMark[] = ".qln-tmp.";
// A temporary file this old belongs to no running replacement, whatever its pid.
constexpr time_t StaleAge = 24 * 60 * 60;

// The digits of `text` from `pos` to `end` as a process id; 0 when they are none.
pid_t PidOf(const std::string& text, size_t pos, size_t end)
{
    if (end <= pos || end - pos > 9)
        return 0;
    long value = 0;
    for (size_t i = pos; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return 0;
        value = value * 10 + (text[i] - '0');
    }
    return static_cast<pid_t>(value);
}

bool AllDigits(const std::string& text, size_t pos)
{
    return pos < text.size() && text.find_first_not_of("0123456789", pos) == std::string::npos;
}

// The writer's pid of a temporary file name of ours, or 0 for any other name:
// ".<name>.qln-tmp.<pid>.<n>", or "<name>.tmp<pid>-<n>" as earlier versions wrote.
pid_t TemporaryFileOwner(const std::string& name)
{
    const size_t mark = name.rfind(TempMark);
    if (name.size() > 1 && name[0] == '.' && mark != std::string::npos && mark > 1) {
        const size_t pid = mark + sizeof TempMark - 1;
        const size_t dot = name.find('.', pid);
        if (dot != std::string::npos && AllDigits(name, dot + 1))
            return PidOf(name, pid, dot);
        return 0;
    }
    const size_t legacy = name.rfind(".tmp");
    const size_t dash = name.rfind('-');
    if (legacy != std::string::npos && legacy > 0 && dash != std::string::npos && dash > legacy
        && AllDigits(name, dash + 1))
        return PidOf(name, legacy + 4, dash);
    return 0;
}

bool IsRunning(pid_t pid)
{
    return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM;
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
    if (::fstat(fd, &st) != 0)
        return FileReadResult::Failed;
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) {
        errno = S_ISREG(st.st_mode) ? EFBIG : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return FileReadResult::Failed;
    }

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
            errno = EFBIG;
            return FileReadResult::Failed;
        }
    }
    return FileReadResult::Ok;
}

Failure ReplaceFileAtomically(const std::string& path, std::string_view content, bool followLink)
{
    if (path.empty())
        return Failure::OfCall("open", ENOENT);
    const std::string target = followLink ? ResolveTarget(path) : path;
    const std::string folder = FolderOf(target);

    struct stat old {};
    const bool exists = (followLink ? ::stat(target.c_str(), &old) : ::lstat(target.c_str(), &old)) == 0 &&
                        !S_ISLNK(old.st_mode);
    if (exists && S_ISDIR(old.st_mode))
        return Failure::OfCall("open", EISDIR);

    // A name of our own beside the target: the pid and a counter keep concurrent
    // writers of this and other processes apart; O_EXCL settles any remaining clash.
    static std::atomic<unsigned> counter{0};
    const std::string prefix = folder + "/." + target.substr(target.rfind('/') + 1) + TempMark
                               + std::to_string(::getpid()) + ".";
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = prefix + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST)
            return Failure::OfCall("open");
    }
    if (fd < 0)
        return Failure::OfCall("open", EEXIST);
    FdCloser closer(fd);

    // The first call that fails names the failure; the temporary file goes.
    auto failed = [&](const char* call) {
        Failure why = Failure::OfCall(call);
        ::unlink(temp.c_str());
        return why;
    };
    if (!WriteAll(fd, content))
        return failed("write");
    if (exists) {
        // Keep the original's permissions; its owner only where we may (as root).
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            return failed("fchmod");
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd, old.st_uid, old.st_gid);
    }
    if (::fsync(fd) != 0)
        return failed("fsync");
    if (!closer.Close())
        return failed("close");
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return failed("rename");

    // Make the rename itself durable; the replacement has happened either way.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

size_t RemoveStaleTemporaryFiles(const std::string& folder, int depth)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return 0;
    }
    size_t removed = 0;
    const time_t now = ::time(nullptr);
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (name == "." || name == ".." || ::fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth > 0)
                removed += RemoveStaleTemporaryFiles(folder + "/" + name, depth - 1);
            continue;
        }
        const pid_t owner = TemporaryFileOwner(name);
        if (!S_ISREG(st.st_mode) || owner <= 0)
            continue;
        if ((!IsRunning(owner) || now - st.st_mtime > StaleAge)
            && ::unlinkat(dirfd(dir), name.c_str(), 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

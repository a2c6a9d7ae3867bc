#include "platform/base/Folders.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string EnvOr(const char* name, const std::string& fallback)
{
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::string Home()
{
    return EnvOr("HOME", "/tmp");
}

} // namespace

std::string StateFolder()
{
    return EnvOr("XDG_STATE_HOME", Home() + "/.local/state") + "/quillon";
}

std::string DeviceLinkFolder()
{
    return StateFolder() + "/dev";
}

std::string ConfigHome()
{
    return EnvOr("XDG_CONFIG_HOME", Home() + "/.config");
}

std::string ExecutablePath()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableFolder()
{
    std::string path = ExecutablePath();
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool MakeFolders(const std::string& path, unsigned mode)
{
    if (path.empty())
        return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
                return false;
        }
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool TightenFolders(const std::string& path)
{
    // Through descriptors opened without following links: a link planted inside the
    // folder never makes the console change the mode of something elsewhere.
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 07777) != PrivateFolderMode)
        fchmod(fd, PrivateFolderMode);
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return true;
    }
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        int sub = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0)
            continue;
        if (fstat(sub, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 07777) != PrivateFolderMode)
            fchmod(sub, PrivateFolderMode);
        close(sub);
    }
    closedir(dir);
    return true;
}

#include "control/InstancePaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/base/Folders.h"
#include "platform/base/UniqueFd.h"

namespace {

std::string Octal(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777);
    return text;
}

// Why the folder is not one of this user's own (`tighten`: a looser mode is made
// 0700 instead), or empty. Looked at through a descriptor that did not follow a
// link, so that the checks and the mode change are of the folder itself.
std::string OwnFolderProblem(const std::string& folder, bool tighten)
{
    const std::string named = "The runtime folder " + folder;
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd) {
        const int error = errno;
        return named + (error == ELOOP || error == ENOTDIR
                            ? " is not a folder of its own (a symbolic link or a file)."
                            : " cannot be used: " + std::string(std::strerror(error)) + ".");
    }
    if (::fstat(fd.Get(), &st) != 0)
        return named + " cannot be used: " + std::strerror(errno) + ".";
    if (st.st_uid != ::geteuid())
        return named + " belongs to user " + std::to_string(st.st_uid) + ", not to this one.";
    if ((st.st_mode & 07777) == 0700)
        return {};
    if (!tighten)
        return named + " has mode " + Octal(st.st_mode) + ", not 0700.";
    if (::fchmod(fd.Get(), 0700) != 0)
        return named + " cannot be made private: " + std::strerror(errno) + ".";
    return {};
}

} // namespace

std::string InstancePaths::FolderProblem(const std::string& folder)
{
    return OwnFolderProblem(folder, false);
}

std::string InstancePaths::PrivateStateFolder(std::string& problem)
{
    const std::string folder = StateFolder() + "/run";
    problem.clear();
    if (!MakeFolders(StateFolder(), PrivateFolderMode) || (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)) {
        problem = "The runtime folder " + folder + " cannot be made: " + std::strerror(errno) + ".";
        return folder;
    }
    problem = OwnFolderProblem(folder, true);
    return folder;
}

InstancePaths InstancePaths::For(const std::string& folder)
{
    InstancePaths paths;
    paths.Folder = folder;
    if (!folder.empty()) {
        paths.Problem = FolderProblem(folder);
    } else {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (runtime && *runtime) {
            paths.Folder = runtime;
            if (std::string why = FolderProblem(paths.Folder); !why.empty()) {
                why[0] = 't'; // "The runtime folder …" goes on after a colon
                paths.Passed = "XDG_RUNTIME_DIR is not used: " + why;
            }
        }
        if (paths.Folder.empty() || !paths.Passed.empty())
            paths.Folder = PrivateStateFolder(paths.Problem);
    }
    // The control socket has the longest name of the three.
    const bool fits = paths.Folder.size() + std::strlen("/QLN_Console.ctl") <= MaxSocketPath;
    const std::string stem = paths.Folder + (fits ? "/QLN_Console" : "/q");
    paths.Lock = stem + ".lock";
    paths.Raise = stem;
    paths.Control = stem + ".ctl";
    if (paths.Problem.empty() && paths.Control.size() > MaxSocketPath)
        paths.Problem = "The runtime folder " + paths.Folder + " has too long a path for a local socket ("
            + std::to_string(paths.Folder.size()) + " bytes; at most "
            + std::to_string(MaxSocketPath - std::strlen("/q.ctl")) + ").";
    return paths;
}

#include "control/InstancePaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/base/UniqueFd.h"

namespace {

std::string EnvOr(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

const char* const OwnFolderHint = " Set XDG_RUNTIME_DIR to a folder of your own (mode 0700).";

} // namespace

std::string InstancePaths::FolderProblem(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return "The runtime folder " + folder + " cannot be used: " + std::strerror(errno) + ".";
    if (!S_ISDIR(st.st_mode))
        return "The runtime folder " + folder + " is not a folder.";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return {};
    if ((st.st_mode & S_ISVTX) == 0)
        return "The runtime folder " + folder
            + " can be written by other users and is not sticky: another user could put files in the "
              "console's place."
            + OwnFolderHint;
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return "The runtime folder " + folder + " can be written by other users and belongs to user "
            + std::to_string(st.st_uid) + ", who could remove the console's files." + OwnFolderHint;
    return {};
}

std::string InstancePaths::PrivateTemporaryFolder(std::string& problem)
{
    const std::string folder = EnvOr("TMPDIR", "/tmp") + "/quillon-" + std::to_string(::geteuid());
    problem.clear();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = "The runtime folder " + folder + " cannot be made: " + std::strerror(errno) + ".";
        return folder;
    }
    // Looked at through a descriptor that did not follow a link, so that the checks
    // and the mode change are of the folder itself.
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd) {
        const int error = errno;
        problem = "The runtime folder " + folder
            + (error == ELOOP || error == ENOTDIR ? " is not a folder of its own (a symbolic link or a file)."
                                                  : " cannot be used: " + std::string(std::strerror(error)) + ".");
    } else if (::fstat(fd.Get(), &st) != 0) {
        problem = "The runtime folder " + folder + " cannot be used: " + std::strerror(errno) + ".";
    } else if (st.st_uid != ::geteuid()) {
        problem = "The runtime folder " + folder + " belongs to user " + std::to_string(st.st_uid)
            + ", not to this one." + OwnFolderHint;
    } else if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.Get(), 0700) != 0) {
        problem = "The runtime folder " + folder + " cannot be made private: " + std::strerror(errno) + ".";
    }
    return folder;
}

InstancePaths InstancePaths::For(const std::string& folder)
{
    InstancePaths paths;
    paths.Folder = folder;
    if (paths.Folder.empty()) {
        paths.Folder = EnvOr("XDG_RUNTIME_DIR", "");
        if (paths.Folder.empty())
            paths.Folder = PrivateTemporaryFolder(paths.Problem);
    }
    if (paths.Problem.empty())
        paths.Problem = FolderProblem(paths.Folder);
    const std::string stem = paths.Folder + "/QLN_Console";
    paths.Lock = stem + ".lock";
    paths.Raise = stem;
    paths.Control = stem + ".ctl";
    return paths;
}

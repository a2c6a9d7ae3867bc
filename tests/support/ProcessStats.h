#pragma once
// What a process holds and spends, from /proc: for the tests that check that the
// console lets go of descriptors and memory and rests when it has nothing to do.
#include <dirent.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Files.h"

namespace qlntest {

// Open descriptors of a process (this one by default).
inline int DescriptorCount(const std::string& pid = "self")
{
    DIR* dir = opendir(("/proc/" + pid + "/fd").c_str());
    if (!dir)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(dir))
        count += entry->d_name[0] != '.';
    closedir(dir);
    return count - (pid == "self" ? 1 : 0); // the directory stream itself
}

// A sanitizer's allocator keeps freed memory (and its shadow) resident, so resident
// sizes say nothing about the console there.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool ResidentSizeMeaningful = false;
#else
constexpr bool ResidentSizeMeaningful = true;
#endif

// Resident size of this process in KiB.
inline long ResidentKiB()
{
    std::istringstream in(FileText("/proc/self/status"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// CPU time a process has used, user and system, in seconds.
inline double CpuSeconds(pid_t pid)
{
    std::string stat = FileText("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(end + 2)); // from field 3, the state
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The hard open-file limit: a test that needs both ends of many connections in
// this process skips below what it needs.
inline rlim_t HardOpenFileLimit()
{
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_max;
}

// The id of a process that has ended (the system may hand it out again, but hardly
// within one test).
inline pid_t DeadPid()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace qlntest

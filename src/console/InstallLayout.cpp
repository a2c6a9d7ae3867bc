#include "console/InstallLayout.h"

#include <sys/stat.h>

namespace {

const char* const PackageName = "Quillon.inf";

bool IsFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string SharedPackage(const std::string& executableFolder)
{
    return executableFolder + "../share/quillon/" + PackageName;
}

} // namespace

std::string DriverPackagePath(const std::string& executableFolder)
{
    const std::string beside = executableFolder + PackageName;
    return IsInstalledLayout(executableFolder) ? SharedPackage(executableFolder) : beside;
}

bool IsInstalledLayout(const std::string& executableFolder)
{
    return !IsFile(executableFolder + PackageName) && IsFile(SharedPackage(executableFolder));
}

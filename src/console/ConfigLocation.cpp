#include "console/ConfigLocation.h"

#include <sys/stat.h>
#include <unistd.h>

#include "console/InstallLayout.h"
#include "platform/base/Folders.h"

namespace {

bool PreferringConfigHome = false;

} // namespace

const char* const ConfigLocation::FileName = "QuillonConsole.ini";

bool ConfigLocation::IsWritableFolder(const std::string& folder)
{
    // The file is replaced by a rename inside its folder, so the folder itself must
    // take new entries; a writable file in a read-only folder is not enough.
    struct stat st {};
    return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
        && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string ConfigLocation::Choose(const std::string& executableFolder, const std::string& configHome)
{
    std::string folder = executableFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    // An installed console's folder is the system's, writable or not (as root).
    if (IsWritableFolder(executableFolder) && !IsInstalledLayout(folder))
        return folder + FileName;
    return configHome + "/quillon/" + FileName;
}

std::string ConfigLocation::Path()
{
    if (PreferringConfigHome)
        return ConfigHome() + "/quillon/" + FileName;
    return Choose(ExecutableFolder(), ConfigHome());
}

void ConfigLocation::PreferConfigHome(bool on)
{
    PreferringConfigHome = on;
}

#include "control/InstancePaths.h"

#include <cstdlib>
#include <unistd.h>

#include "platform/base/Folders.h"

InstancePaths InstancePaths::For(const std::string& folder)
{
    std::string base = "QLN_Console";
    std::string where = folder;
    if (where.empty()) {
        where = RuntimeFolder();
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime)
            base += "-" + std::to_string(::getuid());
    }
    const std::string stem = where + "/" + base;
    return {stem + ".lock", stem, stem + ".ctl"};
}

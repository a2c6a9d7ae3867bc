#include "service/ConfigCheck.h"

#include "console/StoredConfig.h"
#include "ports/QLNManager.h"

int CheckConfiguration(const std::string& path, FILE* out)
{
    const std::vector<std::string> problems = CheckConfigFile(path, CQLNManager::InstalledPortNumbers());
    std::string text;
    for (const std::string& problem : problems)
        text += problem + "\n";
    if (problems.empty())
        text = path + ": ok\n";
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    return problems.empty() ? 0 : 1;
}

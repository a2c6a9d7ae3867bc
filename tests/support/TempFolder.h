#pragma once
// Private folders for tests: a temporary folder that goes with everything in it, and
// a temporary HOME with the XDG_* folders the console looks at.
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace qlntest {

// A fresh folder under $TMPDIR (or /tmp). When the object goes, the folder goes with
// everything in it; symbolic links inside are removed, never followed.
class TempFolder {
public:
    TempFolder() : Root(MakeRoot()) {}
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return Root + "/" + name; }

    const std::string Root;

private:
    static std::string MakeRoot()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qlntest.XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a folder like " + pattern);
        return pattern;
    }
};

// A TempFolder that holds HOME, XDG_STATE_HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR
// (Root/home, /state, /config and /runtime) while it lives. When it goes, those
// variables, and TMPDIR, which tests point into it, get their earlier values back.
class TempHome : public TempFolder {
public:
    TempHome()
    {
        for (const char* name : {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
            const char* value = std::getenv(name);
            Saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        for (const char* sub : {"/home", "/state", "/config", "/runtime"})
            std::filesystem::create_directories(Root + sub);
        chmod((Root + "/runtime").c_str(), 0700);
        setenv("HOME", (Root + "/home").c_str(), 1);
        setenv("XDG_STATE_HOME", (Root + "/state").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (Root + "/runtime").c_str(), 1);
    }
    ~TempHome()
    {
        for (const auto& [name, value] : Saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
};

} // namespace qlntest

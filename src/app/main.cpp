// The console's entry: without a window when asked (--headless) or when there is no
// display to show one on; otherwise the window, from its module.
//
// Exit codes: 0 after a normal run (and after --version, --help); 1 when start-up
// ends early (another console runs, the lock cannot be made, the wrong platform,
// "Initialize failed!", the window's module cannot be loaded), and after a
// --check-config that found a problem; 2 for a command line it does not take (see
// ConsoleOptions).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "WindowModule.h"
#include "platform/base/Folders.h"
#include "console/ConfigLocation.h"
#include "service/ConfigCheck.h"
#include "service/ConsoleOptions.h"
#include "service/ConsoleStart.h"
#include "service/HeadlessConsole.h"

namespace {

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

// Asked for, or nowhere to show a window. A platform named in QT_QPA_PLATFORM (the
// offscreen one, say) still gets the window.
bool RunsHeadless(const ConsoleOptions& options)
{
    return options.Headless || (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM"));
}

void Write(FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

int RunWindow(int argc, char* argv[])
{
    const std::string folder = ExecutableFolder();
    std::string why;
    for (const char* relative : {WindowModuleName, WindowModuleInstalled}) {
        // Never closed: the window's code runs until the process ends.
        void* module = dlopen((folder + relative).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            why += std::string("\n") + dlerror();
            continue;
        }
        if (auto entry = reinterpret_cast<WindowEntry>(dlsym(module, WindowEntryName)))
            return entry(argc, argv);
        why += std::string("\n") + dlerror();
    }
    PrintConsoleMessage("The window cannot be loaded (start with --headless to run without it):" + why);
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    const ConsoleOptions options = ConsoleOptions::Read(argc, argv);
    if (!options.Ok) {
        Write(stderr, "QuillonConsole: " + options.Error + "\n" + ConsoleOptions::Usage());
        return 2;
    }
    if (options.Help) {
        Write(stdout, ConsoleOptions::HelpText());
        return 0;
    }
    if (options.CheckConfig)
        return CheckConfiguration(options.ConfigFile.empty() ? ConfigLocation::Path() : options.ConfigFile, stdout);
    if (options.Version) {
        Write(stdout, std::string("QuillonConsole ") + ConsoleOptions::VersionNumber() + "\n");
        return 0;
    }
    if (RunsHeadless(options))
        return RunHeadless(argc, argv);
    return RunWindow(argc, argv);
}

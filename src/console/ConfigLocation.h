#pragma once
#include <string>

// Where the console keeps its configuration file "QuillonConsole.ini".
//
// The file sits beside the executable. An installed copy usually lives
// in a folder the user cannot write to; there the file goes to ConfigHome()/quillon/
// instead. The console asks once, when its model is made, so one run of the console
// reads and writes one file; the folder is created by the first write, not here.
//
// Window thread only (the test switch is a plain flag).
class ConfigLocation {
public:
    static const char* const FileName; // "QuillonConsole.ini"

    // The path for a console whose executable lies in `executableFolder` (with its
    // trailing '/'): beside it when that folder is writable for this process, else
    // `configHome` + "/quillon/QuillonConsole.ini". An installed console
    // (IsInstalledLayout) always uses the latter.
    static std::string Choose(const std::string& executableFolder, const std::string& configHome);

    // The path for this process: Choose(ExecutableFolder(), ConfigHome()), or the
    // ConfigHome() one while PreferConfigHome is on.
    static std::string Path();

    // A test program shares its executable's folder with every other test program;
    // with this on, each window it builds uses the ConfigHome() of the moment (the
    // test's private one) as if the executable's folder were not writable.
    static void PreferConfigHome(bool on);

    // True when the process may create and rename files in `folder`.
    static bool IsWritableFolder(const std::string& folder);
};

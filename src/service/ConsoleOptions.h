#pragma once
#include <string>

#include "platform/base/EventLog.h"

// QuillonConsole's command line:
//
//   QuillonConsole [--headless] [--quiet | --verbose]
//   QuillonConsole --check-config [FILE]
//   QuillonConsole --version | --help
//
// Qt's own window-system options (-platform, -style, -display, -session, each with
// its value, also spelt with two dashes) are left for Qt. Anything else is refused:
// the caller prints the error and the usage and exits with 2.
struct ConsoleOptions {
    bool Ok = true;
    std::string Error;              // what is wrong, for the usage message
    bool Headless = false;
    bool Version = false;
    bool Help = false;
    bool CheckConfig = false;       // --check-config: check the file and exit
    std::string ConfigFile;         // its FILE; empty: the console's own
    EventLevel Level = EventLevel::Info; // --quiet: warnings and errors only; --verbose: everything

    static ConsoleOptions Read(int argc, char* argv[]);
    static std::string Usage();
    // The usage and what each option does.
    static std::string HelpText();
    // "0.1", the version of the build.
    static const char* VersionNumber();
};

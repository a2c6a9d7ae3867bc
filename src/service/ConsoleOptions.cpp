#include "service/ConsoleOptions.h"

#include <string_view>

#ifndef QLN_VERSION
#define QLN_VERSION "unknown"
#endif

namespace {

// Options the application object of Qt reads, each followed by its value.
bool IsQtOptionWithValue(std::string_view word)
{
    if (word.starts_with("--"))
        word.remove_prefix(1);
    for (const char* option : {"-platform", "-style", "-display", "-session"}) {
        if (word == option)
            return true;
    }
    return false;
}

} // namespace

ConsoleOptions ConsoleOptions::Read(int argc, char* argv[])
{
    ConsoleOptions options;
    bool quiet = false;
    bool verbose = false;
    auto refuse = [&options](std::string error) {
        options.Ok = false;
        options.Error = std::move(error);
        return options;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--headless")
            options.Headless = true;
        else if (word == "--quiet")
            quiet = true;
        else if (word == "--verbose")
            verbose = true;
        else if (word == "--version")
            options.Version = true;
        else if (word == "--help" || word == "-h")
            options.Help = true;
        else if (word == "--check-config") {
            options.CheckConfig = true;
            if (i + 1 < argc && argv[i + 1][0] != '-')
                options.ConfigFile = argv[++i];
        }
        else if (IsQtOptionWithValue(word) && i + 1 < argc)
            ++i;
        else if (word.starts_with("-"))
            return refuse("unknown option: " + std::string(word));
        else
            return refuse("unexpected argument: " + std::string(word));
    }
    if (quiet && verbose)
        return refuse("--quiet and --verbose exclude each other");
    options.Level = quiet ? EventLevel::Warning : verbose ? EventLevel::Debug : EventLevel::Info;
    return options;
}

std::string ConsoleOptions::Usage()
{
    return "usage: QuillonConsole [--headless] [--quiet | --verbose]\n"
           "       QuillonConsole --check-config [FILE]\n"
           "       QuillonConsole --version | --help\n";
}

std::string ConsoleOptions::HelpText()
{
    return Usage()
        + "\nQuillon Console serves virtual COM ports, each bridged to TCP client, TCP server\n"
          "and UDP links. Without a display it runs as with --headless.\n\n"
          "  --headless  run without the window\n"
          "  --quiet     write only warnings and errors to the event log (standard error)\n"
          "  --verbose   write every event, debugging ones too\n"
          "  --check-config [FILE]\n"
          "              read the configuration (FILE, or QuillonConsole.ini) as a start would,\n"
          "              apply nothing, print every problem and exit with 1 if there is any\n"
          "  --version   print the version and exit\n"
          "  --help      print this help and exit\n\n"
          "quillonctl drives a running console from a shell. See QuillonConsole(1) and quillonctl(1).\n";
}

const char* ConsoleOptions::VersionNumber()
{
    return QLN_VERSION;
}

#include "service/ConsoleStart.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "platform/base/EventLog.h"

bool RunsOnTargetPlatform()
{
#ifdef __linux__
    struct stat st {};
    return ::stat("/dev/ptmx", &st) == 0 && S_ISCHR(st.st_mode);
#else
    return false;
#endif
}

void PrintConsoleMessage(std::string_view text)
{
    // Each stands for an error box: under systemd the journal files it as one.
    std::string line = std::string(EventLog::Instance().ToJournal() ? "<3>" : "") + ConsoleTitle + ":";
    bool blank = true;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            blank = true;
            continue;
        }
        if (blank)
            line += ' ';
        blank = false;
        line += c;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

#pragma once
#include <string_view>

// What every start of the console shares, with a window or without.

// The console's name: the window's title and the caption of its messages.
inline constexpr const char* ConsoleTitle = "Quillon Console";

// The console serves its ports through Unix98 pseudo-terminals; without the
// multiplexer there is nothing it could offer an application.
bool RunsOnTargetPlatform();

// A message the window would show in a box, as one line of standard error:
// "Quillon Console: <text>", the text's lines joined by blanks (under systemd with
// the error priority in front, "<3>", as the event log writes its lines).
void PrintConsoleMessage(std::string_view text);

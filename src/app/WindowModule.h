#pragma once
// The window lives in a module of its own, loaded only when there is a display, so a
// console without one (--headless, a service, a box with no X at all) maps Qt's core
// and network modules and nothing of the widgets or of X.
//
// The module is looked for beside the executable (the build, a copied console), then
// in <prefix>/lib/quillon for an installed one.

inline constexpr const char* WindowModuleName = "quillon-window.so";
inline constexpr const char* WindowModuleInstalled = "../lib/quillon/quillon-window.so";
// The module's one exported function: runs the console with its window, returns the
// process's exit code.
inline constexpr const char* WindowEntryName = "QlnRunWindow";
using WindowEntry = int (*)(int argc, char* argv[]);

#pragma once
#include <string>

// Where the console keeps its files. Each is read from the environment when asked,
// so tests point them at temporary folders by setting HOME and XDG_*.

// $XDG_STATE_HOME/quillon (default ~/.local/state/quillon): the installed devices,
// the COM number database, the driver package copies.
std::string StateFolder();
// StateFolder()/dev: the COM<n> links applications open.
std::string DeviceLinkFolder();
// $XDG_CONFIG_HOME (default ~/.config).
std::string ConfigHome();
// $XDG_RUNTIME_DIR, or the system temp folder.
std::string RuntimeFolder();
// Folder of the running executable, with a trailing '/'.
std::string ExecutableFolder();
// Full path of the running executable.
std::string ExecutablePath();
// Creates the folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& path);

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
// Folder of the running executable, with a trailing '/'.
std::string ExecutableFolder();
// Full path of the running executable.
std::string ExecutablePath();
// Creates the folder and its missing parents with `mode` (less the umask); true when
// it exists afterwards. Folders that exist already keep their mode.
bool MakeFolders(const std::string& path, unsigned mode = 0755);
// Mode of the state folder and everything the console creates in it: the records and
// the COM<n> links are the user's own business.
constexpr unsigned PrivateFolderMode = 0700;
// Gives the folder, when it is a folder of this user, PrivateFolderMode, and so each
// folder inside it (not following links). A state folder made by an earlier version
// with 0755 is tightened at start this way. False when `path` is no folder.
bool TightenFolders(const std::string& path);

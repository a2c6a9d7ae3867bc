#pragma once
#include <string>

// Where the console's own files are: the build puts the driver package beside the
// executable; an installation puts the executables in <prefix>/bin/ and the
// package in <prefix>/share/quillon/. Both functions take the executable's folder
// with its trailing '/'.

// The driver package "Quillon.inf": beside the executable when it is there, else
// in ../share/quillon/ (also when neither exists: the path named in the refusal).
std::string DriverPackagePath(const std::string& executableFolder);

// True for an installed console: no package beside the executable, one in
// ../share/quillon/. Its folder belongs to the system, never to the user's settings.
bool IsInstalledLayout(const std::string& executableFolder);

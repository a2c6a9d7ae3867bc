#pragma once
#include <cstdio>
#include <string>

// `QuillonConsole --check-config [FILE]`: the configuration file read as a start
// reads it (StoredConfig), for the ports installed now, with nothing applied and
// nothing bound, so that it may run beside a running console. Each problem is one
// line on `out`; without any, one line says the file is fine. Returns the exit code:
// 0 when the file has no problem, 1 otherwise (also when it cannot be read).
int CheckConfiguration(const std::string& path, FILE* out);

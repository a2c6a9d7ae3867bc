#pragma once
#include <vector>

// Which COM numbers the system's COM number database holds as in use, from COM1 on
// (entry k is COM k + 1): the list the add-port dialog offers. Empty when the
// database is not available or cannot be read. Window thread.
std::vector<bool> ReadComNumberUsage();

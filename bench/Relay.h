#pragma once
// The yardstick of bulk transfers: the least any bridge between a pseudo-terminal
// and a TCP socket must do. A process of its own (this program started again with
// --relay) moves bytes both ways between its standard input, a pseudo-terminal's
// master, and its standard output, a connected TCP socket: poll, then 64 KiB reads
// and whole writes.
#include <utility>

#include "BenchSupport.h"

namespace bench {

// The hidden mode; ends when either side closes. Never returns.
[[noreturn]] void RelayMain();

// MB/s application->network and network->application through a fresh relay, the
// same transfers as the contestants', every byte checked.
std::pair<double, double> RelayedThroughput(uint64_t bytes);

} // namespace bench

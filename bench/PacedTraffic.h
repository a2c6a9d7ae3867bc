#pragma once
// Paced traffic: the writer of each stream writes one 64-byte message every 10 ms,
// the streams' turns spread evenly over the period, as independent sources would
// be; every reader of a stream must receive all of it, in order, each byte checked.
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr size_t MessageBytes = 64;

struct Stream {
    int Writer = -1;
    std::vector<int> Readers; // each descriptor reads one stream at most
    uint64_t Base = 0;        // pattern offset of the stream's first byte, apart for each stream
};

struct PacedTotals {
    double Deliveries = 0; // messages received, summed over the readers
    double Bytes = 0;      // bytes received, summed over the readers
    double OnTime = 0;     // share of the turns the benchmark took within 1 ms of their time:
                           // below 1, a loaded machine bunched the messages up
};

// Sends for `seconds`, then waits for the readers to have everything; Fail on a
// wrong byte or when the bytes stop coming.
PacedTotals RunPaced(const std::vector<Stream>& streams, double seconds, const std::string& who);

} // namespace bench

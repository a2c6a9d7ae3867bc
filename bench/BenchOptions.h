#pragma once
// What the command line asks of a benchmark run.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "CallCounter.h"

namespace bench {

struct Options {
    uint64_t Bytes = 64ull << 20; // bulk and log: bytes each way per round
    int Trips = 2000;             // one-byte round trips per round, after the warm-up
    int WarmUp = 200;
    double IdleSeconds = 3.0;
    int IdlePorts = 8;
    double PacedSeconds = 4.0;    // paced, broadcast and slow-reader cases: the timed window
    double CountSeconds = 2.0;    // the same cases' window in the system call counting pass
    std::vector<int> PacedPorts {1, 16, 64};
    std::vector<int> Clients {1, 10, 100};
    int Rounds = 3;               // contestants take turns; the report gives medians
    std::string Socat = "socat";  // a full path once the run starts; empty when missing
    std::string Strace = "strace"; // strace to count with; empty: none
    std::string CounterWanted = "auto"; // --counter
    CounterTool Counter;          // chosen once the run starts; None: no counting pass
    bool Console = true;          // --only chooses one contestant, for profiling
    bool SocatToo = true;
    std::set<std::string> Cases;  // empty: every case
    std::string Command;          // the command line, for the report

    bool Wants(const std::string& name) const { return Cases.empty() || Cases.count(name) != 0; }
};

// The case families, in the order of the report.
inline const std::vector<std::string>& CaseNames()
{
    static const std::vector<std::string> names {"paced", "broadcast", "slow", "idle", "roundtrip", "bulk", "log", "rfc2217", "tls", "monitor"};
    return names;
}

// Parses the command line; prints the usage and exits 0 (--help) or 2 (anything it
// cannot use).
Options ParseOptions(int argc, char** argv);

} // namespace bench

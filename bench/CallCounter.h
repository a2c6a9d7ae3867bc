#pragma once
// Counting a contestant's system calls, in a pass of its own: a counter slows the
// calls it sees, so no CPU or latency figure may come from that pass.
//
// Two counters. perf counts the raw_syscalls tracepoint, which costs each call
// little, so a contestant keeps its pace and batches its work as it does untraced.
// strace stops the contestant at every call; a busy contestant then falls behind and
// does more per call than it would, so its counts read low under load, but strace
// names the calls.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "BenchSupport.h"

namespace bench {

struct CounterTool {
    enum Kind { None, Perf, Strace } Type = None;
    std::string Path;
    std::string Name() const { return Type == Perf ? "perf" : Type == Strace ? "strace" : "none"; }
};

// The counter a run uses: `wanted` ("auto", "perf", "strace" or "none"); auto takes
// perf when it can count system calls here, else strace when it is on PATH.
CounterTool ChooseCounter(const std::string& wanted, const std::string& strace);

struct CallCount {
    double Calls = NAN;                              // every call of every thread
    std::vector<std::pair<std::string, double>> Top; // strace only: the most frequent, most first
};

class CallCounter {
public:
    // Attaches the counter to every thread of `pids` and returns once it counts.
    CallCounter(const CounterTool& tool, const std::vector<pid_t>& pids);
    ~CallCounter();
    CallCounter(const CallCounter&) = delete;
    CallCounter& operator=(const CallCounter&) = delete;
    // Detaches and reads the counter's summary; Calls is NaN when it gave none.
    CallCount Stop();

private:
    CounterTool Tool;
    pid_t Pid = -1;
    std::string Output;
};

} // namespace bench

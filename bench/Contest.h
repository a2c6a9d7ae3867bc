#pragma once
// One case, run for both contestants: each round builds a fresh bridge per
// contestant, the one going first alternating, so that a change of load on the
// machine falls on both alike; then, when strace is at hand, a separate pass counts
// each contestant's system calls on the same work.
#include <functional>
#include <optional>

#include "BenchOptions.h"
#include "Bridge.h"
#include "BridgeMeasures.h"
#include "CallCounter.h"

namespace bench {

// What one contestant showed over one measured stretch of a case.
struct Sample {
    double Seconds = 0;         // wall time
    double Cpu = 0;             // CPU seconds of the contestant's processes
    double Passes = NAN;        // the console's pump passes
    double PeakMiB = NAN;       // the contestant's peak resident size by the end
    double Events = 0;          // what the case counts: messages, round trips, MiB, seconds
    double Bytes = 0;           // payload bytes delivered and checked
    std::vector<double> Micros; // latencies, sorted
    double OnTime = NAN;        // paced cases: share of the turns the benchmark took on time

    static Sample Between(const Reading& from, const Reading& to)
    {
        Sample sample;
        sample.Seconds = SecondsBetween(from.At, to.At);
        sample.Cpu = to.Cpu - from.Cpu;
        sample.Passes = to.Passes - from.Passes;
        sample.PeakMiB = to.PeakMiB;
        return sample;
    }
    double CpuPercent() const { return 100 * Cpu / Seconds; }
};

// A case's work on a live bridge: one sample per measure of the case, always in the
// same order. `counting`: the pass under strace, which skips warm-ups and may be
// shorter; its events are what the calls are divided by.
using Work = std::function<std::vector<Sample>(Bridge& bridge, bool counting)>;

// What one contestant showed in one case.
struct Entrant {
    bool Ran = false;
    std::vector<std::vector<Sample>> Rounds; // per round, per measure
    CallCount Calls;                         // the counting pass
    double CountedEvents = NAN;

    // The median over the rounds of `figure` of the sample of `measure`; NaN when
    // the contestant did not run.
    double Median(size_t measure, const std::function<double(const Sample&)>& figure) const;
    // Every latency of `measure` over all rounds, sorted.
    std::vector<double> Pooled(size_t measure) const;
    double CallsPerEvent() const { return Calls.Calls / CountedEvents; }
};

struct Contest {
    Entrant Console, Socat;
    Entrant& Of(Who who) { return who == Who::Console ? Console : Socat; }
    const Entrant& Of(Who who) const { return who == Who::Console ? Console : Socat; }
};

struct ContestPlan {
    std::string Label;                     // for the progress line
    std::optional<Layout> Console, Socat;  // nullopt: that contestant sits the case out
    Work Measure;
    std::function<void(int round)> EachRound; // optional: a figure of the case's own per round
};

// Runs the plans side by side, round by round, so that figures to be compared with
// each other (log off and on, say) meet the same load.
std::vector<Contest> RunContests(const Options& options, const std::vector<ContestPlan>& plans);

inline Contest RunContest(const Options& options, const ContestPlan& plan)
{
    return RunContests(options, {plan})[0];
}

// Common figures of a measure.
inline double CpuPercent(const Sample& s)
{
    return s.CpuPercent();
}
inline double PassesPerSecond(const Sample& s)
{
    return s.Passes / s.Seconds;
}
inline double OnTimePercent(const Sample& s)
{
    return 100 * s.OnTime;
}
inline double PassesPerMB(const Sample& s)
{
    return s.Passes / (s.Bytes / 1e6);
}
inline double PeakMiB(const Sample& s)
{
    return s.PeakMiB;
}
inline double MegabytesPerSecond(const Sample& s)
{
    return s.Bytes / 1e6 / s.Seconds;
}
inline double CpuMsPerMB(const Sample& s)
{
    return 1000 * s.Cpu / (s.Bytes / 1e6);
}

} // namespace bench

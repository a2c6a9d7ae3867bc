#pragma once
// The case families of the benchmark, each adding its rows, targets and notes to the
// report. One file per family.
#include "Contest.h"
#include "Report.h"

namespace bench {

void PacedCase(const Options& options, Report& report);     // CasePaced.cpp
void BroadcastCase(const Options& options, Report& report); // CasePaced.cpp
void SlowReaderCase(const Options& options, Report& report);
void IdleCase(const Options& options, Report& report);
void RoundTripCase(const Options& options, Report& report); // CaseBulk.cpp
void BulkCase(const Options& options, Report& report);      // CaseBulk.cpp
void LogCase(const Options& options, Report& report);       // CaseBulk.cpp
void Rfc2217Case(const Options& options, Report& report);
void TlsCase(const Options& options, Report& report);
void MonitorCase(const Options& options, Report& report);

// A row of both contestants' medians of `figure` for `measure`; socat shows "—"
// where it had no equivalent.
inline void MedianRow(Report& report, const std::string& job, const std::string& measure, const Contest& contest,
                      bool socatHas, size_t index, const std::function<double(const Sample&)>& figure,
                      int decimals)
{
    report.Row(job, measure, contest.Console.Median(index, figure),
               socatHas ? Figure(contest.Socat.Median(index, figure)) : std::nullopt, decimals);
}

// The counting pass's calls per event of both contestants.
inline void CallsRow(Report& report, const std::string& job, const std::string& measure, const Contest& contest,
                     bool socatHas, int decimals = 1)
{
    report.Row(job, measure, contest.Console.CallsPerEvent(),
               socatHas ? Figure(contest.Socat.CallsPerEvent()) : std::nullopt, decimals);
}

// Each contestant's most frequent calls in the counting pass (strace names them), as
// a note.
inline void TopCallsNote(Report& report, const std::string& job, const Contest& contest)
{
    for (Who who : {Who::Console, Who::Socat}) {
        const Entrant& entrant = contest.Of(who);
        if (entrant.Calls.Top.empty() || !(entrant.CountedEvents > 0))
            continue;
        std::string text = job + ": " + NameOf(who) + "'s most frequent calls per event:";
        for (auto& [name, calls] : entrant.Calls.Top)
            text += " " + name + " " + Num(calls / entrant.CountedEvents, 2);
        report.Note(text);
    }
}

inline double Ratio(double a, double b)
{
    return b > 0 ? a / b : NAN;
}

} // namespace bench

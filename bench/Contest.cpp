#include "Contest.h"

namespace bench {

double Entrant::Median(size_t measure, const std::function<double(const Sample&)>& figure) const
{
    std::vector<double> values;
    for (auto& round : Rounds)
        if (measure < round.size())
            values.push_back(figure(round[measure]));
    return bench::Median(values);
}

std::vector<double> Entrant::Pooled(size_t measure) const
{
    std::vector<double> all;
    for (auto& round : Rounds)
        if (measure < round.size())
            all.insert(all.end(), round[measure].Micros.begin(), round[measure].Micros.end());
    std::sort(all.begin(), all.end());
    return all;
}

namespace {

std::vector<std::pair<Who, const Layout*>> Entrants(const Options& options, const ContestSpec& spec)
{
    std::vector<std::pair<Who, const Layout*>> entrants;
    if (options.Console && spec.Console)
        entrants.emplace_back(Who::Console, &*spec.Console);
    if (options.SocatToo && !options.Socat.empty() && spec.Socat)
        entrants.emplace_back(Who::Socat, &*spec.Socat);
    return entrants;
}

void CountCalls(const Options& options, const ContestSpec& spec, Contest& contest)
{
    for (auto [who, layout] : Entrants(options, spec)) {
        Bridge bridge(who, *layout, options);
        bridge.AskPasses = false;
        CallCounter counter(options.Counter, bridge.Pids());
        std::vector<Sample> samples = spec.Measure(bridge, true);
        Entrant& entrant = contest.Of(who);
        entrant.Calls = counter.Stop();
        entrant.CountedEvents = 0;
        for (auto& sample : samples)
            entrant.CountedEvents += sample.Events;
    }
}

} // namespace

std::vector<Contest> RunContests(const Options& options, const std::vector<ContestSpec>& specs)
{
    std::string labels;
    for (auto& spec : specs)
        labels += (labels.empty() ? "" : "; ") + spec.Label;
    std::printf("  %s ...", labels.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    std::vector<Contest> contests(specs.size());
    for (int round = 0; round < options.Rounds; ++round) {
        for (size_t s = 0; s < specs.size(); ++s) {
            if (specs[s].EachRound)
                specs[s].EachRound(round);
            auto entrants = Entrants(options, specs[s]);
            for (size_t turn = 0; turn < entrants.size(); ++turn) {
                auto [who, layout] = entrants[round % 2 ? entrants.size() - 1 - turn : turn];
                Bridge bridge(who, *layout, options);
                contests[s].Of(who).Rounds.push_back(specs[s].Measure(bridge, false));
                contests[s].Of(who).Ran = true;
            }
        }
    }
    if (options.Counter.Type != CounterTool::None)
        for (size_t s = 0; s < specs.size(); ++s)
            CountCalls(options, specs[s], contests[s]);
    std::printf(" %.0f s\n", SecondsBetween(start, Clock::now()));
    std::fflush(stdout);
    return contests;
}

} // namespace bench

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

std::vector<std::pair<Who, const Layout*>> Entrants(const Options& options, const ContestPlan& plan)
{
    std::vector<std::pair<Who, const Layout*>> entrants;
    if (options.Console && plan.Console)
        entrants.emplace_back(Who::Console, &*plan.Console);
    if (options.SocatToo && !options.Socat.empty() && plan.Socat)
        entrants.emplace_back(Who::Socat, &*plan.Socat);
    return entrants;
}

void CountCalls(const Options& options, const ContestPlan& plan, Contest& contest)
{
    for (auto [who, layout] : Entrants(options, plan)) {
        Bridge bridge(who, *layout, options);
        bridge.AskPasses = false;
        CallCounter counter(options.Counter, bridge.Pids());
        std::vector<Sample> samples = plan.Measure(bridge, true);
        Entrant& entrant = contest.Of(who);
        entrant.Calls = counter.Stop();
        entrant.CountedEvents = 0;
        for (auto& sample : samples)
            entrant.CountedEvents += sample.Events;
    }
}

} // namespace

std::vector<Contest> RunContests(const Options& options, const std::vector<ContestPlan>& plans)
{
    std::string labels;
    for (auto& plan : plans)
        labels += (labels.empty() ? "" : "; ") + plan.Label;
    std::printf("  %s ...", labels.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    std::vector<Contest> contests(plans.size());
    for (int round = 0; round < options.Rounds; ++round) {
        for (size_t s = 0; s < plans.size(); ++s) {
            if (plans[s].EachRound)
                plans[s].EachRound(round);
            auto entrants = Entrants(options, plans[s]);
            for (size_t turn = 0; turn < entrants.size(); ++turn) {
                auto [who, layout] = entrants[round % 2 ? entrants.size() - 1 - turn : turn];
                Bridge bridge(who, *layout, options);
                contests[s].Of(who).Rounds.push_back(plans[s].Measure(bridge, false));
                contests[s].Of(who).Ran = true;
            }
        }
    }
    if (options.Counter.Type != CounterTool::None)
        for (size_t s = 0; s < plans.size(); ++s)
            CountCalls(options, plans[s], contests[s]);
    std::printf(" %.0f s\n", SecondsBetween(start, Clock::now()));
    std::fflush(stdout);
    return contests;
}

} // namespace bench

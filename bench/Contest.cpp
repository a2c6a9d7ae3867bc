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

Contest RunContest(const Options& options, const ContestSpec& spec)
{
    std::printf("  %s ...", spec.Label.c_str());
    std::fflush(stdout);
    Contest contest;
    std::vector<std::pair<Who, const Layout*>> entrants;
    if (options.Console && spec.Console)
        entrants.emplace_back(Who::Console, &*spec.Console);
    if (options.SocatToo && !options.Socat.empty() && spec.Socat)
        entrants.emplace_back(Who::Socat, &*spec.Socat);

    for (int round = 0; round < options.Rounds; ++round) {
        if (spec.EachRound)
            spec.EachRound(round);
        for (size_t turn = 0; turn < entrants.size(); ++turn) {
            auto [who, layout] = entrants[round % 2 ? entrants.size() - 1 - turn : turn];
            Bridge bridge(who, *layout, options);
            contest.Of(who).Rounds.push_back(spec.Measure(bridge, false));
            contest.Of(who).Ran = true;
        }
    }
    if (options.Counter.Type != CounterTool::None) {
        for (auto [who, layout] : entrants) {
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
    std::printf(" done\n");
    std::fflush(stdout);
    return contest;
}

} // namespace bench

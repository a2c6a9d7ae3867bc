#include "Report.h"

#include "BenchSupport.h"

#include <cstdio>

namespace bench {

std::string Num(double value, int decimals)
{
    if (std::isnan(value))
        return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

namespace {

std::string Shown(const Figure& figure, int decimals)
{
    return figure ? Num(*figure, decimals) : "—";
}

} // namespace

void Report::Row(const std::string& job, const std::string& measure, Figure console, Figure socat, int decimals)
{
    Lines.push_back({job, measure, console, socat, decimals});
}

void Report::Target(const std::string& text, double value, bool met, int decimals)
{
    Goals.push_back({text, value, met, decimals});
}

void Report::Note(const std::string& text)
{
    Notes.push_back(text);
}

void Report::Print(const Options& options) const
{
    std::printf("\ncommand: %s\n", options.Command.c_str());
    std::printf("%ld cores; load average at end %s\n\n", sysconf(_SC_NPROCESSORS_ONLN), LoadAverage().c_str());
    std::printf("| case | measure | console | socat | console/socat |\n|---|---|---|---|---|\n");
    std::string previous;
    for (auto& line : Lines) {
        double ratio = line.Console && line.Socat && *line.Socat > 0 ? *line.Console / *line.Socat : NAN;
        std::printf("| %s | %s | %s | %s | %s |\n", line.Job == previous ? "" : line.Job.c_str(),
                    line.Measure.c_str(), Shown(line.Console, line.Decimals).c_str(),
                    Shown(line.Socat, line.Decimals).c_str(), line.Socat ? Num(ratio, 2).c_str() : "");
        previous = line.Job;
    }
    if (!Goals.empty())
        std::printf("\ntargets (the console's; figures never fail the run):\n");
    for (auto& goal : Goals)
        std::printf("  %-7s %s: %s\n", std::isnan(goal.Value) ? "n/a" : goal.Met ? "met" : "not met",
                    goal.Text.c_str(), Num(goal.Value, goal.Decimals).c_str());
    if (!Notes.empty())
        std::printf("\n");
    for (auto& note : Notes)
        std::printf("- %s\n", note.c_str());
}

} // namespace bench

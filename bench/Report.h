#pragma once
// The figures a run gathers, printed once at the end: one table (Markdown, ready for
// the README) in the order the cases ran, the targets they are judged by, and notes.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "BenchOptions.h"

namespace bench {

// A contestant's figure: nullopt when it has no equivalent of the job ("—"), NaN
// when it was not measured in this run ("n/a").
using Figure = std::optional<double>;

class Report {
public:
    void Row(const std::string& job, const std::string& measure, Figure console, Figure socat, int decimals);
    // A target of the console; `value` as shown, NaN when this run did not measure it.
    void Target(const std::string& text, double value, bool met, int decimals = 2);
    void Note(const std::string& text);
    void Print(const Options& options) const;

private:
    struct Line {
        std::string Job, Measure;
        Figure Console, Socat;
        int Decimals;
    };
    struct Goal {
        std::string Text;
        double Value;
        bool Met;
        int Decimals;
    };
    std::vector<Line> Lines;
    std::vector<Goal> Goals;
    std::vector<std::string> Notes;
};

std::string Num(double value, int decimals);

} // namespace bench

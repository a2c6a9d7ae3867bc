#include "control/StatusChanges.h"

#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "control/JsonWriter.h"
#include "control/StatusReport.h"
#include "platform/base/EventLog.h"
#include "platform/base/Text.h"

namespace {

// The facts of one port or link, in order; the first, of no name, says what it is.
struct Subject {
    std::string What;
    std::vector<std::pair<std::string, std::string>> Facts;

    const std::string* Find(const std::string& name) const
    {
        for (const auto& [fact, value] : Facts) {
            if (fact == name)
                return &value;
        }
        return nullptr;
    }
    std::string Identity() const { return Facts.empty() || !Facts[0].first.empty() ? std::string() : Facts[0].second; }
};

std::vector<Subject> ReadFacts(const std::string& text)
{
    std::vector<Subject> subjects;
    ForEachLine(text, [&](std::string_view line) {
        const size_t first = line.find('\t');
        const size_t second = first == std::string_view::npos ? first : line.find('\t', first + 1);
        if (second == std::string_view::npos)
            return; // not a fact
        const std::string what(line.substr(0, first));
        if (subjects.empty() || subjects.back().What != what)
            subjects.push_back({what, {}});
        subjects.back().Facts.emplace_back(line.substr(first + 1, second - first - 1), line.substr(second + 1));
    });
    return subjects;
}

class Printer {
public:
    Printer(int64_t time, bool json) : Time(time), Json(json), Stamp(EventLog::TimeText(time)) {}

    void Change(const std::string& what, const std::string& name, const std::string& value, const std::string* was)
    {
        if (Json) {
            JsonObject json;
            json.Num("time", Time).Str("what", what).Str("name", name).Str("value", value);
            if (was)
                json.Str("was", *was);
            Out += json.Close() + "\n";
            return;
        }
        Out += Stamp + " " + what + (name.empty() ? "" : " " + name) + ": " + value
            + (was ? " (was " + *was + ")" : std::string()) + "\n";
    }

    std::string Out;

private:
    int64_t Time;
    bool Json;
    std::string Stamp;
};

} // namespace

std::string StatusChanges(const std::string& before, const std::string& after, int64_t time, bool json)
{
    const std::vector<Subject> old = ReadFacts(before);
    const std::vector<Subject> now = ReadFacts(after);
    std::map<std::string, const Subject*> oldByWhat;
    std::map<std::string, const Subject*> nowByWhat;
    for (const Subject& subject : old)
        oldByWhat[subject.What] = &subject;
    for (const Subject& subject : now)
        nowByWhat[subject.What] = &subject;

    Printer print(time, json);
    for (const Subject& subject : old) {
        if (!nowByWhat.count(subject.What))
            print.Change(subject.What, "removed", subject.Identity(), nullptr);
    }
    for (const Subject& subject : now) {
        const auto found = oldByWhat.find(subject.What);
        if (found == oldByWhat.end()) {
            print.Change(subject.What, "added", subject.Identity(), nullptr);
            continue;
        }
        for (const auto& [name, value] : subject.Facts) {
            const std::string* was = found->second->Find(name);
            if (!was || *was != value)
                print.Change(subject.What, name, value, was);
        }
    }
    return print.Out;
}

// Implements EventLog: the console's one-line events on standard error.
#include "platform/base/EventLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <poll.h>
#include <unistd.h>

#include "platform/base/TickCount.h"

namespace {

// What waits for standard error is bounded; beyond it lines are counted, not kept.
constexpr size_t WaitingLimit = 64 * 1024;
// A line is cut here, so that one write of it is one atomic write to a pipe.
constexpr size_t LineLimit = 1024;

// Writes `line` to standard error only if that cannot block. True when written (or
// when standard error is gone, so that nothing waits for it for ever).
bool WriteNow(const std::string& line)
{
    pollfd entry {STDERR_FILENO, POLLOUT, 0};
    if (::poll(&entry, 1, 0) <= 0)
        return false;
    if (entry.revents & (POLLERR | POLLNVAL | POLLHUP))
        return true;
    ssize_t written;
    do {
        written = ::write(STDERR_FILENO, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written >= 0 || errno != EAGAIN;
}

// The console's own lines, which no bound counts away.
bool Unbounded(std::string_view source)
{
    return source.empty() || source == "console" || source == "config" || source == "store";
}

std::string MoreText(uint64_t more)
{
    return std::to_string(more) + " more event" + (more == 1 ? "" : "s") + " in one second";
}

} // namespace

EventLog& EventLog::Instance()
{
    static EventLog log;
    return log;
}

EventLog::EventLog()
{
    const char* stream = std::getenv("JOURNAL_STREAM");
    Journal = stream && *stream;
}

const char* EventLog::LevelWord(EventLevel level)
{
    switch (level) {
    case EventLevel::Error:
        return "error";
    case EventLevel::Warning:
        return "warning";
    case EventLevel::Notice:
        return "notice";
    case EventLevel::Info:
        return "info";
    case EventLevel::Debug:
        return "debug";
    }
    return "info";
}

std::string EventLog::TimeText(int64_t millisecondsSince1970)
{
    const time_t seconds = static_cast<time_t>(millisecondsSince1970 / 1000);
    tm local {};
    localtime_r(&seconds, &local);
    char stamp[48];
    const size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(millisecondsSince1970 % 1000));
    return std::string(stamp, n) + millis;
}

std::string EventLog::Format(const Event& event, bool journal)
{
    std::string line;
    if (journal) {
        line = "<" + std::to_string(static_cast<int>(event.Level)) + ">";
    } else {
        line = TimeText(event.Time) + " " + LevelWord(event.Level) + ": ";
    }
    const size_t head = line.size();
    if (!event.Source.empty())
        line += event.Source + ": ";
    line += event.Text;
    if (line.size() > LineLimit - 1)
        line.resize(LineLimit - 1);
    // One event, one line, whatever its words hold.
    for (size_t i = head; i < line.size(); ++i) {
        if (line[i] == '\n' || line[i] == '\r')
            line[i] = ' ';
    }
    line += '\n';
    return line;
}

void EventLog::Say(EventLevel level, std::string_view source, std::string_view text) noexcept
{
    const int64_t now = WallClockNow();
    std::lock_guard<std::mutex> hold(Mutex);
    if (static_cast<int>(level) > static_cast<int>(Shown))
        return;
    try {
        SayLocked(level, source, text, now);
    } catch (const std::bad_alloc&) {
        ++Lost;
    }
}

void EventLog::SayLocked(EventLevel level, std::string_view source, std::string_view text, int64_t now)
{
    SayOverBursts(now);
    if (!Unbounded(source)) {
        Burst& burst = Bursts.try_emplace(std::string(source)).first->second;
        if (now - burst.SecondStart >= 1000) {
            burst.SecondStart = now;
            burst.Lines = 0;
            BurstsDue = std::min(BurstsDue, now + 1000);
        }
        if (++burst.Lines > BurstLines) {
            ++burst.Suppressed;
            if (static_cast<int>(level) < static_cast<int>(burst.Level))
                burst.Level = level;
            ArmFlush(); // the count is said once the second is over, even if nothing follows
            return;
        }
        if (!TotalAllows(level, 1, now)) {
            ArmFlush();
            return;
        }
    }
    Record(level, source, text, now);
    Drain();
    ArmFlush();
}

void EventLog::ArmFlush()
{
    if (!Wake || WakeArmed)
        return;
    const bool burstOpen = Total.Suppressed > 0 || std::any_of(Bursts.begin(), Bursts.end(), [](const auto& entry) {
        return entry.second.Suppressed > 0;
    });
    if (!burstOpen && Waiting.empty() && !Lost)
        return;
    WakeArmed = true;
    // A burst's count is due when its second is over; a line stderr did not take is
    // tried again soon.
    Wake(burstOpen ? 1000 : 100);
}

void EventLog::SetWakeHook(WakeHook hook)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Wake = std::move(hook);
    WakeArmed = false;
}

void EventLog::Record(EventLevel level, std::string_view source, std::string_view text, int64_t now)
{
    Event event;
    event.Number = Next++;
    event.Time = now;
    event.Level = level;
    event.Source = source;
    event.Text = text;
    const std::string line = Format(event, Journal);
    if (Custom) {
        Custom(event, line);
    } else if (WaitingBytes + line.size() <= WaitingLimit) {
        Waiting.push_back(line);
        WaitingBytes += line.size();
    } else {
        ++Lost;
    }
    Recent.push_back(std::move(event));
    if (Recent.size() > Kept)
        Recent.pop_front();
}

void EventLog::SayTotal(int64_t now)
{
    if (now - Total.SecondStart < 1000)
        return;
    if (Total.Suppressed)
        Record(Total.Level, "console", MoreText(Total.Suppressed), now);
    Total = Burst {};
    Total.SecondStart = now;
}

bool EventLog::TotalAllows(EventLevel level, uint64_t events, int64_t now)
{
    SayTotal(now);
    if (++Total.Lines <= TotalLines)
        return true;
    Total.Suppressed += events;
    if (static_cast<int>(level) < static_cast<int>(Total.Level))
        Total.Level = level;
    return false;
}

void EventLog::SayOverBursts(int64_t now)
{
    SayTotal(now);
    // Many sources cost a look at each only when one of their seconds is over.
    if (now < BurstsDue)
        return;
    BurstsDue = INT64_MAX;
    for (auto it = Bursts.begin(); it != Bursts.end();) {
        Burst& burst = it->second;
        if (now - burst.SecondStart < 1000) {
            BurstsDue = std::min(BurstsDue, burst.SecondStart + 1000);
            ++it;
            continue;
        }
        // A source's count is a line of its own, within the whole console's bound.
        if (burst.Suppressed && TotalAllows(burst.Level, burst.Suppressed, now))
            Record(burst.Level, it->first, MoreText(burst.Suppressed), now);
        // A quiet source is forgotten, so that many sources cost nothing for long.
        it = Bursts.erase(it);
    }
}

void EventLog::Drain()
{
    if (Lost && WaitingBytes == 0) {
        Event event;
        event.Time = WallClockNow();
        event.Level = EventLevel::Warning;
        event.Text = std::to_string(Lost) + " event lines were lost: standard error or memory could not take them";
        Lost = 0;
        Waiting.push_back(Format(event, Journal));
        WaitingBytes += Waiting.back().size();
    }
    while (!Waiting.empty() && WriteNow(Waiting.front())) {
        WaitingBytes -= Waiting.front().size();
        Waiting.pop_front();
    }
}

void EventLog::SetThreshold(EventLevel level)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Shown = level;
}

EventLevel EventLog::Threshold() const
{
    std::lock_guard<std::mutex> hold(Mutex);
    return Shown;
}

void EventLog::SetSink(Sink sink)
{
    std::lock_guard<std::mutex> hold(Mutex);
    Custom = std::move(sink);
}

std::vector<Event> EventLog::Since(uint64_t after) const
{
    std::lock_guard<std::mutex> hold(Mutex);
    std::vector<Event> events;
    for (const Event& event : Recent) {
        if (event.Number > after)
            events.push_back(event);
    }
    return events;
}

uint64_t EventLog::LastNumber() const
{
    std::lock_guard<std::mutex> hold(Mutex);
    return Next - 1;
}

void EventLog::Flush()
{
    std::lock_guard<std::mutex> hold(Mutex);
    WakeArmed = false;
    SayOverBursts(WallClockNow());
    Drain();
    ArmFlush();
}

void EventLog::Finish(int milliseconds)
{
    Flush();
    std::lock_guard<std::mutex> hold(Mutex);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!Waiting.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd entry {STDERR_FILENO, POLLOUT, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return;
        Drain();
    }
}

void EventLog::Reset()
{
    std::lock_guard<std::mutex> hold(Mutex);
    Recent.clear();
    Bursts.clear();
    Total = Burst {};
    BurstsDue = 0;
    Waiting.clear();
    WaitingBytes = 0;
    Lost = 0;
}

#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// How much an event matters, numbered as syslog and sd-daemon(3) number them.
enum class EventLevel : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

// One event as the log keeps it.
struct Event {
    uint64_t Number = 0;   // from 1, in the order the events were said
    int64_t Time = 0;      // wall clock, milliseconds since 1970
    EventLevel Level = EventLevel::Info;
    std::string Source;    // what it happened to: "COM3 Net1", "COM3", "config"; may be empty
    std::string Text;
};

// The console's event log: what happens to its links, ports, configuration and to the
// console itself, one line per event, on standard error, with or without a window.
//
// Under systemd (JOURNAL_STREAM set) each line starts with its priority ("<4>"), so
// the journal files it at that level; elsewhere it starts with the local time.
//
// Never holds its caller up: a line goes to standard error only when a write cannot
// block (a full pipe or a stopped terminal would otherwise stall the pump); what
// cannot go yet waits in a bounded queue, and what does not fit is counted and said
// later in one line. A source that says more than BurstLines lines in a second has
// the rest counted and said as one "N more" line once its second is over; and the
// console as a whole says at most TotalLines lines a second about its ports and
// links, the rest counted alike (a thousand links failing at once are a thousand
// sources). The lines of the console itself and of its configuration ("console",
// "config", "store") are never counted away: a start or a reload says all it found.
//
// The last Kept events stay readable for `quillonctl events`.
//
// Any thread: an internal mutex serialises every call, and no call waits for anything
// but that mutex (Finish excepted).
class EventLog {
public:
    static constexpr size_t Kept = 1000;
    static constexpr int BurstLines = 10;
    static constexpr int TotalLines = 100;

    static EventLog& Instance();

    // Never throws: a line the log has no memory for is counted as lost and said later.
    void Say(EventLevel level, std::string_view source, std::string_view text) noexcept;

    // Lines above `level` are neither written nor kept (Info by default; --quiet
    // Warning, --verbose Debug).
    void SetThreshold(EventLevel level);
    EventLevel Threshold() const;

    // Where the lines go instead of standard error (tests, a window); null: back to
    // standard error. The sink is called with the log's mutex held: it must not say
    // an event itself.
    using Sink = std::function<void(const Event& event, const std::string& line)>;
    void SetSink(Sink sink);

    // The events kept whose number is above `after`, oldest first.
    std::vector<Event> Since(uint64_t after) const;
    uint64_t LastNumber() const;

    // Says the counts of bursts that are over and writes what waits, if it can.
    // Call it when the wake hook asks (or now and then).
    void Flush();
    // Called, from whatever thread says an event, when a Flush will be wanted in
    // `milliseconds` (a burst's count, a line standard error did not take): once, until
    // the next Flush. Called with the log's mutex held: it may only schedule the flush.
    // An idle log never calls it, so an idle console wakes for nothing.
    using WakeHook = std::function<void(int milliseconds)>;
    void SetWakeHook(WakeHook hook);
    // At the end of the console: Flush, then waits up to `milliseconds` for what
    // still waits to be written.
    void Finish(int milliseconds);

    // The line as written: "<4>COM3 Net1: connect failed: Connection refused" under
    // systemd, "2026-12-07 17:30:01.123 warning: COM3 Net1: …" elsewhere.
    static std::string Format(const Event& event, bool journal);
    static const char* LevelWord(EventLevel level);
    // Local time as the lines show it: "2026-12-07 17:30:01.123".
    static std::string TimeText(int64_t millisecondsSince1970);
    // Whether the lines go to the journal (JOURNAL_STREAM was set at start).
    bool ToJournal() const { return Journal; }

    // For tests: forgets every event, burst and waiting line.
    void Reset();

private:
    EventLog();
    struct Burst {
        int64_t SecondStart = 0;
        int Lines = 0;
        uint64_t Suppressed = 0;
        EventLevel Level = EventLevel::Info;
    };

    void SayLocked(EventLevel level, std::string_view source, std::string_view text, int64_t now); // mutex held
    void Record(EventLevel level, std::string_view source, std::string_view text, int64_t now); // mutex held
    void SayOverBursts(int64_t now); // mutex held
    // Whether one more line of a port or link fits in the whole console's second;
    // counts `events` as not written when it does not.
    bool TotalAllows(EventLevel level, uint64_t events, int64_t now); // mutex held
    // Says the whole console's count once its second is over.
    void SayTotal(int64_t now); // mutex held
    void Drain(); // mutex held
    void ArmFlush(); // mutex held

    mutable std::mutex Mutex;
    EventLevel Shown = EventLevel::Info;
    bool Journal = false;
    Sink Custom;
    WakeHook Wake;
    bool WakeArmed = false;
    uint64_t Next = 1;
    std::deque<Event> Recent;
    std::map<std::string, Burst, std::less<>> Bursts;
    Burst Total; // every port's and link's lines together
    int64_t BurstsDue = 0; // no source's second ends before this
    std::deque<std::string> Waiting; // lines standard error could not take yet
    size_t WaitingBytes = 0;
    uint64_t Lost = 0; // lines that did not fit in Waiting
};

// Shorthand for EventLog::Instance().Say.
inline void SayEvent(EventLevel level, std::string_view source, std::string_view text) noexcept
{
    EventLog::Instance().Say(level, source, text);
}

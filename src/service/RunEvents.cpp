#include "service/RunEvents.h"

#include <csignal>
#include <unistd.h>

#include "service/ConsoleOptions.h"

namespace {

// Often enough that a burst's count follows its second closely.
constexpr int FlushIntervalMs = 250;
constexpr int FinishMs = 1000;
const char* const Source = "console";

std::string SignalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    }
    return "signal " + std::to_string(signal);
}

} // namespace

RunEvents::RunEvents(EventLevel level, const char* mode) : Mode(mode)
{
    EventLog::Instance().SetThreshold(level);
    Flusher.setInterval(FlushIntervalMs);
    connect(&Flusher, &QTimer::timeout, this, [] { EventLog::Instance().Flush(); });
    Flusher.start();
}

RunEvents::~RunEvents()
{
    if (Running) {
        const std::string why = Signal ? SignalName(Signal) : std::string("the window was closed");
        SayEvent(EventLevel::Notice, Source, "stopped (" + why + ")");
    }
    EventLog::Instance().Finish(FinishMs);
}

void RunEvents::Started()
{
    Running = true;
    SayEvent(EventLevel::Notice, Source,
             std::string("started ") + Mode + " (version " + ConsoleOptions::VersionNumber() + ", pid "
                 + std::to_string(::getpid()) + ")");
}

#include "service/RunEvents.h"

#include <csignal>
#include <unistd.h>

#include "service/ConsoleOptions.h"

namespace {

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
    // The log asks for a flush only when one is wanted (a burst's count, a line
    // standard error did not take), from whatever thread said the event: an idle
    // console never wakes for it.
    Flusher.setSingleShot(true);
    connect(&Flusher, &QTimer::timeout, this, [] { EventLog::Instance().Flush(); });
    EventLog::Instance().SetWakeHook([this](int milliseconds) {
        QMetaObject::invokeMethod(this, [this, milliseconds] { Flusher.start(milliseconds); }, Qt::QueuedConnection);
    });
}

RunEvents::~RunEvents()
{
    EventLog::Instance().SetWakeHook(nullptr);
    SayStopped();
    EventLog::Instance().Finish(FinishMs);
}

void RunEvents::SayStopped()
{
    if (!Running)
        return;
    Running = false;
    const std::string why = Signal ? SignalName(Signal) : std::string("the window was closed");
    SayEvent(EventLevel::Notice, Source, "stopped (" + why + ")");
}

void RunEvents::Started()
{
    Running = true;
    SayEvent(EventLevel::Notice, Source,
             std::string("started ") + Mode + " (version " + ConsoleOptions::VersionNumber() + ", pid "
                 + std::to_string(::getpid()) + ")");
}

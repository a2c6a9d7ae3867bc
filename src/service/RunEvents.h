#pragma once
#include <QObject>
#include <QTimer>
#include <string>

#include "platform/base/EventLog.h"

// The console's own events for one run, with its window or without: the level the
// command line chose, "started" and "stopped", and the event log kept moving by the
// event loop (bursts counted and said, lines standard error could not take yet
// written).
//
// Made once the application object exists; destroyed after the console has stopped
// (its ports and links gone), when it says "stopped" and waits up to a second for
// standard error to take what is left. Window thread only.
class RunEvents : public QObject {
    Q_OBJECT

public:
    // `mode`: "without a window" or "with its window".
    RunEvents(EventLevel level, const char* mode);
    ~RunEvents() override;

    // The console runs: its ports are up and its settings loaded.
    void Started();
    // The stop signal that ends the run (0: none, the window was closed).
    void StoppedBy(int signal) { Signal = signal; }
    // Says "stopped", once: its ports and links are gone (the destructor says it
    // otherwise).
    void SayStopped();

private:
    QTimer Flusher;
    const char* Mode;
    bool Running = false;
    int Signal = 0;
};

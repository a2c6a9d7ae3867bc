#pragma once
#include <QObject>
#include <QSocketNotifier>
#include <memory>

// Ends the console's event loop when the process is asked to stop (SIGTERM, SIGINT),
// so that the window and its port manager are destroyed in order: the pump stops, the
// links close and the COM links are removed, as after a close. SIGHUP asks for the
// configuration file to be read again instead (ReloadRequested), as daemons take it.
//
// The signal handler only writes one byte into a pipe (async-signal-safe); the read
// end is watched by the event loop, which then leaves with exit code 0 for a stop,
// or emits ReloadRequested. The stop skips the close handler's question about open
// ports: nobody is there to answer. A signal that was ignored when the object was
// built (nohup ignores SIGHUP) stays ignored; for SIGHUP the event log says so, and
// that quillonctl reload still reloads.
//
// One object per process, built and destroyed on the window thread; it owns both
// ends of the pipe and closes them, and puts the previous handlers back.
class QuitOnSignals : public QObject {
    Q_OBJECT

public:
    QuitOnSignals();
    ~QuitOnSignals() override;

    // True once a stop signal has been seen by the event loop; a caller that has
    // not entered the loop yet checks it before doing so.
    bool Requested() const { return Seen; }
    // The first stop signal seen (SIGTERM, …); 0 before one.
    int Signal() const { return Which; }

signals:
    // SIGHUP came: the console reads its configuration again. Emitted on the event
    // loop's thread, once for any number of SIGHUPs seen together.
    void ReloadRequested();

private:
    void Drain();

    std::unique_ptr<QSocketNotifier> Notifier;
    bool Seen = false;
    int Which = 0;
};

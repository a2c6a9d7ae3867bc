// The console with its window, in the module the executable loads when it has a
// display (see WindowModule.h): one console per user, only on the platform it is built
// for, then the main window, whose construction starts everything else.
//
// Exit codes: 0 after a normal run (the window was closed, or the process was asked
// to stop); 1 when start-up ends early (another console runs, the lock cannot be
// made, the wrong platform, "Initialize failed!").
#include <exception>
#include <string>

#include <QApplication>
#include <QFile>

#include "WindowModule.h"
#include "control/ControlSocket.h"
#include "service/ConsoleOptions.h"
#include "service/ConsoleStart.h"
#include "service/ControlServer.h"
#include "service/QuitOnSignals.h"
#include "service/RunEvents.h"
#include "service/SingleInstance.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxSeam.h"

namespace {

// Messages of the start-up: no owner, the console's title, the error icon.
void ShowStartError(const QString& text)
{
    MessageBoxSeam::ShowError(nullptr, text, ConsoleTitle);
}

// A second start: the running console has been asked to bring its window forward.
// One with a window has done so, and this start ends without a word; one without
// (a headless console, a user service) has none to show, so the user learns where
// the console is and how to reach it.
void TellAboutRunningConsole(const SingleInstance& instance)
{
    constexpr double AnswerSeconds = 5.0;
    ControlReply reply;
    const bool answered = ExchangeWithConsole(QFile::encodeName(instance.ControlPath()).toStdString(),
                                              {"status", "--json"}, reply, AnswerSeconds)
                              .Result
            == ExchangeResult::Answered
        && reply.Code == 0;
    if (answered && reply.Out.find("\"window\":true") != std::string::npos)
        return;
    ShowStartError(QString(answered ? "Another console is running without a window." : "Another console is running.")
                   + "\nUse quillonctl to drive it (quillonctl status shows its ports and links), or stop it"
                     " before starting the window.");
}

} // namespace

extern "C" __attribute__((visibility("default"))) int QlnRunWindow(int argc, char* argv[])
{
    // Made first: the start-up's own messages are message boxes too.
    QApplication app(argc, argv);
    // Before anything can say an event; its end, after the window's, says "stopped".
    RunEvents events(ConsoleOptions::Read(argc, argv).Level, "with its window");

    // One console per user. A second start has asked the first to come forward and
    // ends, telling the user only when the first has no window to show. Taken before
    // the title is set: the lock records the executable's name.
    SingleInstance instance;
    try {
        switch (instance.Take()) {
        case SingleInstance::Claim::First:
            break;
        case SingleInstance::Claim::Second:
            TellAboutRunningConsole(instance);
            return 1;
        case SingleInstance::Claim::Failed:
            ShowStartError(MessageBoxSeam::TextOf("CreateMutex() failed!", instance.Problem()));
            return 1;
        }
    } catch (...) {
        ShowStartError("Exception!");
        return 1;
    }

    if (!RunsOnTargetPlatform()) {
        ShowStartError("This application must run on Linux!");
        return 1;
    }

    app.setApplicationName(ConsoleTitle);
    // The window decides when it is shown (not at all with "Minimize when run"), and
    // a stop signal ends the loop so that everything is taken down in order.
    QuitOnSignals stopSignals;
    try {
        TMainForm form;
        if (!form.IsRunning()) {
            // "Initialize failed!" has been shown and closed by now (without a display,
            // written to standard error). Nothing of the console runs (no ports, no tray
            // icon, no window), so the program ends rather than lingering invisibly.
            return 1;
        }
        QObject::connect(&instance, &SingleInstance::RaiseRequested, &form,
                         [&form] { form.TrayIcon1Restore(); });
        form.GetModel()->SetHasWindow(true);
        // SIGHUP reloads the configuration; the window follows by the model's observers.
        QObject::connect(&stopSignals, &QuitOnSignals::ReloadRequested, &form,
                         [&form] { form.GetModel()->Reload(); });
        // quillonctl's commands go through the window's model: its tree follows them.
        ControlServer control(*form.GetModel(), instance.ControlPath());
        if (QString why; !control.Listen(why))
            PrintConsoleMessage("The control socket cannot be opened: " + why.toStdString());
        events.Started();
        if (!stopSignals.Requested())
            app.exec();
        events.StoppedBy(stopSignals.Signal());
        // The pump stops and every port's links go (if the window's close has not
        // done so), the last event is said, and the followers of the event log get it
        // before the control socket closes. The window goes after, before the lock is
        // given up.
        form.GetModel()->StopPorts();
        events.SayStopped();
        control.Finish();
    } catch (const std::exception& error) {
        ShowStartError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowStartError(QString());
    }
    return 0;
}

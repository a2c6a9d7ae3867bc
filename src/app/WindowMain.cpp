// The console with its window, in the module the executable loads when it has a
// display (see WindowModule.h): one console per user, only on the platform it is built
// for, then the main window, whose construction starts everything else.
//
// Exit codes: 0 after a normal run (the window was closed, or the process was asked
// to stop); 1 when start-up ends early (another console runs, the lock cannot be
// made, the wrong platform, "Initialize failed!").
#include <exception>

#include <QApplication>

#include "WindowModule.h"
#include "service/ConsoleStart.h"
#include "service/ControlServer.h"
#include "service/QuitOnSignals.h"
#include "service/SingleInstance.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxSeam.h"

namespace {

// Messages of the start-up: no owner, the console's title, the error icon.
void ShowStartError(const QString& text)
{
    MessageBoxSeam::ShowError(nullptr, text, ConsoleTitle);
}

} // namespace

extern "C" __attribute__((visibility("default"))) int QlnRunWindow(int argc, char* argv[])
{
    // Made first: the start-up's own messages are message boxes too.
    QApplication app(argc, argv);

    // One console per user. A second start has asked the first to come forward and
    // ends without a word. Taken before the title is set: the lock records the
    // executable's name.
    SingleInstance instance;
    try {
        switch (instance.Take()) {
        case SingleInstance::Claim::First:
            break;
        case SingleInstance::Claim::Second:
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
        // quillonctl's commands go through the window's model: its tree follows them.
        ControlServer control(*form.GetModel(), instance.ControlPath());
        if (QString why; !control.Listen(why))
            PrintConsoleMessage("The control socket cannot be opened: " + why.toStdString());
        if (!stopSignals.Requested())
            app.exec();
        // The window goes here: its destruction stops the pump and removes every
        // port's links before the lock is given up.
    } catch (const std::exception& error) {
        ShowStartError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowStartError(QString());
    }
    return 0;
}

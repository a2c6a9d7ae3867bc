#include "service/HeadlessConsole.h"

#include <QCoreApplication>
#include <exception>

#include "console/ConfigLocation.h"
#include "console/ConsoleModel.h"
#include "service/ConsoleOptions.h"
#include "service/ConsoleStart.h"
#include "service/ControlServer.h"
#include "service/QuitOnSignals.h"
#include "service/RunEvents.h"
#include "service/SingleInstance.h"

int RunHeadless(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Before anything can say an event; its end, after the model's, says "stopped".
    RunEvents events(ConsoleOptions::Read(argc, argv).Level, "without a window");

    // Taken before the name is set: the lock records the executable's name.
    SingleInstance instance;
    try {
        switch (instance.Take(false)) {
        case SingleInstance::Claim::First:
            break;
        case SingleInstance::Claim::Second:
            // The window's second start ends without a word; a service's log says why.
            PrintConsoleMessage("Another console is running.\n" + instance.Problem());
            return 1;
        case SingleInstance::Claim::Failed:
            PrintConsoleMessage("CreateMutex() failed!\n" + instance.Problem());
            return 1;
        }
    } catch (...) {
        PrintConsoleMessage("Exception!");
        return 1;
    }
    if (!RunsOnTargetPlatform()) {
        PrintConsoleMessage("This application must run on Linux!");
        return 1;
    }
    app.setApplicationName(ConsoleTitle);

    QuitOnSignals stopSignals;
    try {
        ConsoleModel model(ConsoleModel::InstalledManager(nullptr), ConfigLocation::Path());
        // Listening before the start: a quillonctl that connects meanwhile is
        // answered once the event loop runs.
        ControlServer control(model, instance.ControlPath());
        if (QString why; !control.Listen(why))
            PrintConsoleMessage("The control socket cannot be opened: " + why.toStdString());
        if (const ConsoleResult started = model.Start(); !started) {
            PrintConsoleMessage(started.Message);
            return 1;
        }
        model.LoadSettings();
        // What the reload changed, or why it could not, is in the event log.
        QObject::connect(&stopSignals, &QuitOnSignals::ReloadRequested, &app, [&model] { model.Reload(); });
        events.Started();
        if (!stopSignals.Requested())
            app.exec();
        events.StoppedBy(stopSignals.Signal());
        // The pump stops and every port's links go, the last event is said, and the
        // followers of the event log get it before the control socket closes; the
        // lock is given up last.
        model.StopPorts();
        events.SayStopped();
        control.Finish();
    } catch (const std::exception& error) {
        PrintConsoleMessage(error.what());
        return 1;
    } catch (...) {
        PrintConsoleMessage("Exception!");
        return 1;
    }
    return 0;
}

// The console's entry: one console per user, only on the platform it is built for,
// then the main window, whose construction starts everything else.
//
// Exit codes: 0 after a normal run (the window was closed, or the process was asked
// to stop); 1 when start-up ends early (another console runs, the lock cannot be
// made, the wrong platform, "Initialize failed!").
#include <cstdlib>
#include <exception>
#include <sys/stat.h>

#include <QApplication>

#include "app/QuitOnSignals.h"
#include "app/SingleInstance.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxSeam.h"

namespace {

const char* const Title = "Quillon Console";

// Messages of the start-up: no owner, the console's title, the error icon.
void ShowStartError(const QString& text)
{
    MessageBoxSeam::ShowError(nullptr, text, Title);
}

// The console serves its ports through Unix98 pseudo-terminals; without the
// multiplexer there is nothing it could offer an application.
bool RunsOnTargetPlatform()
{
#ifdef __linux__
    struct stat st {};
    return ::stat("/dev/ptmx", &st) == 0 && S_ISCHR(st.st_mode);
#else
    return false;
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    // Without a display the console still serves its ports, on Qt's offscreen platform.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // Made first: the start-up's own messages are message boxes too.
    QApplication app(argc, argv);

    // One console per user. A second start has asked the first to come forward and
    // ends without a word. Taken before the title is set: the lock records the
    // application name, and a later start tells a live holder from a reused process
    // id by comparing that name with the executable's file name.
    SingleInstance instance;
    try {
        switch (instance.Take()) {
        case SingleInstance::Claim::First:
            break;
        case SingleInstance::Claim::Second:
            return 1;
        case SingleInstance::Claim::Failed:
            ShowStartError("CreateMutex() failed!");
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

    app.setApplicationName(Title);
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

#include <cstdlib>

#include <QApplication>

#include "ui/MainForm.h"

int main(int argc, char* argv[])
{
    // Without a display the console still serves its ports, on Qt's offscreen platform.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    app.setApplicationName("Quillon Console");

    TMainForm form;
    if (!form.IsRunning())
        return 1; // "Initialize failed!" has been shown; nothing else would be visible
    return app.exec();
}

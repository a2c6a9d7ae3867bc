// The window tests run on Qt's offscreen platform unless told otherwise, with a
// private runtime folder so that nothing of the user's session is touched.
#include <cstdlib>

#include <gtest/gtest.h>
#include <QApplication>

#include "console/ConfigLocation.h"
#include "support/TempFolder.h"

namespace {

QtMessageHandler DefaultHandler = nullptr;

// The offscreen platform has no window manager and no tray; what it says about
// that is noise here.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith("This plugin does not support")
        || message.contains("systemTrayWindowChanged"))
        return;
    DefaultHandler(type, context, message);
}

} // namespace

int main(int argc, char* argv[])
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const qlntest::TempFolder runtime; // private to this user, as a runtime folder must be
    setenv("XDG_RUNTIME_DIR", runtime.Root.c_str(), 1);
    setenv("TMPDIR", runtime.Root.c_str(), 1);
    DefaultHandler = qInstallMessageHandler(QuietOffscreen);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Every window here keeps its configuration in the test's private ConfigHome(),
    // never beside the shared test executable, so no test reads what another saved.
    ConfigLocation::PreferConfigHome(true);
    return RUN_ALL_TESTS();
}

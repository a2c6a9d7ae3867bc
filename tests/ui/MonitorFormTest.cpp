// "Monitor..." on a port: the live traffic in a window of its own, paused, cleared,
// shown as text, saved, and ended with the console; the tree after a reload.
#include <QDir>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "platform/config/AtomicFile.h"
#include "ui/MonitorForm.h"
#include "UiTestSupport.h"

using namespace qlnui;

namespace {

class MonitorFormTest : public WindowTest {
protected:
    void SetUp() override { StartOn({3}); }

    // Opens the monitor of the first port from its menu.
    TMonitorForm* OpenMonitor()
    {
        RightClick(PortNode(0));
        EXPECT_TRUE(Form->MonitorMenuItem->isEnabled());
        Form->MonitorMenuItem->trigger();
        const QList<TMonitorForm*> monitors = Form->findChildren<TMonitorForm*>();
        return monitors.isEmpty() ? nullptr : monitors.back();
    }
    bool Shows(TMonitorForm* monitor, const QString& text)
    {
        return ProcessUntil([&] { return monitor->ShownText().contains(text); });
    }
};

TEST_F(MonitorFormTest, ShowsTheTrafficLiveAndCanPauseClearSwitchAndSave)
{
    const UniqueFd peer = qlntest::BindUdp();
    const uint16_t local = qlntest::FreePort(SOCK_DGRAM);
    ASSERT_TRUE(PortOf(PortNode(0))->AddUdp(local, "127.0.0.1", qlntest::LocalPort(peer)).Link);
    qlntest::App app(DeviceLinkFolder() + "/COM3");
    TMonitorForm* monitor = OpenMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isVisible());
    EXPECT_EQ(monitor->windowTitle(), "COM3 Monitor");

    const QString to = QString(" O 6 to COM3 #1 udp %1 127.0.0.1:%2\n").arg(local).arg(qlntest::LocalPort(peer));
    ASSERT_TRUE(app.WriteAll({'A', 'T', 'I', '\r', '\n', 0}));
    EXPECT_TRUE(Shows(monitor, to + "  41 54 49 0D 0A 00                                ATI...\n"))
        << monitor->ShownText().toStdString();
    monitor->TextRadioButton->click();
    EXPECT_TRUE(monitor->ShownText().endsWith(to + "  ATI\\r\\n\n  \\x00\n")) << monitor->ShownText().toStdString();

    // Paused, nothing new shows; resumed, what passed meanwhile does.
    monitor->PauseButton->click();
    EXPECT_EQ(monitor->PauseButton->text(), "&Resume");
    ASSERT_TRUE(app.WriteAll({'x'}));
    ASSERT_EQ(qlntest::RecvExactly(peer, 7).size(), 7u);
    ProcessUntil([] { return false; }, 0.2);
    EXPECT_FALSE(monitor->ShownText().contains(" O 1 to "));
    monitor->PauseButton->click();
    EXPECT_EQ(monitor->PauseButton->text(), "&Pause");
    EXPECT_TRUE(Shows(monitor, " O 1 to ")) << monitor->ShownText().toStdString();

    const std::string path = Home.Root + "/shown.txt";
    QString why;
    ASSERT_TRUE(monitor->SaveTo(QString::fromStdString(path), why)) << why.toStdString();
    EXPECT_EQ(QString::fromStdString(qlntest::FileText(path)), monitor->ShownText());
    EXPECT_FALSE(monitor->SaveTo(QString::fromStdString(path + "/x"), why));
    EXPECT_TRUE(why.startsWith(QString::fromStdString(path + "/x: "))) << why.toStdString();
    EXPECT_EQ(monitor->SaveDialog->directory().absolutePath(), QDir::homePath());
    monitor->ClearButton->click();
    EXPECT_TRUE(monitor->ShownText().isEmpty());
    EXPECT_TRUE(monitor->StatusLabel->text().startsWith("0 records, 0 bytes")) << monitor->StatusLabel->text().toStdString();

    // The console stops: the monitor says so and keeps what it shows.
    ASSERT_TRUE(app.WriteAll({'y'}));
    Form->GetModel()->StopPorts();
    EXPECT_TRUE(Shows(monitor, "-- The console stopped.\n")) << monitor->ShownText().toStdString();
    EXPECT_TRUE(monitor->StatusLabel->text().endsWith(", ended")) << monitor->StatusLabel->text().toStdString();
    monitor->close();
    EXPECT_TRUE(ProcessUntil([&] { return Form->findChildren<TMonitorForm*>().isEmpty(); }));
}

// The log's Time box is applied with its Set and shown as applied.
TEST_F(MonitorFormTest, TheTimeBoxPutsTimestampsInTheLog)
{
    CPortObject* port = PortOf(PortNode(0));
    Form->LogFilenameEdit->setText(QString::fromStdString(Home.Root + "/com3.log"));
    Form->LogTimestampsCheckBox->click();
    EXPECT_TRUE(Form->LogTimestampsCheckBox->font().italic());
    Form->SetLogFileButton->click();
    EXPECT_TRUE(port->GetLogTimestamps());
    EXPECT_FALSE(Form->LogTimestampsCheckBox->font().italic());
    EXPECT_NE(qlntest::FileText(Form->GetModel()->ConfigPath()).find("LogMode=0\nLogTimestamps=1\n"), std::string::npos);
    EXPECT_TRUE(Boxes.Calls.empty());
}

// A reload shows at once: links in the file's order, the console's option.
TEST_F(MonitorFormTest, TheTreeFollowsAReload)
{
    const std::string first = std::to_string(qlntest::FreePort()), second = std::to_string(qlntest::FreePort());
    auto ini = [](const std::string& a, const std::string& b, int minimize) {
        return "[General]\nMinimizeWhenRun=" + std::to_string(minimize) + "\n[COM3]\nNetCount=2\nNet1Type=2\nNet1LocalPort="
            + a + "\nNet2Type=2\nNet2LocalPort=" + b + "\n";
    };
    const std::string path = Form->GetModel()->ConfigPath();
    ASSERT_TRUE(MakeFolders(path.substr(0, path.rfind('/'))));
    ASSERT_EQ(ReplaceFileAtomically(path, ini(first, second, 0)).Text(), "");
    ASSERT_TRUE(Form->GetModel()->Reload());
    ASSERT_EQ(PortNode(0)->childCount(), 2);
    CNetObject* a = LinkOf(PortNode(0)->child(0));
    EXPECT_TRUE(PortNode(0)->child(0)->text(0).endsWith(QString::fromStdString(first)));

    ASSERT_EQ(ReplaceFileAtomically(path, ini(second, first, 1)).Text(), "");
    ASSERT_TRUE(Form->GetModel()->Reload());
    ASSERT_EQ(PortNode(0)->childCount(), 2);
    EXPECT_EQ(LinkOf(PortNode(0)->child(1)), a);
    EXPECT_TRUE(PortNode(0)->child(0)->text(0).endsWith(QString::fromStdString(second)));
    EXPECT_TRUE(Form->MinimizeWhenRunCheckBox->isChecked());
    EXPECT_NE(qlntest::FileText(path).find("MinimizeWhenRun=1\n"), std::string::npos);
}

} // namespace

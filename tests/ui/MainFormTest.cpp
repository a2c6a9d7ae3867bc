// The main window on live ports: the context menu, the options panels, the
// refresh timer, removing links and the close.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "forwarding/PortObject.h"
#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "support/ParamName.h"
#include "support/ProcessStats.h"
#include "UiTestSupport.h"

using namespace qlnui;
using qlntest::App;

namespace {

const std::vector<bool> OnlyAddPort{true, false, false, false, false, false};
const std::vector<bool> PortMenu{true, true, true, false, false, true};
const std::vector<bool> LinkMenu{true, false, false, true, false, false};
const std::vector<bool> UnconnectedClientMenu{true, false, false, true, true, false};

class MainFormTest : public WindowTest {
protected:
    void SetUp() override { StartOn({3, 5}); }

    // A TCP client link on `portNode` that stays Unconnected: nobody listens and it
    // does not retry by itself.
    QTreeWidgetItem* AddRefusedClient(QTreeWidgetItem* portNode)
    {
        CNetObject* link = PortOf(portNode)->AddTcpClient("127.0.0.1", qlntest::FreePort()).Link;
        {
            CGuard guard(Lock());
            link->SetAutoReconnect(false);
        }
        EXPECT_TRUE(qlntest::WaitUntil([&] { return StateOf(link) == LinkState::Unconnected; }));
        return Form->AddTcpClientNode(portNode, link, "127.0.0.1");
    }

    // A TCP client link connected to `listener`; the accepted end goes to `peer`.
    QTreeWidgetItem* AddConnectedClient(QTreeWidgetItem* portNode, const UniqueFd& listener, UniqueFd& peer)
    {
        CNetObject* link = PortOf(portNode)->AddTcpClient("127.0.0.1", qlntest::LocalPort(listener)).Link;
        {
            CGuard guard(Lock());
            link->SetAutoReconnect(false);
        }
        QTreeWidgetItem* node = Form->AddTcpClientNode(portNode, link, "127.0.0.1");
        peer = qlntest::AcceptWithin(listener);
        EXPECT_TRUE(peer);
        EXPECT_TRUE(qlntest::WaitUntil([&] { return StateOf(link) == LinkState::Connected; }));
        return node;
    }

    // Waits for the next tick of the window's timer and returns the node's text as
    // the window's own handler left it.
    QString TextAfterNextTick(QTreeWidgetItem* node)
    {
        QString text;
        bool ticked = false;
        auto connection = QObject::connect(Form->Timer1, &QTimer::timeout, [&] {
            if (!ticked)
                text = node->text(0);
            ticked = true;
        });
        EXPECT_TRUE(ProcessUntil([&] { return ticked; }, 5.0));
        QObject::disconnect(connection);
        return text;
    }
};

TEST_F(MainFormTest, StartShowsThePortsAndSelectsTheFirst)
{
    ASSERT_EQ(Tree().topLevelItemCount(), 2);
    EXPECT_EQ(PortNode(0)->text(0), "COM3");
    EXPECT_EQ(PortNode(1)->text(0), "COM5");
    EXPECT_EQ(Form->SelectedNode(), PortNode(0));
    EXPECT_FALSE(Form->PortOptionsGroupBox->isHidden());
    EXPECT_TRUE(Form->NetOptionsGroupBox->isHidden());
    EXPECT_EQ(Form->SendToNetDelayTimeEdit->text(), "0");
    EXPECT_EQ(Form->PortPathLabel->toolTip().toStdString(), DeviceLinkFolder() + "/COM3");
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_EQ(Form->Timer1->interval(), 200);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->OSVersionLabel->text(), "For Linux");
    EXPECT_EQ(Form->size(), QSize(600, 400));
    EXPECT_EQ(Form->MenuNode, nullptr);
    // The panel's captions fit their places in the font the window gets here.
    for (QWidget* box : {static_cast<QWidget*>(Form->LogModeCheckBox), static_cast<QWidget*>(Form->LogTimestampsCheckBox)})
        EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
}

// Hidden (in the tray) or minimized, the window's refresh does not run: an idle
// console wakes for nothing; shown again, it runs and redraws at once.
TEST_F(MainFormTest, TheRefreshRunsOnlyWhileTheWindowIsShown)
{
    Form->hide();
    EXPECT_FALSE(Form->Timer1->isActive());
    Form->show();
    EXPECT_TRUE(Form->Timer1->isActive());
    Form->setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(Form->Timer1->isActive());
    Form->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(Form->Timer1->isActive());
}

TEST_F(MainFormTest, ContextMenuEnablesByTheKindOfNode)
{
    QTreeWidgetItem* com3 = PortNode(0);
    QTreeWidgetItem* refused = AddRefusedClient(com3);
    UniqueFd listener = qlntest::Listen();
    UniqueFd peer;
    QTreeWidgetItem* connected = AddConnectedClient(com3, listener, peer);
    QTreeWidgetItem* server =
        Form->AddTcpServerNode(com3, PortOf(com3)->AddTcpServer(qlntest::FreePort()).Link);
    QTreeWidgetItem* udp = Form->AddUdpNode(
        com3, PortOf(com3)->AddUdp(qlntest::FreePort(SOCK_DGRAM), "127.0.0.1", 9).Link, "127.0.0.1");
    ASSERT_TRUE(server && udp);

    const std::vector<std::pair<QTreeWidgetItem*, std::vector<bool>>> table{
        {com3, PortMenu},
        {PortNode(1), PortMenu},
        {refused, UnconnectedClientMenu},
        {connected, LinkMenu},
        {server, LinkMenu},
        {udp, LinkMenu},
    };
    for (const auto& [node, expected] : table) {
        RightClick(node);
        EXPECT_EQ(Form->MenuNode, node) << node->text(0).toStdString();
        EXPECT_EQ(MenuState(), expected) << node->text(0).toStdString();
    }

    // A right click on empty space keeps the selection: the menu is for that node.
    RightClick(nullptr);
    EXPECT_EQ(Form->MenuNode, udp);
    EXPECT_EQ(MenuState(), LinkMenu);

    // With nothing selected only "&Add Port" is on.
    Tree().clearSelection();
    Tree().setCurrentItem(nullptr);
    RightClick(nullptr);
    EXPECT_EQ(Form->MenuNode, nullptr);
    EXPECT_EQ(MenuState(), OnlyAddPort);
    // Disabled commands do nothing.
    Form->RemovePortMenuItem->trigger();
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(MainFormTest, ReconnectActsOnTheMenuNode)
{
    QTreeWidgetItem* com3 = PortNode(0);
    QTreeWidgetItem* refused = AddRefusedClient(com3);
    CNetObject* link = LinkOf(refused);
    RightClick(refused);
    // The selection moves on before the command runs; it still acts on the menu node.
    Tree().setCurrentItem(PortNode(1));

    UniqueFd listener = qlntest::Listen(link->Settings().RemotePort);
    ASSERT_TRUE(listener);
    Form->ReconnectMenuItem->trigger();
    UniqueFd peer = qlntest::AcceptWithin(listener);
    EXPECT_TRUE(peer);
    EXPECT_TRUE(ProcessUntil([&] { return refused->text(0).startsWith("(Connected)"); }));
}

TEST_F(MainFormTest, OptionsGroupFollowsTheSelection)
{
    QTreeWidgetItem* com3 = PortNode(0);
    QTreeWidgetItem* client = AddRefusedClient(com3);
    QTreeWidgetItem* server =
        Form->AddTcpServerNode(com3, PortOf(com3)->AddTcpServer(qlntest::FreePort()).Link);
    {
        CGuard guard(Lock());
        LinkOf(client)->SetReconnectInterval(1234);
    }
    PortOf(PortNode(1))->SetSendToNetDelayTime(-7);
    PortOf(PortNode(1))->SetReceiveFromNetDelayTime(0x10);
    PortOf(PortNode(1))->SetLogMode(1);

    Tree().setCurrentItem(client);
    EXPECT_TRUE(Form->PortOptionsGroupBox->isHidden());
    EXPECT_FALSE(Form->NetOptionsGroupBox->isHidden());
    EXPECT_FALSE(Form->AutoReconnectCheckBox->isChecked());
    EXPECT_EQ(Form->ReconnectIntervalTimeEdit->text(), "1234");
    EXPECT_FALSE(Form->SetReconnectIntervalTimeButton->isHidden());

    Tree().setCurrentItem(server);
    EXPECT_FALSE(Form->NetOptionsGroupBox->isHidden());
    for (QWidget* control : Form->NetOptionsGroupBox->findChildren<QWidget*>())
        EXPECT_EQ(control->isHidden(), control != Form->LinkFiguresLabel); // the figures alone

    Tree().setCurrentItem(PortNode(1));
    EXPECT_FALSE(Form->PortOptionsGroupBox->isHidden());
    EXPECT_TRUE(Form->NetOptionsGroupBox->isHidden());
    EXPECT_EQ(Form->SendToNetDelayTimeEdit->text(), "-7");
    EXPECT_EQ(Form->ReceiveFromNetDelayTimeEdit->text(), "16");
    EXPECT_TRUE(Form->LogModeCheckBox->isChecked());
    EXPECT_EQ(Form->PortPathLabel->toolTip().toStdString(), DeviceLinkFolder() + "/COM5");

    // Port nodes stay open.
    Tree().collapseItem(com3);
    EXPECT_TRUE(com3->isExpanded());
}

struct SetCase {
    const char* Text;
    bool Accepted;
    int32_t Value; // when accepted
};

void PrintTo(const SetCase& c, std::ostream* out)
{
    *out << "'" << c.Text << "'";
}

class SetButtonTest : public MainFormTest, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetButtonTest, SetParsesAppliesOrRefuses)
{
    const SetCase& c = GetParam();
    CPortObject* port = PortOf(PortNode(0));
    port->SetSendToNetDelayTime(7);
    port->SetReceiveFromNetDelayTime(8);
    QTreeWidgetItem* client = AddRefusedClient(PortNode(0));
    {
        CGuard guard(Lock());
        LinkOf(client)->SetReconnectInterval(9);
    }

    struct Row {
        QLineEdit* Edit;
        QPushButton* Button;
        QString Message;
        std::function<int32_t()> Read;
        QTreeWidgetItem* Node;
        int32_t Before;
    };
    const Row rows[] = {
        {Form->SendToNetDelayTimeEdit, Form->SetSendToNetDelayTimeButton,
         "Set send to net delay time failed!", [&] { return port->GetSendToNetDelayTime(); },
         PortNode(0), 7},
        {Form->ReceiveFromNetDelayTimeEdit, Form->SetReceiveFromNetDelayTimeButton,
         "Set receive from net delay time failed!",
         [&] { return port->GetReceiveFromNetDelayTime(); }, PortNode(0), 8},
        {Form->ReconnectIntervalTimeEdit, Form->SetReconnectIntervalTimeButton,
         "Set reconnect interval time failed!",
         [&] {
             CGuard guard(Lock());
             return LinkOf(client)->Settings().ReconnectIntervalTime;
         },
         client, 9},
    };
    for (const Row& row : rows) {
        Tree().setCurrentItem(row.Node);
        Boxes.Calls.clear();
        row.Edit->setText(c.Text);
        row.Button->click();
        if (c.Accepted) {
            EXPECT_TRUE(Boxes.Calls.empty());
            EXPECT_EQ(row.Read(), c.Value);
            EXPECT_EQ(row.Edit->text(), c.Text);
        } else {
            ASSERT_EQ(Boxes.Calls.size(), 1u);
            ExpectError(Boxes.Calls[0], row.Message, "Quillon Console");
            EXPECT_EQ(row.Read(), row.Before);
            EXPECT_EQ(row.Edit->text(), "0");
            EXPECT_EQ(Form->focusWidget(), row.Edit);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, SetButtonTest,
                         ::testing::Values(SetCase{"12ms", false, 0}, SetCase{"", false, 0},
                                           SetCase{"99999999999", false, 0},
                                           SetCase{"-5", true, -5}, SetCase{"0", true, 0},
                                           SetCase{" $20", true, 32}),
                         [](const auto& info) { return qlntest::ValueName(info.param.Text); });

TEST_F(MainFormTest, AutoReconnectFollowsTheBox)
{
    QTreeWidgetItem* client = AddRefusedClient(PortNode(0));
    Tree().setCurrentItem(client);
    EXPECT_FALSE(Form->AutoReconnectCheckBox->isChecked());
    Form->AutoReconnectCheckBox->click();
    {
        CGuard guard(Lock());
        EXPECT_TRUE(LinkOf(client)->Settings().AutoReconnect);
    }
    Form->AutoReconnectCheckBox->click();
    CGuard guard(Lock());
    EXPECT_FALSE(LinkOf(client)->Settings().AutoReconnect);
}

TEST_F(MainFormTest, LogSetAppliesNameAndModeAndAnEmptyNameTurnsTheLogOff)
{
    CPortObject* port = PortOf(PortNode(0));
    const std::string log = Home.Root + "/com3.log";
    Form->LogFilenameEdit->setText(QString::fromStdString(log));
    Form->LogModeCheckBox->setChecked(true);
    Form->SetLogFileButton->click();
    EXPECT_EQ(port->GetLogFilename(), log);
    EXPECT_EQ(port->GetLogMode(), 1);

    Form->LogFilenameEdit->setText("");
    Form->LogModeCheckBox->setChecked(false);
    Form->SetLogFileButton->click();
    EXPECT_EQ(port->GetLogFilename(), "");
    EXPECT_EQ(port->GetLogMode(), 0);
    EXPECT_TRUE(Boxes.Calls.empty());

    // Selecting the port again shows what it holds, the caret after the name.
    port->SetLogFile(log.c_str());
    Tree().setCurrentItem(PortNode(1));
    Tree().setCurrentItem(PortNode(0));
    EXPECT_EQ(Form->LogFilenameEdit->text().toStdString(), log);
    EXPECT_EQ(Form->LogFilenameEdit->cursorPosition(), static_cast<int>(log.size()));
}

TEST_F(MainFormTest, RemoveNetAsksFirst)
{
    QTreeWidgetItem* com3 = PortNode(0);
    QTreeWidgetItem* server =
        Form->AddTcpServerNode(com3, PortOf(com3)->AddTcpServer(qlntest::FreePort()).Link);
    QTreeWidgetItem* client = AddRefusedClient(com3);

    RightClick(server);
    Boxes.Answer(QMessageBox::No);
    Form->RemoveNetMenuItem->trigger();
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Text, "Remove the net?");
    EXPECT_EQ(Boxes.Calls[0].Caption, "Quillon Console");
    EXPECT_EQ(Boxes.Calls[0].Buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(Boxes.Calls[0].Icon, QMessageBox::Question);
    EXPECT_EQ(Boxes.Calls[0].DefaultButton, QMessageBox::No);
    EXPECT_EQ(com3->childCount(), 2);

    Boxes.Answer(QMessageBox::Yes);
    Form->RemoveNetMenuItem->trigger();
    ASSERT_EQ(com3->childCount(), 1);
    EXPECT_EQ(com3->child(0), client);
    EXPECT_EQ(Form->MenuNode, nullptr);
    CGuard guard(Lock());
    ASSERT_EQ(PortOf(com3)->GetNetLinks().size(), 1u);
    EXPECT_EQ(PortOf(com3)->GetNetLinks().front().get(), LinkOf(client));
}

TEST_F(MainFormTest, RemovePortAnsweredNoDoesNothingAndAnOpenPortIsRefused)
{
    RightClick(PortNode(0));
    Boxes.Answer(QMessageBox::No);
    Form->RemovePortMenuItem->trigger();
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Text, "Remove the port?");
    EXPECT_EQ(Boxes.Calls[0].Icon, QMessageBox::Question);
    EXPECT_EQ(Boxes.Calls[0].DefaultButton, QMessageBox::No);
    EXPECT_EQ(Tree().topLevelItemCount(), 2);

    App app(PortDriver::Instance().LinkPath(3));
    ASSERT_TRUE(app.Ok());
    ASSERT_TRUE(qlntest::WaitUntil([&] { return IsOpenedByApplication(PortOf(PortNode(0))); }));
    Boxes.Calls.clear();
    Boxes.Answer(QMessageBox::Yes);
    Form->RemovePortMenuItem->trigger();
    ASSERT_EQ(Boxes.Calls.size(), 2u);
    ExpectError(Boxes.Calls[1], "Before removing the port, please close it first!", "Quillon Console");
    EXPECT_EQ(Tree().topLevelItemCount(), 2);
}

TEST_F(MainFormTest, TimerRedrawsAClientWhosePeerClosed)
{
    UniqueFd listener = qlntest::Listen();
    UniqueFd peer;
    QTreeWidgetItem* node = AddConnectedClient(PortNode(0), listener, peer);
    const QString remote = QString(" TCP Client / Remote Addr:Port 127.0.0.1:%1")
                               .arg(qlntest::LocalPort(listener));
    EXPECT_EQ(TextAfterNextTick(node), "(Connected)" + remote);

    peer.Reset();
    CNetObject* link = LinkOf(node);
    ASSERT_TRUE(qlntest::WaitUntil([&] { return StateOf(link) == LinkState::Unconnected; }));
    EXPECT_EQ(TextAfterNextTick(node), "(Unconnected)" + remote);
}

TEST_F(MainFormTest, TimerFollowsAServersClientCount)
{
    const uint16_t port = qlntest::FreePort();
    QTreeWidgetItem* node = Form->AddTcpServerNode(PortNode(0), PortOf(PortNode(0))->AddTcpServer(port).Link);
    const QString tail = QString(") TCP Server / Listen Port %1").arg(port);
    EXPECT_EQ(node->text(0), "(0" + tail);
    CNetObject* link = LinkOf(node);
    auto clients = [&] {
        CGuard guard(Lock());
        return link->ClientCount();
    };

    UniqueFd a = qlntest::ConnectTo(port);
    UniqueFd b = qlntest::ConnectTo(port);
    ASSERT_TRUE(qlntest::WaitUntil([&] { return clients() == 2; }));
    EXPECT_EQ(TextAfterNextTick(node), "(2" + tail);
    a.Reset();
    ASSERT_TRUE(qlntest::WaitUntil([&] { return clients() == 1; }));
    EXPECT_EQ(TextAfterNextTick(node), "(1" + tail);
}

// Another caller of the console model (a command from elsewhere) changes what the
// window shows at once: the tree, and the options of the selected port, where an edit
// the user has not applied keeps its text.
TEST_F(MainFormTest, ChangesMadeThroughTheModelShowAtOnce)
{
    ConsoleModel& model = *Form->GetModel();
    CPortObject* com3 = PortOf(PortNode(0));
    QTreeWidgetItem* com5 = PortNode(1);
    const uint16_t listen = qlntest::FreePort();
    const ConsoleResult added = model.AddNet(PortOf(com5), LinkFields{NetKind::TcpServer, "", "", std::to_string(listen)});
    ASSERT_TRUE(added);
    ASSERT_EQ(com5->childCount(), 1);
    EXPECT_EQ(LinkOf(com5->child(0)), added.Link);
    EXPECT_EQ(com5->child(0)->text(0), QString("(0) TCP Server / Listen Port %1").arg(listen));

    Form->ReceiveFromNetDelayTimeEdit->setText("12"); // typed, not applied
    ASSERT_TRUE(model.SetSendToNetDelayTime(com3, 40));
    EXPECT_EQ(Form->SendToNetDelayTimeEdit->text(), "40");
    EXPECT_EQ(Form->ReceiveFromNetDelayTimeEdit->text(), "12");

    RightClick(com5->child(0));
    ASSERT_TRUE(model.RemoveNet(PortOf(com5), added.Link));
    EXPECT_EQ(com5->childCount(), 0);
    EXPECT_EQ(Form->MenuNode, nullptr);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(MainFormTest, CloseAsksWhileApplicationsHoldPorts)
{
    App com3(PortDriver::Instance().LinkPath(3));
    App com5(PortDriver::Instance().LinkPath(5));
    ASSERT_TRUE(qlntest::WaitUntil([&] {
        return IsOpenedByApplication(PortOf(PortNode(0))) && IsOpenedByApplication(PortOf(PortNode(1)));
    }));

    Boxes.Answer(QMessageBox::Cancel);
    EXPECT_FALSE(Form->close());
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    const auto& call = Boxes.Calls[0];
    EXPECT_EQ(call.Text, "COM3 is opened!\nCOM5 is opened!\n\n"
                         "Before exiting the console, please close all opened quillons!");
    EXPECT_EQ(call.Caption, "Quillon Console");
    EXPECT_EQ(call.Buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(call.Icon, QMessageBox::Critical);
    EXPECT_EQ(call.DefaultButton, QMessageBox::Cancel);
    EXPECT_TRUE(Form->IsRunning());
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Tree().topLevelItemCount(), 2);

    Boxes.Answer(QMessageBox::Ok);
    EXPECT_TRUE(Form->close());
    EXPECT_FALSE(Form->IsRunning());
    EXPECT_EQ(Form->GetManager(), nullptr);
    EXPECT_FALSE(Form->Timer1->isActive());
    EXPECT_EQ(Tree().topLevelItemCount(), 0);
}

TEST_F(MainFormTest, CloseWithoutOpenPortsAsksNothing)
{
    EXPECT_TRUE(Form->close());
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_FALSE(Form->IsRunning());
}

TEST_F(MainFormTest, TrayRestoreShowsTheWindow)
{
    Form->hide();
    Form->TrayIcon1Restore();
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->TrayIcon1->toolTip(), "Quillon Console");
}

TEST(MainFormStart, AFailedStartShowsInitializeFailedAndNothingElse)
{
    qlntest::TempHome home;
    ScriptedBoxes boxes;
    TMainForm form(
        [](TMainForm& f) {
            return std::make_unique<CQLNManager>(static_cast<WindowHandle>(&f), "");
        },
        [](CQLNManager&) { return Failure::Said("no start"); });
    ASSERT_EQ(boxes.Calls.size(), 1u);
    ExpectError(boxes.Calls[0], "Initialize failed!", "Quillon Console");
    EXPECT_FALSE(form.IsRunning());
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->isActive());
    EXPECT_FALSE(form.TrayIcon1->isVisible());
}

} // namespace

namespace {

// A port the driver cannot serve is marked in the tree and says why in its options;
// the other port is unchanged. Leftovers of an interrupted settings write go at start.
TEST_F(WindowTest, UnservablePortIsMarkedAndStaleTemporaryFilesGo)
{
    const std::string stale = ConfigHome() + "/quillon/.QuillonConsole.ini.qln-tmp."
                              + std::to_string(qlntest::DeadPid()) + ".0";
    ASSERT_TRUE(MakeFolders(DeviceLinkFolder() + "/COM5") && MakeFolders(ConfigHome() + "/quillon"));
    qlntest::WriteFileText(stale, "partial");
    StartOn({3, 5});
    EXPECT_EQ(PortNode(0)->text(0), "COM3");
    EXPECT_EQ(PortNode(1)->text(0), "COM5 (Unavailable)");
    Tree().setCurrentItem(PortNode(1));
    EXPECT_EQ(Form->PortPathLabel->toolTip().toStdString(),
              DeviceLinkFolder() + "/COM5 exists and is not a link: it is a folder");
    EXPECT_NE(access(stale.c_str(), F_OK), 0);
}

} // namespace

// What the window tells and offers beyond the bare options: live figures of real
// traffic, the reason under each refusal, Enter and unapplied edits, editing a link
// in place, the console's own numbers in the add dialog, copying the port's path,
// the log picker and the tray menu.
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>

#include "forwarding/PortObject.h"
#include "forwarding/PortObject.h"
#include "links/NetObject.h"
#include "support/Bytes.h"
#include "support/TlsFiles.h"
#include "UiTestSupport.h"

using namespace qlnui;
using qlntest::App;

namespace {

// Keys as a user types them into the focused widget.
void Type(QWidget* widget, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
    }
}

void Press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(widget, &press);
}

std::string PeerText(const UniqueFd& socket)
{
    return "127.0.0.1:" + std::to_string(qlntest::LocalPort(socket));
}

class WindowAidsTest : public WindowTest {
protected:
    void SetUp() override { StartOn({3, 5}); }

    ConsoleModel& Model() { return *Form->GetModel(); }
    CNetObject* Add(const LinkFields& fields)
    {
        const ConsoleResult added = Model().AddNet(PortOf(PortNode(0)), fields);
        EXPECT_TRUE(added) << added.Message << " " << added.Reason();
        return added.Link;
    }
    // The figures' tooltip of the node once selected, when it holds every piece.
    bool FiguresShow(QTreeWidgetItem* node, const std::vector<std::string>& pieces)
    {
        Tree().setCurrentItem(node);
        QLabel* label = LinkOf(node) ? Form->LinkFiguresLabel : Form->PortTrafficLabel;
        return ProcessUntil([&] {
            for (const std::string& piece : pieces) {
                if (!label->toolTip().contains(QString::fromStdString(piece)))
                    return false;
            }
            return true;
        });
    }
};

// An application on COM3 and a peer on each link; every byte counted exactly.
TEST_F(WindowAidsTest, LiveFiguresFollowRealTraffic)
{
    App app(PortDriver::Instance().LinkPath(3));
    UniqueFd listener = qlntest::Listen();
    Add({NetKind::TcpClient, "127.0.0.1", std::to_string(qlntest::LocalPort(listener)), ""});
    UniqueFd clientPeer = qlntest::AcceptWithin(listener);
    const uint16_t listen = qlntest::FreePort();
    CNetObject* server = Add({NetKind::TcpServer, "", "", std::to_string(listen)});
    UniqueFd first = qlntest::ConnectTo(listen);
    UniqueFd second = qlntest::ConnectTo(listen);
    UniqueFd udpPeer = qlntest::BindUdp();
    const uint16_t udpLocal = qlntest::FreePort(SOCK_DGRAM);
    Add({NetKind::Udp, "127.0.0.1", std::to_string(qlntest::LocalPort(udpPeer)), std::to_string(udpLocal)});
    ASSERT_TRUE(ProcessUntil([&] {
        CGuard guard(Lock());
        return server->ClientCount() == 2 && StateOf(LinkOf(PortNode(0)->child(0))) == LinkState::Connected;
    }));

    ASSERT_TRUE(app.WriteAll(qlntest::Pattern(5)));
    for (const UniqueFd* peer : {&clientPeer, &first, &second, &udpPeer})
        EXPECT_EQ(qlntest::RecvExactly(*peer, 5).size(), 5u);
    ASSERT_TRUE(qlntest::SendAll(clientPeer, qlntest::Pattern(3)));
    ASSERT_TRUE(qlntest::SendAll(first, qlntest::Pattern(4)));
    const sockaddr_in to = qlntest::Loopback(udpLocal);
    const std::vector<uint8_t> datagram = qlntest::Pattern(6);
    ASSERT_EQ(sendto(udpPeer.Get(), datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to),
              6);
    EXPECT_EQ(app.ReadExactly(13).size(), 13u);

    EXPECT_TRUE(FiguresShow(PortNode(0), {"An application holds the port open.", "To the application: 13 bytes",
                                          "From the application: 5 bytes", "Waiting for the application: 0 bytes",
                                          "Waiting for the network: 0 bytes", "Datagrams dropped: 0"}));
    EXPECT_TRUE(Form->PortTrafficLabel->text().startsWith("Open · to app 13 B · from app 5 B"));
    EXPECT_TRUE(FiguresShow(PortNode(0)->child(0), {"Sent: 5 bytes\nReceived: 3 bytes"}));
    // A server's bytes go to each client; its clients are listed by their addresses.
    EXPECT_TRUE(FiguresShow(PortNode(0)->child(1), {"Sent: 10 bytes\nReceived: 4 bytes",
                                                    "Clients: \n" + PeerText(first) + "\n" + PeerText(second)}));
    EXPECT_TRUE(Form->LinkFiguresLabel->text().contains(
        QString::fromStdString("Clients: " + PeerText(first) + ", " + PeerText(second))));
    EXPECT_TRUE(FiguresShow(PortNode(0)->child(2), {"Sent: 5 bytes\nReceived: 6 bytes"}));
    EXPECT_TRUE(Boxes.Calls.empty());
}

// A device server's report on an RFC 2217 client link shows with the link's figures.
TEST_F(WindowAidsTest, TheFarLineShowsWhatTheServerReported)
{
    UniqueFd listener = qlntest::Listen();
    Add({NetKind::TcpClient, "127.0.0.1", std::to_string(qlntest::LocalPort(listener)), "", "", true});
    UniqueFd server = qlntest::AcceptWithin(listener);
    // DO the option, then answers: 9600 baud, 8 data bits, hardware flow control.
    ASSERT_TRUE(qlntest::SendAll(server, {0xFF, 0xFD, 44, 0xFF, 0xFA, 44, 101, 0, 0, 0x25, 0x80, 0xFF, 0xF0,
                                          0xFF, 0xFA, 44, 102, 8, 0xFF, 0xF0, 0xFF, 0xFA, 44, 105, 3, 0xFF, 0xF0}));
    EXPECT_TRUE(FiguresShow(PortNode(0)->child(0), {"RFC 2217, far line: 9600 baud 8??, flow hardware"}))
        << Form->LinkFiguresLabel->toolTip().toStdString();
}

// The console's message first, the reason on the second line.
TEST_F(WindowAidsTest, EachRefusalSaysWhyOnItsSecondLine)
{
    const std::string missing = Home.Root + "/no/such/folder/com3.log";
    App app(PortDriver::Instance().LinkPath(5));
    ASSERT_TRUE(ProcessUntil([&] { return IsOpenedByApplication(PortOf(PortNode(1))); }));
    const struct {
        const char* Name;
        std::function<void()> Act;
        std::string Text;
    } rows[] = {
        {"delay", [&] {
             Form->SendToNetDelayTimeEdit->setText("12ms");
             Form->SetSendToNetDelayTimeButton->click();
         },
         "Set send to net delay time failed!\nEnter a whole number of milliseconds from -2147483648 to 2147483647."},
        {"port", [&] {
             TAddPortForm dialog(Form.get(), TAddPortForm::Mode::AddNet);
             dialog.TCPClientRemotePortEdit->setText("65536");
             dialog.OKButton->click();
         },
         "Remote Port error!\nEnter a port from 1 to 65535."},
        {"remove", [&] {
             RightClick(PortNode(1));
             Boxes.Answer(QMessageBox::Yes);
             Form->RemovePortMenuItem->trigger();
         },
         "Before removing the port, please close it first!\nAn application holds COM5 open."},
        // The name is kept, as always; the user learns that nothing will be logged.
        {"log", [&] {
             Tree().setCurrentItem(PortNode(0));
             Form->LogFilenameEdit->setText(QString::fromStdString(missing));
             Form->SetLogFileButton->click();
         },
         "Open log file failed!\n" + missing
             + " cannot be appended to: No such file or directory. The name is kept; nothing is logged until it can."},
        // A pasted line break: no field's value may break the configuration's lines.
        {"pasted host", [&] {
             TAddPortForm dialog(Form.get(), TAddPortForm::Mode::AddNet);
             dialog.TCPClientRemoteAddrEdit->setText("h\nx");
             dialog.OKButton->click();
             EXPECT_EQ(dialog.focusWidget(), dialog.TCPClientRemoteAddrEdit);
         },
         "Remote Address error!\nThe remote address must be one line, without a line break or a NUL character."},
        {"pasted log name", [&] {
             Form->LogFilenameEdit->setText(QString::fromStdString(Home.Root + "/a.log\nx"));
             Form->SetLogFileButton->click();
         },
         "Set log file failed!\nThe log file's name must be one line, without a line break or a NUL character."},
    };
    for (const auto& row : rows) {
        Boxes.Calls.clear();
        row.Act();
        ASSERT_FALSE(Boxes.Calls.empty()) << row.Name;
        ExpectError(Boxes.Calls.back(), QString::fromStdString(row.Text), Boxes.Calls.back().Caption);
        EXPECT_EQ(Boxes.Calls.back().Text, QString::fromStdString(row.Text)) << row.Name;
    }
    EXPECT_EQ(PortOf(PortNode(0))->GetLogFilename(), missing);
}

TEST_F(WindowAidsTest, EnterAppliesAnEditAndAnUnappliedValueIsItalic)
{
    CPortObject* port = PortOf(PortNode(0));
    const std::string log = Home.Root + "/com3.log";
    const struct {
        QLineEdit* Edit;
        QString Typed;
        std::function<bool()> Applied;
    } rows[] = {
        {Form->SendToNetDelayTimeEdit, "25", [&] { return port->GetSendToNetDelayTime() == 25; }},
        {Form->ReceiveFromNetDelayTimeEdit, "-3", [&] { return port->GetReceiveFromNetDelayTime() == -3; }},
        {Form->LogFilenameEdit, QString::fromStdString(log), [&] { return port->GetLogFilename() == log; }},
    };
    for (const auto& row : rows) {
        row.Edit->clear();
        row.Edit->setFocus();
        Type(row.Edit, row.Typed);
        EXPECT_TRUE(row.Edit->font().italic()) << row.Typed.toStdString();
        EXPECT_FALSE(row.Applied());
        Press(row.Edit, Qt::Key_Return);
        EXPECT_TRUE(row.Applied()) << row.Typed.toStdString();
        EXPECT_FALSE(row.Edit->font().italic());
    }
    EXPECT_TRUE(Boxes.Calls.empty());

    // Typed and left: another selection shows what applies, not in italics.
    Type(Form->SendToNetDelayTimeEdit, "9");
    Tree().setCurrentItem(PortNode(1));
    Tree().setCurrentItem(PortNode(0));
    EXPECT_EQ(Form->SendToNetDelayTimeEdit->text(), "25");
    EXPECT_FALSE(Form->SendToNetDelayTimeEdit->font().italic());

    // The reconnect interval of a TCP client link likewise.
    CNetObject* client = Add({NetKind::TcpClient, "127.0.0.1", std::to_string(qlntest::FreePort()), ""});
    Tree().setCurrentItem(PortNode(0)->child(0));
    Form->ReconnectIntervalTimeEdit->clear();
    Type(Form->ReconnectIntervalTimeEdit, "750");
    Press(Form->ReconnectIntervalTimeEdit, Qt::Key_Enter);
    CGuard guard(Lock());
    EXPECT_EQ(client->Settings().ReconnectIntervalTime, 750);
}

// Edit Net shows a server link's allow list, client limit and TLS again, and OK
// with them unchanged keeps them; the figures show the certificate to pin, a peer
// turned away and when the link began to listen, and Copy takes them whole; the
// tree marks TLS, and a pinned client link names its pin.
TEST_F(WindowAidsTest, EditNetKeepsTheSecuritySettingsAndTheFiguresShowThem)
{
    const qlntest::TlsFiles& files = qlntest::TlsFiles::Get();
    ASSERT_TRUE(files.Made) << files.Why;
    const uint16_t listen = qlntest::FreePort();
    LinkFields fields {NetKind::TcpServer, "", "", std::to_string(listen), "", false, "127.0.0.2", "2"};
    fields.Tls = {true, files.Server.Cert, files.Server.Key, files.Ca.Cert};
    CNetObject* server = Add(fields);
    ASSERT_NE(server, nullptr);
    const UniqueFd outsider = qlntest::ConnectTo(listen);
    EXPECT_TRUE(FiguresShow(PortNode(0)->child(0), {"Allow: 127.0.0.2", "At most 2 clients", files.Server.Pin,
                                                     "Refused 1, last " + PeerText(outsider) + ": not in the allow list"}));
    EXPECT_FALSE(Form->LinkFiguresLabel->toolTip().contains("Last change: never"));
    ASSERT_EQ(Form->LinkFiguresLabel->actions().size(), 1);
    Form->LinkFiguresLabel->actions().front()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Form->LinkFiguresLabel->toolTip());
    EXPECT_TRUE(PortNode(0)->child(0)->text(0).endsWith("  [TLS]")) << PortNode(0)->child(0)->text(0).toStdString();
    LinkFields pinned {NetKind::TcpClient, "127.0.0.1", "9", ""};
    pinned.Tls = {true, "", "", "", files.Server.Pin};
    ASSERT_NE(Add(pinned), nullptr);
    EXPECT_TRUE(FiguresShow(PortNode(0)->child(1), {"TLS pinned " + files.Server.Pin}));
    Tree().setCurrentItem(PortNode(0)->child(0));

    RightClick(PortNode(0)->child(0));
    ModalDriver driver([&](TAddPortForm& dialog) {
        EXPECT_EQ(dialog.Link(), fields);
        dialog.OKButton->click();
    });
    Form->EditNetMenuItem->trigger();
    EXPECT_TRUE(driver.Done);
    CNetObject* edited = LinkOf(PortNode(0)->child(0));
    ASSERT_NE(edited, server);
    CGuard guard(Lock());
    EXPECT_EQ(edited->Settings().Allow, "127.0.0.2");
    EXPECT_EQ(edited->Settings().MaxClients, 2);
    EXPECT_EQ(edited->Settings().Tls, fields.Tls);
}

// The edited link keeps its place in the list and its index in the INI; a link that
// keeps its local port keeps its socket; a refusal leaves the old link.
TEST_F(WindowAidsTest, EditNetReplacesTheLinkInPlace)
{
    const uint16_t listen = qlntest::FreePort();
    const uint16_t udpLocal = qlntest::FreePort(SOCK_DGRAM);
    Add({NetKind::TcpClient, "127.0.0.1", "30000", ""});
    Add({NetKind::TcpServer, "", "", std::to_string(listen), "127.0.0.1", true});
    Add({NetKind::Udp, "127.0.0.1", "31000", std::to_string(udpLocal)});
    CNetObject* server = LinkOf(PortNode(0)->child(1));
    UniqueFd client = qlntest::ConnectTo(listen);
    ASSERT_TRUE(ProcessUntil([&] {
        CGuard guard(Lock());
        return server->ClientCount() == 1;
    }));
    const UniqueFd taken = qlntest::Listen();
    auto edit = [&](int index, std::vector<ModalDriver::Act> acts) {
        RightClick(PortNode(0)->child(index));
        ModalDriver driver(std::move(acts));
        Form->EditNetMenuItem->trigger();
        EXPECT_TRUE(driver.Done);
    };

    // The server, to a port that is taken: refused, the dialog again, then cancelled.
    edit(1, {[&](TAddPortForm& dialog) {
                 EXPECT_EQ(dialog.windowTitle(), "Edit Net");
                 EXPECT_TRUE(dialog.TCPServerRadioButton->isChecked());
                 EXPECT_EQ(dialog.TCPServerListenPortEdit->text().toInt(), listen);
                 EXPECT_EQ(dialog.TCPServerListenAddrEdit->text(), "127.0.0.1");
                 EXPECT_TRUE(dialog.Rfc2217CheckBox->isChecked());
                 dialog.TCPServerListenPortEdit->setText(QString::number(qlntest::LocalPort(taken)));
                 dialog.OKButton->click();
             },
             [](TAddPortForm& dialog) { dialog.CancelButton->click(); }});
    EXPECT_EQ(Boxes.Texts(), std::vector<QString>{"Add net failed!"});
    EXPECT_EQ(LinkOf(PortNode(0)->child(1)), server);

    // Unchanged, the server keeps its listening socket and its client.
    edit(1, {[](TAddPortForm& dialog) { dialog.OKButton->click(); }});
    EXPECT_NE(LinkOf(PortNode(0)->child(1)), server);
    // The tree marks what the link carries beyond raw bytes after its node text.
    EXPECT_EQ(PortNode(0)->child(1)->text(0), QString("(1) TCP Server / Listen Port 127.0.0.1:%1  [RFC 2217]").arg(listen));

    // The UDP link, to another remote port: it keeps its bound socket.
    edit(2, {[](TAddPortForm& dialog) {
             EXPECT_TRUE(dialog.UDPRadioButton->isChecked());
             EXPECT_EQ(dialog.UDPRemotePortEdit->text(), "31000");
             dialog.UDPRemotePortEdit->setText("31001");
             dialog.OKButton->click();
         }});
    // The server, with its client, becomes a UDP link on a new port.
    const uint16_t newLocal = qlntest::FreePort(SOCK_DGRAM);
    edit(1, {[&](TAddPortForm& dialog) {
             dialog.UDPRadioButton->click();
             dialog.UDPLocalPortEdit->setText(QString::number(newLocal));
             dialog.UDPRemotePortEdit->setText("9");
             dialog.OKButton->click();
         }});
    EXPECT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(PortNode(0)->childCount(), 3);
    EXPECT_EQ(PortNode(0)->child(1)->text(0),
              QString("UDP / Local Port %1, Remote Addr:Port 127.0.0.1:9").arg(newLocal));
    EXPECT_EQ(PortNode(0)->child(2)->text(0),
              QString("UDP / Local Port %1, Remote Addr:Port 127.0.0.1:31001").arg(udpLocal));
    // The server's connection went with it.
    EXPECT_TRUE(ProcessUntil([&] {
        char byte;
        return recv(client.Get(), &byte, 1, MSG_DONTWAIT) == 0;
    }));
    const std::string ini = qlntest::FileText(Home.Root + "/config/quillon/QuillonConsole.ini");
    for (const std::string& line :
         {std::string("Net1Type=1\n"), "Net2Type=3\nNet2LocalPort=" + std::to_string(newLocal) + "\n",
          "Net3Type=3\nNet3LocalPort=" + std::to_string(udpLocal) + "\nNet3RemoteAddr=127.0.0.1\nNet3RemotePort=31001\n"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in\n" << ini;

    // The edited UDP link still receives on its port.
    App app(PortDriver::Instance().LinkPath(3));
    UniqueFd peer = qlntest::BindUdp();
    const sockaddr_in to = qlntest::Loopback(udpLocal);
    ASSERT_EQ(sendto(peer.Get(), "ping", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
    EXPECT_EQ(app.ReadExactly(4).size(), 4u);
}

TEST_F(WindowAidsTest, TheConsolesOwnNumbersAreMarkedAndNotForced)
{
    RightClick(nullptr);
    ModalDriver driver([](TAddPortForm& dialog) {
        QComboBox* list = dialog.PortNumberComboBox;
        EXPECT_EQ(list->itemText(2), "COM3 (In Use, this console)");
        EXPECT_EQ(list->itemText(4), "COM5 (In Use, this console)");
        EXPECT_EQ(list->itemText(3), "COM4");
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_FALSE(dialog.Label1->isEnabled()); // as its list, while "Auto Assign" is on
        dialog.AutoAssignCheckBox->click();
        EXPECT_TRUE(dialog.Label1->isEnabled());
        list->setCurrentIndex(2);
        dialog.OKButton->click();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), list);
        dialog.CancelButton->click();
    });
    Form->AddPortMenuItem->trigger();
    EXPECT_TRUE(driver.Done);
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    ExpectError(Boxes.Calls[0],
                "The port number is in use!\nCOM3 is a port of this console; one number cannot serve two ports.",
                "Add Port");
    EXPECT_EQ(Tree().topLevelItemCount(), 2);
}

TEST_F(WindowAidsTest, ThePortsPathIsCopiedAndTheTrayShowsIt)
{
    const QString com3 = QString::fromStdString(PortDriver::Instance().LinkPath(3));
    Tree().setCurrentItem(PortNode(0));
    EXPECT_EQ(Form->PortPathLabel->toolTip(), com3);
    QGuiApplication::clipboard()->clear();
    Form->CopyPathButton->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), com3);
    // Ctrl+C on a port node: its path, not its text.
    QGuiApplication::clipboard()->clear();
    Tree().setCurrentItem(PortNode(1));
    Press(&Tree(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), PortDriver::Instance().LinkPath(5));

    EXPECT_EQ(Form->TrayIcon1->toolTip(), "Quillon Console");
    EXPECT_FALSE(Form->EmptyTreeHint->isVisible());
    Form->DeletePortNode(PortNode(1));
    EXPECT_EQ(Form->TrayIcon1->toolTip(), "Quillon Console\n" + com3);
    Form->DeletePortNode(PortNode(0));
    EXPECT_TRUE(Form->EmptyTreeHint->isVisible());
    EXPECT_EQ(Form->EmptyTreeHint->text(), "Right-click to add a port");
}

TEST_F(WindowAidsTest, TheLogPickerAppendsAndTrayExitAsksFirst)
{
    EXPECT_TRUE(Form->SaveDialog1->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(Form->SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
    // A file chosen with the picker is not applied before "Set": it shows in italics.
    Tree().setCurrentItem(PortNode(0));
    const QString chosen = QString::fromStdString(Home.Root + "/picked.log");
    QTimer::singleShot(0, Form.get(), [&] {
        Form->SaveDialog1->selectFile(chosen);
        static_cast<QDialog*>(Form->SaveDialog1)->accept();
    });
    Form->LogFilenButton->click();
    EXPECT_EQ(Form->LogFilenameEdit->text(), chosen);
    EXPECT_TRUE(Form->LogFilenameEdit->font().italic());
    EXPECT_EQ(PortOf(PortNode(0))->GetLogFilename(), "");
    ASSERT_EQ(Form->TrayIcon1->contextMenu(), Form->TrayMenu);
    EXPECT_EQ(Form->TrayShowItem->text(), "Show");

    App app(PortDriver::Instance().LinkPath(3));
    ASSERT_TRUE(ProcessUntil([&] { return IsOpenedByApplication(PortOf(PortNode(0))); }));
    Form->hide(); // in the tray
    Boxes.Answer(QMessageBox::Cancel);
    Form->TrayExitItem->trigger();
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_TRUE(Boxes.Calls[0].Text.endsWith("Before exiting the console, please close all opened quillons!"));
    EXPECT_TRUE(Form->IsRunning());
    Boxes.Answer(QMessageBox::Ok);
    Form->TrayExitItem->trigger();
    EXPECT_EQ(Boxes.Calls.size(), 2u);
    EXPECT_FALSE(Form->IsRunning());
}

} // namespace

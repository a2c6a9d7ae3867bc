// "&Add Port", "&Remove Port" and "A&dd Net" end to end: the menu, the modal dialog
// driven as a user would, the device store and live sockets.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "links/NetObject.h"
#include "platform/devices/DeviceStore.h"
#include "forwarding/PortObject.h"
#include "forwarding/PortObject.h"
#include "UiTestSupport.h"

using namespace qlnui;
using qlntest::App;

namespace {

class AddFlowTest : public WindowTest {
protected:
    // "&Add Port" from a right click on empty space; `act` works the dialog.
    bool AddPortThroughMenu(std::function<void(TAddPortForm&)> act)
    {
        RightClick(nullptr);
        ModalDriver driver(std::move(act));
        Form->AddPortMenuItem->trigger();
        return driver.Done;
    }

    // "A&dd Net" on `portNode`; `act` works the dialog.
    bool AddNetThroughMenu(QTreeWidgetItem* portNode, std::function<void(TAddPortForm&)> act)
    {
        RightClick(portNode);
        ModalDriver driver(std::move(act));
        Form->AddNetMenuItem->trigger();
        return driver.Done;
    }

    std::vector<QString> PortTexts()
    {
        std::vector<QString> texts;
        for (int i = 0; i < Tree().topLevelItemCount(); ++i)
            texts.push_back(PortNode(i)->text(0));
        return texts;
    }
};

TEST_F(AddFlowTest, AutoAssignAddsTheLowestFreeNumberWithoutChangingTheSelection)
{
    StartOn({3, 5});
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Add Port");
        dialog.OKButton->click();
    }));
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(PortTexts(), (std::vector<QString>{"COM3", "COM5", "COM1"}));
    EXPECT_EQ(Form->SelectedNode(), PortNode(0));
    EXPECT_TRUE(PortDriver::Instance().IsAttached(1));
}

TEST_F(AddFlowTest, AChosenFreeNumberIsAddedAndTheFirstPortIsSelected)
{
    StartOn({});
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) {
        dialog.AutoAssignCheckBox->click();
        dialog.PortNumberComboBox->setCurrentIndex(6);
        dialog.OKButton->click();
    }));
    EXPECT_TRUE(Boxes.Calls.empty());
    ASSERT_EQ(PortTexts(), (std::vector<QString>{"COM7"}));
    // The first port of an empty tree is selected at once and shows its options.
    EXPECT_EQ(Form->SelectedNode(), PortNode(0));
    EXPECT_FALSE(Form->PortOptionsGroupBox->isHidden());
    EXPECT_EQ(Form->PortPathLabel->toolTip().toStdString(), DeviceLinkFolder() + "/COM7");
}

TEST_F(AddFlowTest, ANumberInUseIsAddedOnlyWhenForced)
{
    StartOn({});
    {
        DeviceStore store(StateFolder());
        ASSERT_TRUE(store.OpenComDatabase()->ClaimPort(4, false));
    }
    // No: the dialog stays open with the list focused; the user then cancels.
    Boxes.Answer(QMessageBox::No);
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) {
        dialog.AutoAssignCheckBox->click();
        dialog.PortNumberComboBox->setCurrentIndex(3);
        EXPECT_EQ(dialog.PortNumberComboBox->currentText(), "COM4 (In Use)");
        dialog.OKButton->click();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), dialog.PortNumberComboBox);
        dialog.CancelButton->click();
    }));
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Caption, "Add Port");
    EXPECT_EQ(Tree().topLevelItemCount(), 0);

    Boxes.Calls.clear();
    Boxes.Answer(QMessageBox::Yes);
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) {
        dialog.AutoAssignCheckBox->click();
        dialog.PortNumberComboBox->setCurrentIndex(3);
        dialog.OKButton->click();
    }));
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Text, "The port number is in use! Do you want to force to assign it?");
    EXPECT_EQ(PortTexts(), (std::vector<QString>{"COM4"}));
}

TEST_F(AddFlowTest, OpenPortsRefuseAddPortWithoutADialog)
{
    StartOn({3, 5, 7});
    App com3(PortDriver::Instance().LinkPath(3));
    App com7(PortDriver::Instance().LinkPath(7));
    ASSERT_TRUE(qlntest::WaitUntil([&] {
        return IsOpenedByApplication(PortOf(PortNode(0))) && IsOpenedByApplication(PortOf(PortNode(2)));
    }));
    EXPECT_FALSE(AddPortThroughMenu([](TAddPortForm& dialog) { dialog.reject(); }));
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    ExpectError(Boxes.Calls[0],
                "COM3 is opened!\nCOM7 is opened!\n\n"
                "Before adding any port, please close all opened quillons!",
                "Quillon Console");
    EXPECT_EQ(Tree().topLevelItemCount(), 3);
}

TEST_F(AddFlowTest, AFailedInstallShowsAddPortFailed)
{
    StartOn({}, Home.Root + "/missing.inf");
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) { dialog.OKButton->click(); }));
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    ExpectError(Boxes.Calls[0], "Add port failed!", "Quillon Console");
    EXPECT_EQ(Tree().topLevelItemCount(), 0);
}

TEST_F(AddFlowTest, RemovingPortsAndTheLastOneHidesTheOptions)
{
    StartOn({3});
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) { dialog.OKButton->click(); }));
    ASSERT_EQ(PortTexts(), (std::vector<QString>{"COM3", "COM1"}));

    // COM3 has no device behind it: the removal fails and the node stays.
    RightClick(PortNode(0));
    Boxes.Answer(QMessageBox::Yes);
    Form->RemovePortMenuItem->trigger();
    ASSERT_EQ(Boxes.Calls.size(), 2u);
    ExpectError(Boxes.Calls[1], "Remove port failed!", "Quillon Console");
    EXPECT_EQ(Tree().topLevelItemCount(), 2);

    // COM1 was installed: it goes, with its node.
    Boxes.Calls.clear();
    RightClick(PortNode(1));
    Boxes.Answer(QMessageBox::Yes);
    Form->RemovePortMenuItem->trigger();
    EXPECT_EQ(Boxes.Texts(), std::vector<QString>{"Remove the port?"});
    EXPECT_EQ(PortTexts(), (std::vector<QString>{"COM3"}));
    EXPECT_EQ(Form->MenuNode, nullptr);
    EXPECT_FALSE(PortDriver::Instance().IsAttached(1));
}

TEST_F(AddFlowTest, RemovingTheLastPortHidesBothOptionsGroups)
{
    StartOn({});
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) { dialog.OKButton->click(); }));
    ASSERT_EQ(Tree().topLevelItemCount(), 1);
    CPortObject* port = PortOf(PortNode(0));
    Form->AddTcpServerNode(PortNode(0), port->AddTcpServer(qlntest::FreePort()).Link);
    Tree().setCurrentItem(PortNode(0)->child(0));
    EXPECT_FALSE(Form->NetOptionsGroupBox->isHidden());

    RightClick(PortNode(0));
    Boxes.Answer(QMessageBox::Yes);
    Form->RemovePortMenuItem->trigger();
    EXPECT_EQ(Tree().topLevelItemCount(), 0);
    EXPECT_TRUE(Form->PortOptionsGroupBox->isHidden());
    EXPECT_TRUE(Form->NetOptionsGroupBox->isHidden());
    EXPECT_EQ(Boxes.Calls.size(), 1u);
}

TEST_F(AddFlowTest, AddNetOfEachKind)
{
    StartOn({3, 5});
    QTreeWidgetItem* com5 = PortNode(1);
    const UniqueFd listener = qlntest::Listen();
    const uint16_t serverPort = qlntest::FreePort();
    const uint16_t udpPort = qlntest::FreePort(SOCK_DGRAM);

    // A TCP client, first with a bad remote port, mended in the open dialog.
    ASSERT_TRUE(AddNetThroughMenu(com5, [&](TAddPortForm& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Add Net");
        EXPECT_EQ(dialog.PortNumberComboBox->currentIndex(), 4);
        EXPECT_EQ(dialog.PortNumberComboBox->currentText(), "COM5");
        dialog.TCPClientRemotePortEdit->setText("0");
        dialog.OKButton->click();
        EXPECT_TRUE(dialog.isVisible());
        dialog.TCPClientRemotePortEdit->setText(QString::number(qlntest::LocalPort(listener)));
        dialog.OKButton->click();
    }));
    EXPECT_EQ(Boxes.Texts(), std::vector<QString>{"Remote Port error!"});
    ASSERT_EQ(com5->childCount(), 1);
    const UniqueFd peer = qlntest::AcceptWithin(listener);
    EXPECT_TRUE(peer);
    EXPECT_TRUE(ProcessUntil([&] {
        return com5->child(0)->text(0)
            == QString("(Connected) TCP Client / Remote Addr:Port 127.0.0.1:%1")
                   .arg(qlntest::LocalPort(listener));
    }));

    ASSERT_TRUE(AddNetThroughMenu(com5, [&](TAddPortForm& dialog) {
        dialog.TCPServerRadioButton->click();
        dialog.TCPServerListenPortEdit->setText(QString::number(serverPort));
        dialog.OKButton->click();
    }));
    ASSERT_TRUE(AddNetThroughMenu(com5, [&](TAddPortForm& dialog) {
        dialog.UDPRadioButton->click();
        dialog.UDPLocalPortEdit->setText(QString("0x%1").arg(udpPort, 0, 16));
        dialog.UDPRemoteAddrEdit->setText("localhost");
        dialog.UDPRemotePortEdit->setText("31000");
        dialog.OKButton->click();
    }));
    EXPECT_EQ(Boxes.Calls.size(), 1u);
    ASSERT_EQ(com5->childCount(), 3);
    EXPECT_EQ(com5->child(1)->text(0), QString("(0) TCP Server / Listen Port %1").arg(serverPort));
    EXPECT_EQ(com5->child(2)->text(0),
              QString("UDP / Local Port %1, Remote Addr:Port localhost:31000").arg(udpPort));
    EXPECT_TRUE(com5->isExpanded());
    EXPECT_EQ(PortNode(0)->childCount(), 0);
    {
        CGuard guard(Lock());
        auto& links = PortOf(com5)->GetNetLinks();
        ASSERT_EQ(links.size(), 3u);
        EXPECT_EQ(links.back()->Type, NetKind::Udp);
        EXPECT_EQ(links.back()->Settings().RemoteAddr, "localhost");
    }
}

TEST_F(AddFlowTest, MenuCommandsActOnTheMenuNode)
{
    StartOn({3, 5});
    RightClick(PortNode(1));
    Tree().setCurrentItem(PortNode(0));
    ModalDriver driver([&](TAddPortForm& dialog) {
        EXPECT_EQ(dialog.PortNumberComboBox->currentText(), "COM5");
        dialog.TCPServerRadioButton->click();
        dialog.TCPServerListenPortEdit->setText(QString::number(qlntest::FreePort()));
        dialog.OKButton->click();
    });
    Form->AddNetMenuItem->trigger();
    EXPECT_TRUE(driver.Done);
    EXPECT_EQ(PortNode(0)->childCount(), 0);
    EXPECT_EQ(PortNode(1)->childCount(), 1);
}

// The refusal says why, and the dialog opens again with what the user typed.
TEST_F(AddFlowTest, ARefusedLinkSaysWhyAndTheDialogOpensAgainWithTheTypedValues)
{
    StartOn({3});
    const UniqueFd taken = qlntest::Listen();
    const QString port = QString::number(qlntest::LocalPort(taken));
    RightClick(PortNode(0));
    ModalDriver driver({[&](TAddPortForm& dialog) {
                            dialog.TCPServerRadioButton->click();
                            dialog.TCPServerListenPortEdit->setText(port);
                            dialog.OKButton->click();
                        },
                        [&](TAddPortForm& dialog) {
                            EXPECT_EQ(dialog.windowTitle(), "Add Net");
                            EXPECT_TRUE(dialog.TCPServerRadioButton->isChecked());
                            EXPECT_TRUE(dialog.TCPServerListenPortEdit->isEnabled());
                            EXPECT_EQ(dialog.TCPServerListenPortEdit->text(), port);
                            dialog.CancelButton->click();
                        }});
    Form->AddNetMenuItem->trigger();
    EXPECT_TRUE(driver.Done);
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    ExpectError(Boxes.Calls[0], "Add net failed!\nPort " + port + " is already in use.", "Quillon Console");
    EXPECT_EQ(PortNode(0)->childCount(), 0);
    CGuard guard(Lock());
    EXPECT_TRUE(PortOf(PortNode(0))->GetNetLinks().empty());
}

TEST_F(AddFlowTest, CancelAddsNothing)
{
    StartOn({3});
    ASSERT_TRUE(AddNetThroughMenu(PortNode(0), [](TAddPortForm& dialog) { dialog.CancelButton->click(); }));
    ASSERT_TRUE(AddPortThroughMenu([](TAddPortForm& dialog) { dialog.CancelButton->click(); }));
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(Tree().topLevelItemCount(), 1);
    EXPECT_EQ(PortNode(0)->childCount(), 0);
}

} // namespace

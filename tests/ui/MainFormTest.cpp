// The main window on live ports: the context menu, adding and removing links, the
// options panels, the refresh timer and the close.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "net/NetObject.h"
#include "ports/PortObject.h"
#include "UiTestSupport.h"

using namespace qlnui;
using qlntest::App;

namespace {

class MainFormTest : public WindowTest {
protected:
    void SetUp() override { StartOn({3, 5}); }

    // A TCP client link on `portNode` that stays Unconnected: nobody listens and it
    // does not retry by itself.
    QTreeWidgetItem* AddRefusedClient(QTreeWidgetItem* portNode, uint16_t port)
    {
        CNetObject* link = PortOf(portNode)->AddTcpClient("127.0.0.1", port);
        {
            CGuard guard(Lock());
            link->AutoReconnect = false;
        }
        EXPECT_TRUE(qlntest::WaitUntil([&] { return StateOf(link) == Unconnected; }));
        return Form->AddTcpClientNode(portNode, link, "127.0.0.1");
    }

    // Waits for the first timer tick after now and returns the node's text right
    // after the window's own handler ran.
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

const std::vector<bool> OnlyAddPort{true, false, false, false, false};
const std::vector<bool> PortMenu{true, true, true, false, false};
const std::vector<bool> LinkMenu{true, false, false, true, false};
const std::vector<bool> UnconnectedClientMenu{true, false, false, true, true};

TEST_F(MainFormTest, StartShowsThePortsAndSelectsTheFirst)
{
    ASSERT_EQ(Tree().topLevelItemCount(), 2);
    EXPECT_EQ(PortNode(0)->text(0), "COM3");
    EXPECT_EQ(PortNode(1)->text(0), "COM5");
    EXPECT_EQ(Form->SelectedNode(), PortNode(0));
    EXPECT_FALSE(Form->PortOptionsGroupBox->isHidden());
    EXPECT_TRUE(Form->NetOptionsGroupBox->isHidden());
    EXPECT_EQ(Form->SendToNetDelayTimeEdit->text(), "0");
    EXPECT_EQ(Form->PortPathLabel->text().toStdString(), DeviceLinkFolder() + "/COM3");
    EXPECT_TRUE(Form->Timer1->isActive());
    EXPECT_EQ(Form->Timer1->interval(), 200);
    EXPECT_TRUE(Form->isVisible());
    EXPECT_EQ(Form->OSVersionLabel->text(), "For Linux");
    EXPECT_EQ(Form->size(), QSize(600, 400));
}

TEST_F(MainFormTest, ContextMenuEnablesByTheKindOfNode)
{
    QTreeWidgetItem* com3 = PortNode(0);
    QTreeWidgetItem* refused = AddRefusedClient(com3, qlntest::FreePort());

    int listener = qlntest::Listen();
    CNetObject* clientLink = PortOf(com3)->AddTcpClient("127.0.0.1", qlntest::LocalPort(listener));
    QTreeWidgetItem* connected = Form->AddTcpClientNode(com3, clientLink, "127.0.0.1");
    int peer = qlntest::AcceptWithin(listener);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(qlntest::WaitUntil([&] { return StateOf(clientLink) == Connected; }));

    QTreeWidgetItem* server =
        Form->AddTcpServerNode(com3, PortOf(com3)->AddTcpServer(qlntest::FreePort()), );
    (void)server;
    close(peer);
    close(listener);
}

} // namespace

// The add dialog on its own: the number list from the COM port database, the
// states of both modes, and every check OK makes.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "platform/devices/DeviceStore.h"
#include "support/ParamName.h"
#include "ui/SecurityForm.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include "UiTestSupport.h"

using namespace qlnui;

namespace {

class AddPortFormTest : public ::testing::Test {
protected:
    void Claim(std::initializer_list<int> numbers)
    {
        DeviceStore store(StateFolder());
        auto database = store.OpenComDatabase();
        ASSERT_TRUE(database);
        for (int number : numbers)
            ASSERT_TRUE(database->ClaimPort(number, false));
    }

    qlntest::TempHome Home;
    ScriptedBoxes Boxes;
};

bool AllEnabled(QGroupBox* group, bool enabled)
{
    for (QWidget* w : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w->isEnabled() != enabled)
            return false;
    return true;
}

TEST_F(AddPortFormTest, AddPortModeListsTheDatabaseAndSelectsTheFirstFreeNumber)
{
    Claim({1, 2});
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddPort);
    EXPECT_EQ(form.windowTitle(), "Add Port");
    ASSERT_EQ(form.PortNumberComboBox->count(), 256);
    EXPECT_EQ(form.PortNumberComboBox->itemText(0), "COM1 (In Use)");
    EXPECT_EQ(form.PortNumberComboBox->itemText(1), "COM2 (In Use)");
    EXPECT_EQ(form.PortNumberComboBox->itemText(2), "COM3");
    EXPECT_EQ(form.PortNumberComboBox->itemText(255), "COM256");
    EXPECT_EQ(form.PortNumberComboBox->itemData(1).toInt(), 1);
    EXPECT_EQ(form.PortNumberComboBox->itemData(2).toInt(), 0);
    EXPECT_EQ(form.PortNumberComboBox->currentIndex(), 2);
    EXPECT_FALSE(form.PortNumberComboBox->isEnabled());
    EXPECT_TRUE(form.AutoAssignCheckBox->isChecked());
    EXPECT_FALSE(form.AutoAssignCheckBox->isHidden());
    EXPECT_FALSE(form.TCPClientRadioButton->isEnabled());
    EXPECT_FALSE(form.TCPClientRemotePortEdit->isEnabled());

    // "Auto Assign" checked: OK closes at once.
    form.OKButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(AddPortFormTest, ForcingANumberInUseAsks)
{
    Claim({1, 2});
    for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        TAddPortForm form(nullptr, TAddPortForm::Mode::AddPort);
        form.AutoAssignCheckBox->setChecked(false);
        EXPECT_TRUE(form.PortNumberComboBox->isEnabled());
        form.PortNumberComboBox->setCurrentIndex(1);
        Boxes.Calls.clear();
        Boxes.Answer(answer);
        form.OKButton->click();

        ASSERT_EQ(Boxes.Calls.size(), 1u);
        const auto& call = Boxes.Calls[0];
        EXPECT_EQ(call.Text, "The port number is in use! Do you want to force to assign it?");
        EXPECT_EQ(call.Caption, "Add Port");
        EXPECT_EQ(call.Buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(call.Icon, QMessageBox::Critical);
        EXPECT_EQ(call.DefaultButton, QMessageBox::No);
        EXPECT_EQ(form.result(), answer == QMessageBox::Yes ? QDialog::Accepted : QDialog::Rejected);
    }
    // A free number closes without a question.
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddPort);
    form.AutoAssignCheckBox->setChecked(false);
    form.PortNumberComboBox->setCurrentIndex(4);
    Boxes.Calls.clear();
    form.OKButton->click();
    EXPECT_TRUE(Boxes.Calls.empty());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    // Checking the box again disables the list.
    form.AutoAssignCheckBox->setChecked(true);
    EXPECT_FALSE(form.PortNumberComboBox->isEnabled());
}

TEST_F(AddPortFormTest, AFullDatabaseSelectsNothing)
{
    DeviceStore store(StateFolder());
    auto database = store.OpenComDatabase();
    for (int number = 1; number <= 256; ++number)
        ASSERT_TRUE(database->ClaimPort(number, false));
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddPort);
    EXPECT_EQ(form.PortNumberComboBox->count(), 256);
    EXPECT_EQ(form.PortNumberComboBox->currentIndex(), -1);
}

TEST_F(AddPortFormTest, AnUnavailableDatabaseLeavesTheListEmpty)
{
    // The state folder runs through a regular file: it cannot be created.
    std::string blocker = Home.Root + "/blocker";
    qlntest::WriteFileText(blocker, "");
    setenv("XDG_STATE_HOME", (blocker + "/state").c_str(), 1);
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddPort);
    EXPECT_EQ(form.PortNumberComboBox->count(), 0);
    // With no entry to look at, OK asks for a number the system assigns.
    form.AutoAssignCheckBox->setChecked(false);
    form.OKButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(AddPortFormTest, AddNetModeEnablesOnlyTheCheckedKind)
{
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddNet);
    EXPECT_EQ(form.windowTitle(), "Add Net");
    EXPECT_EQ(form.PortNumberComboBox->currentIndex(), -1);
    EXPECT_FALSE(form.PortNumberComboBox->isEnabled());
    EXPECT_TRUE(form.AutoAssignCheckBox->isHidden());
    EXPECT_TRUE(form.TCPClientRadioButton->isChecked());
    EXPECT_TRUE(form.UDPRadioButton->isEnabled());
    EXPECT_TRUE(AllEnabled(form.TCPClientGroupBox, true));
    EXPECT_TRUE(AllEnabled(form.TCPServerGroupBox, false));
    EXPECT_TRUE(AllEnabled(form.UDPGroupBox, false));

    form.UDPRadioButton->setChecked(true);
    EXPECT_TRUE(AllEnabled(form.TCPClientGroupBox, false));
    EXPECT_TRUE(AllEnabled(form.TCPServerGroupBox, false));
    EXPECT_TRUE(AllEnabled(form.UDPGroupBox, true));
    EXPECT_TRUE(form.Label4->isEnabled());

    form.TCPServerRadioButton->setChecked(true);
    EXPECT_TRUE(AllEnabled(form.TCPServerGroupBox, true));
    EXPECT_TRUE(AllEnabled(form.UDPGroupBox, false));
}

struct PortCheck {
    const char* Kind;           // "client", "server", "udp"
    const char* First;          // the (first) port field
    const char* Second;         // UDP remote port
    std::vector<QString> Messages;
    bool Accepted;
};

void PrintTo(const PortCheck& check, std::ostream* out)
{
    *out << check.Kind << " '" << check.First << "'";
    if (std::string(check.Kind) == "udp")
        *out << " '" << check.Second << "'";
}

class PortCheckTest : public AddPortFormTest, public ::testing::WithParamInterface<PortCheck> {};

TEST_P(PortCheckTest, OkChecksThePortsOfTheCheckedKind)
{
    const PortCheck& check = GetParam();
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddNet);
    QLineEdit* first = nullptr;
    QLineEdit* failing = nullptr;
    if (std::string(check.Kind) == "client") {
        form.TCPClientRadioButton->setChecked(true);
        first = form.TCPClientRemotePortEdit;
        failing = first;
    } else if (std::string(check.Kind) == "server") {
        form.TCPServerRadioButton->setChecked(true);
        first = form.TCPServerListenPortEdit;
        failing = first;
    } else {
        form.UDPRadioButton->setChecked(true);
        first = form.UDPLocalPortEdit;
        form.UDPRemotePortEdit->setText(check.Second);
        failing = check.Messages.empty() || check.Messages[0] == "Local Port error!"
            ? first
            : form.UDPRemotePortEdit;
    }
    first->setText(check.First);
    form.show();
    form.OKButton->click();

    EXPECT_EQ(Boxes.Texts(), check.Messages);
    for (const auto& call : Boxes.Calls)
        ExpectError(call, call.Text, "Add Net");
    EXPECT_EQ(form.result(), check.Accepted ? QDialog::Accepted : QDialog::Rejected);
    if (!check.Accepted) {
        EXPECT_TRUE(form.isVisible());
        EXPECT_EQ(form.focusWidget(), failing);
        EXPECT_EQ(first->text(), check.First); // the user's text stays
    }
}

const QString remoteError = "Remote Port error!";
const QString listenError = "Listen Port error!";
const QString localError = "Local Port error!";

INSTANTIATE_TEST_SUITE_P(
    Ports, PortCheckTest,
    ::testing::Values(
        PortCheck{"client", "0", "", {remoteError}, false},
        PortCheck{"client", "65536", "", {remoteError}, false},
        PortCheck{"client", "-1", "", {remoteError}, false},
        PortCheck{"client", "", "", {remoteError}, false},
        PortCheck{"client", "30000x", "", {remoteError}, false},
        PortCheck{"client", "0x7530", "", {}, true},
        PortCheck{"client", "$7530", "", {}, true},
        PortCheck{"client", " 1", "", {}, true},
        PortCheck{"client", "65535", "", {}, true},
        PortCheck{"server", "0", "", {listenError}, false},
        PortCheck{"server", "abc", "", {listenError}, false},
        PortCheck{"server", "30000", "", {}, true},
        // UDP: the local port first; the remote port only once the local one passed.
        PortCheck{"udp", "0", "0", {localError}, false},
        PortCheck{"udp", "30000", "70000", {remoteError}, false},
        PortCheck{"udp", "30000", "", {remoteError}, false},
        PortCheck{"udp", "30000", "31000", {}, true}),
    [](const auto& info) {
        const PortCheck& check = info.param;
        std::string name = std::string(check.Kind) + "_" + qlntest::ValueName(check.First);
        return std::string(check.Kind) == "udp" ? name + "_" + qlntest::ValueName(check.Second) : name;
    });

// The listen address goes with the server and UDP kinds, the "RFC 2217" box with
// the TCP kinds; a listen address that is not this machine's keeps the dialog open
// on its edit.
TEST_F(AddPortFormTest, AddressesAndLineControlGoWithTheirKinds)
{
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddNet);
    EXPECT_TRUE(form.Rfc2217CheckBox->isEnabled());
    form.Rfc2217CheckBox->setChecked(true);
    EXPECT_TRUE(form.Link().Rfc2217);

    form.TCPServerRadioButton->setChecked(true);
    form.TCPServerListenAddrEdit->setText("127.0.0.1");
    EXPECT_EQ(form.Link().LocalAddr, "127.0.0.1");
    EXPECT_TRUE(form.Link().Rfc2217);

    form.UDPRadioButton->setChecked(true);
    EXPECT_FALSE(form.Rfc2217CheckBox->isEnabled());
    EXPECT_FALSE(form.Link().Rfc2217);
    EXPECT_EQ(form.Link().LocalAddr, "");

    form.TCPServerRadioButton->setChecked(true);
    form.TCPServerListenAddrEdit->setText("203.0.113.7");
    form.show();
    form.OKButton->click();
    EXPECT_EQ(Boxes.Texts(), std::vector<QString> {"Listen Address error!"});
    EXPECT_EQ(form.focusWidget(), form.TCPServerListenAddrEdit);
    EXPECT_TRUE(form.isVisible());
}

// The security dialog offers each kind its own fields; what it took goes with the
// kinds that take it, the add-net dialog says in one line what is set, and both OKs
// refuse a bad entry with the entry and why.
TEST_F(AddPortFormTest, SecurityValuesGoWithTheirKinds)
{
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddNet);
    EXPECT_FALSE(form.SecurityButton->isHidden());
    LinkFields server {NetKind::TcpServer, "", "", "30000", "", false, "10.0.0.0/8, ::1", "4"};
    server.Tls = {true, "/c.pem", "/k.pem", "/ca.pem"};
    form.SetLink(server);
    EXPECT_EQ(form.Link(), server);
    EXPECT_EQ(form.SecuritySummaryLabel->toolTip(), "Security: TLS, client certificates, allow 2 entries, at most 4 clients");

    TSecurityForm security(nullptr, form.Link());
    EXPECT_TRUE(security.MaxClientsEdit->isEnabled());
    EXPECT_FALSE(security.PinEdit->isEnabled());
    EXPECT_EQ(security.AllowEdit->text(), "10.0.0.0/8, ::1");
    security.AllowEdit->setText("10.0.0.0/33");
    security.show();
    security.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Text, "Allow List error!\n10.0.0.0/33: prefix longer than 32");
    EXPECT_TRUE(security.isVisible());
    EXPECT_EQ(security.focusWidget(), security.AllowEdit);
    Boxes.Calls.clear();
    security.Read(form.Trust);

    form.TCPClientRadioButton->setChecked(true);
    const LinkFields client = form.Link();
    EXPECT_TRUE(client.Allow.empty() && client.MaxClients.empty());
    EXPECT_EQ(client.Tls, server.Tls);
    LinkFields udp;
    udp.Kind = NetKind::Udp;
    TSecurityForm forUdp(nullptr, udp);
    EXPECT_FALSE(forUdp.TlsCheckBox->isEnabled());
    EXPECT_TRUE(forUdp.AllowEdit->isEnabled());

    form.UDPRadioButton->setChecked(true);
    EXPECT_FALSE(form.Link().Tls.On);
    form.show();
    form.OKButton->click();
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Text, "Allow List error!\n10.0.0.0/33: prefix longer than 32");
    EXPECT_EQ(form.focusWidget(), form.SecurityButton);
    // A range with host bits set is refused with the form meant.
    security.AllowEdit->setText("127.0.0.1, 10.0.0.5/8");
    security.Read(form.Trust);
    form.OKButton->click();
    ASSERT_EQ(Boxes.Calls.size(), 2u);
    EXPECT_EQ(Boxes.Calls[1].Text, "Allow List error!\n10.0.0.5/8: host bits set; 10.0.0.0/8?");
}

TEST_F(AddPortFormTest, CancelClosesWithoutChecks)
{
    TAddPortForm form(nullptr, TAddPortForm::Mode::AddNet);
    form.TCPClientRemotePortEdit->setText("bad");
    form.CancelButton->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(AddPortFormTest, AnyOtherModeClosesWithoutChecks)
{
    TAddPortForm form(nullptr, static_cast<TAddPortForm::Mode>(7));
    EXPECT_FALSE(form.TCPClientRadioButton->isEnabled());
    form.TCPClientRemotePortEdit->setText("bad");
    form.OKButton->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(Boxes.Calls.empty());
}

} // namespace

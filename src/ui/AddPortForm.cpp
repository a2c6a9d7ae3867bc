#include "ui/AddPortForm.h"

#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "console/ComNumbers.h"
#include "ui/MessageBoxSeam.h"
#include "ui/SecurityForm.h"

namespace {

template <class W>
W* Place(QWidget* parent, int left, int top, int width, int height, const QString& text = QString())
{
    auto* w = new W(parent);
    w->setGeometry(left, top, width, height);
    if constexpr (std::is_same_v<W, QLineEdit>)
        w->setText(text);
    else if constexpr (std::is_same_v<W, QGroupBox>)
        w->setTitle(text);
    else if constexpr (!std::is_same_v<W, QComboBox>)
        w->setText(text);
    return w;
}

} // namespace

TAddPortForm::TAddPortForm(QWidget* owner, Mode mode) : QDialog(owner), DialogMode(mode)
{
    BuildForm();

    if (DialogMode == Mode::AddPort) {
        setWindowTitle("Add Port");
        FillPortNumbers(true);
        AutoAssignCheckBox->show();
    } else if (DialogMode == Mode::AddNet) {
        setWindowTitle("Add Net");
        FillPortNumbers(false);
        TCPClientRadioButton->setEnabled(true);
        TCPServerRadioButton->setEnabled(true);
        UDPRadioButton->setEnabled(true);
        Rfc2217CheckBox->show();
        SecurityButton->show();
        SecuritySummaryLabel->show();
        NetTypeRadioButtonClick();
    }
}

TAddPortForm::~TAddPortForm() = default;

void TAddPortForm::BuildForm()
{
    // The dialog's form: absolute places in a fixed 400 x 420 client area.
    QFont font("MS Sans Serif");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(400, 420);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    OKButton = Place<QPushButton>(this, 312, 24, 75, 25, "OK");
    OKButton->setObjectName("OKButton");
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    CancelButton = Place<QPushButton>(this, 312, 56, 75, 25, "Cancel");
    CancelButton->setObjectName("CancelButton");
    CancelButton->setAutoDefault(false);

    GroupBox2 = Place<QGroupBox>(this, 16, 16, 281, 129, "Setting");
    Label1 = Place<QLabel>(GroupBox2, 8, 24, 57, 21, "COM Port:");
    PortNumberComboBox = Place<QComboBox>(GroupBox2, 64, 24, 113, 21);
    PortNumberComboBox->setObjectName("PortNumberComboBox");
    PortNumberComboBox->setEditable(false);
    // A list of a few hundred numbers scrolls instead of filling the screen's height.
    PortNumberComboBox->setMaxVisibleItems(16);
    PortNumberComboBox->setStyleSheet("QComboBox { combobox-popup: 0; }");
    PortNumberComboBox->setEnabled(false);
    Label1->setEnabled(false);
    AutoAssignCheckBox = Place<QCheckBox>(GroupBox2, 184, 24, 90, 21, "Auto Assign");
    AutoAssignCheckBox->setObjectName("AutoAssignCheckBox");
    AutoAssignCheckBox->setChecked(true);
    AutoAssignCheckBox->hide();
    TCPClientRadioButton = Place<QRadioButton>(GroupBox2, 8, 56, 113, 17, "TCP Client");
    TCPClientRadioButton->setChecked(true);
    TCPClientRadioButton->setEnabled(false);
    TCPServerRadioButton = Place<QRadioButton>(GroupBox2, 8, 80, 113, 17, "TCP Server");
    TCPServerRadioButton->setEnabled(false);
    UDPRadioButton = Place<QRadioButton>(GroupBox2, 8, 104, 113, 17, "UDP");
    UDPRadioButton->setEnabled(false);
    Rfc2217CheckBox = Place<QCheckBox>(GroupBox2, 184, 56, 90, 17, "RFC 2217");
    Rfc2217CheckBox->setObjectName("Rfc2217CheckBox");
    Rfc2217CheckBox->hide();
    SecurityButton = Place<QPushButton>(GroupBox2, 184, 80, 90, 21, "Security...");
    SecurityButton->setObjectName("SecurityButton");
    SecurityButton->setAutoDefault(false);
    SecurityButton->hide();
    // What the security dialog holds, in one line under the settings.
    SecuritySummaryLabel = Place<QLabel>(this, 20, 145, 365, 14);
    SecuritySummaryLabel->setObjectName("SecuritySummaryLabel");
    SecuritySummaryLabel->setStyleSheet("color: gray;");
    SecuritySummaryLabel->hide();

    TCPClientGroupBox = Place<QGroupBox>(this, 16, 160, 369, 57, "TCP Client");
    Label7 = Place<QLabel>(TCPClientGroupBox, 8, 24, 95, 21, "Remote Address:");
    TCPClientRemoteAddrEdit = Place<QLineEdit>(TCPClientGroupBox, 104, 24, 105, 21, "127.0.0.1");
    TCPClientRemoteAddrEdit->setEnabled(false);
    Label6 = Place<QLabel>(TCPClientGroupBox, 224, 24, 78, 21, "Remote Port:");
    TCPClientRemotePortEdit = Place<QLineEdit>(TCPClientGroupBox, 304, 24, 49, 21, "30000");
    TCPClientRemotePortEdit->setEnabled(false);

    TCPServerGroupBox = Place<QGroupBox>(this, 16, 232, 369, 57, "TCP Server");
    Label8 = Place<QLabel>(TCPServerGroupBox, 8, 24, 90, 21, "Listen Port:");
    TCPServerListenPortEdit = Place<QLineEdit>(TCPServerGroupBox, 104, 24, 49, 21, "30000");
    TCPServerListenPortEdit->setEnabled(false);
    Label9 = Place<QLabel>(TCPServerGroupBox, 168, 24, 90, 21, "Listen Address:");
    TCPServerListenAddrEdit = Place<QLineEdit>(TCPServerGroupBox, 264, 24, 97, 21);
    TCPServerListenAddrEdit->setPlaceholderText("all interfaces");
    TCPServerListenAddrEdit->setEnabled(false);

    UDPGroupBox = Place<QGroupBox>(this, 16, 304, 369, 97, "UDP");
    Label2 = Place<QLabel>(UDPGroupBox, 8, 24, 90, 21, "Local Port:");
    UDPLocalPortEdit = Place<QLineEdit>(UDPGroupBox, 104, 24, 49, 21, "30000");
    UDPLocalPortEdit->setEnabled(false);
    Label5 = Place<QLabel>(UDPGroupBox, 168, 24, 90, 21, "Local Address:");
    UDPLocalAddrEdit = Place<QLineEdit>(UDPGroupBox, 264, 24, 97, 21);
    UDPLocalAddrEdit->setPlaceholderText("all interfaces");
    UDPLocalAddrEdit->setEnabled(false);
    Label4 = Place<QLabel>(UDPGroupBox, 8, 56, 95, 21, "Remote Address:");
    UDPRemoteAddrEdit = Place<QLineEdit>(UDPGroupBox, 104, 56, 105, 21, "127.0.0.1");
    UDPRemoteAddrEdit->setEnabled(false);
    Label3 = Place<QLabel>(UDPGroupBox, 224, 56, 78, 21, "Remote Port:");
    UDPRemotePortEdit = Place<QLineEdit>(UDPGroupBox, 304, 56, 49, 21, "31000");
    UDPRemotePortEdit->setEnabled(false);

    SetTabOrder();

    // Check boxes and radio buttons run their handler on every change of state, also
    // one made by the program, as a click would.
    connect(AutoAssignCheckBox, &QCheckBox::toggled, this, [this] { AutoAssignCheckBoxClick(); });
    for (QRadioButton* radio : {TCPClientRadioButton, TCPServerRadioButton, UDPRadioButton})
        connect(radio, &QRadioButton::toggled, this, [this] { NetTypeRadioButtonClick(); });
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(SecurityButton, &QPushButton::clicked, this, [this] { SecurityButtonClick(); });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAddPortForm::SetTabOrder()
{
    QWidget* order[] = {OKButton, CancelButton, AutoAssignCheckBox, TCPClientRadioButton,
                        TCPServerRadioButton, UDPRadioButton, Rfc2217CheckBox, SecurityButton, PortNumberComboBox,
                        TCPClientRemoteAddrEdit, TCPClientRemotePortEdit, TCPServerListenPortEdit,
                        TCPServerListenAddrEdit, UDPLocalPortEdit, UDPLocalAddrEdit, UDPRemoteAddrEdit,
                        UDPRemotePortEdit};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TAddPortForm::AutoAssignCheckBoxClick()
{
    PortNumberComboBox->setEnabled(!AutoAssignCheckBox->isChecked());
    Label1->setEnabled(PortNumberComboBox->isEnabled()); // a label looks like its field
}

void TAddPortForm::NetTypeRadioButtonClick()
{
    const std::pair<QGroupBox*, QRadioButton*> groups[] = {
        {TCPClientGroupBox, TCPClientRadioButton},
        {TCPServerGroupBox, TCPServerRadioButton},
        {UDPGroupBox, UDPRadioButton},
    };
    for (const auto& [group, radio] : groups) {
        const bool on = radio->isChecked();
        for (QWidget* control : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            control->setEnabled(on);
    }
    // Line control rides on Telnet, which only the TCP kinds carry.
    Rfc2217CheckBox->setEnabled(!UDPRadioButton->isChecked());
    UpdateSecuritySummary();
}

void TAddPortForm::UpdateSecuritySummary()
{
    const QString summary = QString::fromStdString(TrustSummary(Link()));
    const QString text = summary.isEmpty() ? "Security: none" : "Security: " + summary;
    SecuritySummaryLabel->setText(
        SecuritySummaryLabel->fontMetrics().elidedText(text, Qt::ElideRight, SecuritySummaryLabel->width()));
    SecuritySummaryLabel->setToolTip(text);
}

void TAddPortForm::SetLink(const LinkFields& fields)
{
    auto text = [](const std::string& value) { return QString::fromStdString(value); };
    switch (fields.Kind) {
    case NetKind::TcpClient:
        TCPClientRadioButton->setChecked(true);
        TCPClientRemoteAddrEdit->setText(text(fields.RemoteAddr));
        TCPClientRemotePortEdit->setText(text(fields.RemotePort));
        break;
    case NetKind::TcpServer:
        TCPServerRadioButton->setChecked(true);
        TCPServerListenPortEdit->setText(text(fields.LocalPort));
        TCPServerListenAddrEdit->setText(text(fields.LocalAddr));
        break;
    case NetKind::Udp:
        UDPRadioButton->setChecked(true);
        UDPLocalPortEdit->setText(text(fields.LocalPort));
        UDPLocalAddrEdit->setText(text(fields.LocalAddr));
        UDPRemoteAddrEdit->setText(text(fields.RemoteAddr));
        UDPRemotePortEdit->setText(text(fields.RemotePort));
        break;
    }
    Rfc2217CheckBox->setChecked(fields.Rfc2217 && fields.Kind != NetKind::Udp);
    Trust = fields;
    UpdateSecuritySummary();
}

void TAddPortForm::SecurityButtonClick()
{
    LinkFields fields = Link();
    TSecurityForm dialog(this, fields);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.Read(fields);
    Trust = fields;
    UpdateSecuritySummary();
}

LinkFields TAddPortForm::Link() const
{
    LinkFields fields;
    if (TCPServerRadioButton->isChecked()) {
        fields.Kind = NetKind::TcpServer;
        fields.LocalPort = TCPServerListenPortEdit->text().toStdString();
        fields.LocalAddr = TCPServerListenAddrEdit->text().toStdString();
        fields.Rfc2217 = Rfc2217CheckBox->isChecked();
    } else if (UDPRadioButton->isChecked()) {
        fields.Kind = NetKind::Udp;
        fields.LocalPort = UDPLocalPortEdit->text().toStdString();
        fields.LocalAddr = UDPLocalAddrEdit->text().toStdString();
        fields.RemoteAddr = UDPRemoteAddrEdit->text().toStdString();
        fields.RemotePort = UDPRemotePortEdit->text().toStdString();
    } else {
        fields.Kind = NetKind::TcpClient;
        fields.RemoteAddr = TCPClientRemoteAddrEdit->text().toStdString();
        fields.RemotePort = TCPClientRemotePortEdit->text().toStdString();
        fields.Rfc2217 = Rfc2217CheckBox->isChecked();
    }
    // What the kind takes of the security dialog's values.
    if (fields.Kind != NetKind::TcpClient)
        fields.Allow = Trust.Allow;
    if (fields.Kind == NetKind::TcpServer)
        fields.MaxClients = Trust.MaxClients;
    if (fields.Kind != NetKind::Udp)
        fields.Tls = Trust.Tls;
    if (fields.Kind == NetKind::TcpServer)
        fields.Tls.Pin.clear();
    return fields;
}

QLineEdit* TAddPortForm::EditOf(LinkCheck::Field field) const
{
    const bool remote = field == LinkCheck::Field::RemotePort;
    const bool address = field == LinkCheck::Field::LocalAddr;
    const bool host = field == LinkCheck::Field::RemoteAddr;
    if (TCPServerRadioButton->isChecked())
        return address ? TCPServerListenAddrEdit : TCPServerListenPortEdit;
    if (UDPRadioButton->isChecked())
        return host ? UDPRemoteAddrEdit : remote ? UDPRemotePortEdit : address ? UDPLocalAddrEdit : UDPLocalPortEdit;
    return host ? TCPClientRemoteAddrEdit : TCPClientRemotePortEdit;
}

void TAddPortForm::OKButtonClick()
{
    if (DialogMode == Mode::AddPort) {
        // With "Auto Assign" off and no entry chosen (an empty list) there is no mark
        // to look at: the caller then asks for position -1 + 1 = 0, a number the system
        // assigns, so OK is accepted as for "Auto Assign".
        const int index = PortNumberComboBox->currentIndex();
        if (!AutoAssignCheckBox->isChecked() && IsOwnPort(index)) {
            // Forcing would take the number from the console's own port, which the
            // console refuses after the question anyway.
            MessageBoxSeam::ShowError(
                this,
                MessageBoxSeam::TextOf("The port number is in use!",
                                       "COM" + std::to_string(index + 1)
                                           + " is a port of this console; one number cannot serve two ports."),
                windowTitle());
            PortNumberComboBox->setFocus();
            return;
        }
        if (!AutoAssignCheckBox->isChecked() && index >= 0
            && PortNumberComboBox->itemData(index).toInt() != 0) {
            const QMessageBox::StandardButton answer = MessageBoxSeam::Show(
                this, "The port number is in use! Do you want to force to assign it?",
                windowTitle(), QMessageBox::Yes | QMessageBox::No, QMessageBox::Critical,
                QMessageBox::No);
            if (answer != QMessageBox::Yes) {
                PortNumberComboBox->setFocus();
                return;
            }
        }
    } else if (DialogMode == Mode::AddNet) {
        const LinkCheck check = CheckLink(Link());
        if (!check.Result) {
            MessageBoxSeam::ShowError(this, MessageBoxSeam::TextOf(check.Result.Message, check.Result.Reason()),
                                      windowTitle());
            using Field = LinkCheck::Field;
            const bool security = check.Failed == Field::Allow || check.Failed == Field::MaxClients
                || check.Failed == Field::Tls;
            if (security)
                SecurityButton->setFocus();
            else
                EditOf(check.Failed)->setFocus();
            return;
        }
    }
    accept();
}

namespace {

constexpr int OwnPortRole = Qt::UserRole + 1;

} // namespace

bool TAddPortForm::IsOwnPort(int index) const
{
    return index >= 0 && PortNumberComboBox->itemData(index, OwnPortRole).toBool();
}

void TAddPortForm::MarkOwnPorts(const std::vector<int32_t>& numbers)
{
    if (DialogMode != Mode::AddPort)
        return;
    for (int32_t number : numbers) {
        const int index = number - 1;
        if (index < 0 || index >= PortNumberComboBox->count())
            continue;
        PortNumberComboBox->setItemText(index, "COM" + QString::number(number) + " (In Use, this console)");
        PortNumberComboBox->setItemData(index, 1);
        PortNumberComboBox->setItemData(index, true, OwnPortRole);
    }
    // The database may not have claimed a number the console serves (ports made for
    // a test or a tool): the first free entry is then the next one.
    if (!IsOwnPort(PortNumberComboBox->currentIndex()))
        return;
    int firstFree = -1;
    for (int i = 0; i < PortNumberComboBox->count() && firstFree < 0; ++i) {
        if (PortNumberComboBox->itemData(i).toInt() == 0)
            firstFree = i;
    }
    PortNumberComboBox->setCurrentIndex(firstFree);
}

void TAddPortForm::FillPortNumbers(bool selectFirstFree)
{
    const std::vector<bool> inUse = ReadComNumberUsage();
    int firstFree = -1;
    for (size_t i = 0; i < inUse.size(); ++i) {
        QString text = "COM" + QString::number(i + 1);
        const int mark = inUse[i] ? 1 : 0;
        if (mark)
            text += " (In Use)";
        else if (firstFree < 0)
            firstFree = static_cast<int>(i);
        PortNumberComboBox->addItem(text, mark);
    }
    if (inUse.empty())
        return;
    // A drop-down list shows its first entry by itself; the choice is ours.
    PortNumberComboBox->setCurrentIndex(selectFirstFree ? firstFree : -1);
}

#include "ui/SecurityForm.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "ui/MessageBoxSeam.h"

namespace {

QLineEdit* Edit(QWidget* parent, const std::string& text, const QString& placeholder)
{
    auto* edit = new QLineEdit(QString::fromStdString(text), parent);
    edit->setPlaceholderText(placeholder);
    // The hint shows whole.
    edit->setMinimumWidth(std::max(260, edit->fontMetrics().horizontalAdvance(placeholder) + 24));
    return edit;
}

// A file's field with its Browse... button, which picks an existing file.
QWidget* WithBrowse(QWidget* parent, QLineEdit* edit, const QString& title)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(edit);
    auto* browse = new QPushButton("Browse...", row);
    browse->setAutoDefault(false);
    layout->addWidget(browse);
    QObject::connect(browse, &QPushButton::clicked, edit, [edit, title, parent] {
        const QString chosen = QFileDialog::getOpenFileName(parent, title, edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    return row;
}

} // namespace

TSecurityForm::TSecurityForm(QWidget* owner, const LinkFields& fields) : QDialog(owner), Fields(fields)
{
    setWindowTitle("Security");
    setModal(true);
    auto* form = new QFormLayout(this);
    TlsCheckBox = new QCheckBox("TLS", this);
    TlsCheckBox->setObjectName("TlsCheckBox");
    TlsCheckBox->setChecked(fields.Tls.On);
    CertEdit = Edit(this, fields.Tls.Cert, "PEM file");
    KeyEdit = Edit(this, fields.Tls.Key, "PEM file, mode 600");
    CaEdit = Edit(this, fields.Tls.CA, fields.Kind == NetKind::TcpServer ? "clients need no certificate" : "the system's CAs");
    PinEdit = Edit(this, fields.Tls.Pin, "SHA-256 fingerprint of the server's certificate");
    AllowEdit = Edit(this, fields.Allow, "everyone; e.g. 10.0.0.0/8,::1");
    MaxClientsEdit = Edit(this, fields.MaxClients, "no limit");
    form->addRow(TlsCheckBox);
    form->addRow("Certificate:", WithBrowse(this, CertEdit, "Certificate"));
    form->addRow("Key:", WithBrowse(this, KeyEdit, "Key"));
    form->addRow("CA:", WithBrowse(this, CaEdit, "CA"));
    form->addRow("Pin:", PinEdit);
    form->addRow("Allow:", AllowEdit);
    form->addRow("Max clients:", MaxClientsEdit);

    // Each field for the kinds that take it.
    const bool tcp = fields.Kind != NetKind::Udp;
    for (QWidget* tls : {static_cast<QWidget*>(TlsCheckBox), CertEdit->parentWidget(), KeyEdit->parentWidget(),
                         CaEdit->parentWidget()})
        tls->setEnabled(tcp);
    PinEdit->setEnabled(fields.Kind == NetKind::TcpClient);
    AllowEdit->setEnabled(fields.Kind != NetKind::TcpClient);
    MaxClientsEdit->setEnabled(fields.Kind == NetKind::TcpServer);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OkClick(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void TSecurityForm::Read(LinkFields& fields) const
{
    fields.Tls.On = TlsCheckBox->isChecked();
    fields.Tls.Cert = CertEdit->text().toStdString();
    fields.Tls.Key = KeyEdit->text().toStdString();
    fields.Tls.CA = CaEdit->text().toStdString();
    fields.Tls.Pin = PinEdit->text().toStdString();
    fields.Allow = AllowEdit->text().toStdString();
    fields.MaxClients = MaxClientsEdit->text().toStdString();
}

void TSecurityForm::OkClick()
{
    // Checked here, with the words the add-net dialog's OK would use, so that the
    // user mends a value where it is typed.
    LinkFields typed = Fields;
    Read(typed);
    LinkCheck check;
    CheckTrust(typed, check);
    if (!check.Result) {
        MessageBoxSeam::ShowError(this, MessageBoxSeam::TextOf(check.Result.Message, check.Result.Reason()),
                                  windowTitle());
        using Field = LinkCheck::Field;
        QLineEdit* at = check.Failed == Field::Allow ? AllowEdit
            : check.Failed == Field::MaxClients      ? MaxClientsEdit
            : Fields.Kind == NetKind::TcpClient && !typed.Tls.Pin.empty() ? PinEdit
                                                                  : CertEdit;
        at->setFocus();
        return;
    }
    accept();
}

#include "ui/SecurityForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

namespace {

QLineEdit* Edit(QWidget* parent, const std::string& text, const QString& placeholder)
{
    auto* edit = new QLineEdit(QString::fromStdString(text), parent);
    edit->setPlaceholderText(placeholder);
    edit->setMinimumWidth(260);
    return edit;
}

} // namespace

TSecurityForm::TSecurityForm(QWidget* owner, const LinkFields& fields) : QDialog(owner)
{
    setWindowTitle("Security");
    setModal(true);
    auto* form = new QFormLayout(this);
    TlsCheckBox = new QCheckBox("TLS", this);
    TlsCheckBox->setObjectName("TlsCheckBox");
    TlsCheckBox->setChecked(fields.Tls.On);
    CertEdit = Edit(this, fields.Tls.Cert, "PEM file");
    KeyEdit = Edit(this, fields.Tls.Key, "PEM file, mode 600");
    CaEdit = Edit(this, fields.Tls.CA, fields.Kind == TcpServer ? "clients need no certificate" : "the system's CAs");
    PinEdit = Edit(this, fields.Tls.Pin, "SHA-256 fingerprint of the server's certificate");
    AllowEdit = Edit(this, fields.Allow, "everyone; e.g. 10.0.0.0/8,::1");
    MaxClientsEdit = Edit(this, fields.MaxClients, "no limit");
    form->addRow(TlsCheckBox);
    form->addRow("Certificate:", CertEdit);
    form->addRow("Key:", KeyEdit);
    form->addRow("CA:", CaEdit);
    form->addRow("Pin:", PinEdit);
    form->addRow("Allow:", AllowEdit);
    form->addRow("Max clients:", MaxClientsEdit);

    // Each field for the kinds that take it.
    const bool tcp = fields.Kind != Udp;
    for (QWidget* tls : {static_cast<QWidget*>(TlsCheckBox), static_cast<QWidget*>(CertEdit),
                         static_cast<QWidget*>(KeyEdit), static_cast<QWidget*>(CaEdit)})
        tls->setEnabled(tcp);
    PinEdit->setEnabled(fields.Kind == TcpClient);
    AllowEdit->setEnabled(fields.Kind != TcpClient);
    MaxClientsEdit->setEnabled(fields.Kind == TcpServer);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
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

#pragma once
#include <QDialog>

#include "console/LinkFields.h"

class QCheckBox;
class QLineEdit;

// The small dialog behind the add-net dialog's "Security…" button: the allow list
// and the client limit of the listening kinds, and TLS for the TCP kinds, each field
// enabled for the kinds that take it. Its OK checks them as the add-net dialog's OK
// does, with the same words, and stays open on a value that fails.
//
// Window thread only.
class TSecurityForm : public QDialog {
    Q_OBJECT

public:
    // Shows the trust values of `fields` for a link of `fields.Kind`.
    TSecurityForm(QWidget* owner, const LinkFields& fields);

    // Puts the values as typed into `fields` (its other values stay).
    void Read(LinkFields& fields) const;

    QCheckBox* TlsCheckBox;
    QLineEdit* CertEdit;
    QLineEdit* KeyEdit;
    QLineEdit* CaEdit;
    QLineEdit* PinEdit;
    QLineEdit* AllowEdit;
    QLineEdit* MaxClientsEdit;

private:
    void OkClick();

    LinkFields Fields; // the link's, for its kind
};

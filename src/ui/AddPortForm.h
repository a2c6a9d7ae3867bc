#pragma once
#include <cstdint>
#include <vector>

#include <QDialog>

#include "console/LinkFields.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The modal dialog of "&Add Port" and "A&dd Net". It only collects and checks the
// user's choices; the main window reads its controls after it closed with OK.
//
// Add port: "Auto Assign" checked, or the position of the chosen entry of the
// number list (COM number = position + 1). Add net: Link(), the checked kind, the
// texts of that kind's edits and its "RFC 2217" box, which OK has checked with
// CheckLink.
//
// Window thread only.
class TAddPortForm : public QDialog {
    Q_OBJECT

public:
    enum class Mode : int32_t { AddPort = 1, AddNet = 2 };

    // Builds the dialog and prepares it for `mode`; any other mode leaves it as built
    // and lets OK close it without checks.
    TAddPortForm(QWidget* owner, Mode mode);
    ~TAddPortForm() override;

    // Fills the number list from the COM port database: "COM<n>" for a free number,
    // "COM<n> (In Use)" for a taken one, each with its mark (0 free, 1 in use) as item
    // data. Selects the first free entry when asked (none when there is none). An
    // unavailable or unreadable database leaves the list with what was read.
    void FillPortNumbers(bool selectFirstFree);

    // Marks the entries of the console's own ports "COM<n> (In Use, this console)"
    // (add-port mode): such a number cannot be forced, and OK says why instead of
    // asking. The first free entry stays selected, never one of these.
    void MarkOwnPorts(const std::vector<int32_t>& numbers);
    // Whether the entry at `index` is one of the console's own ports.
    bool IsOwnPort(int index) const;

    // Handlers, named after the control and the event.
    void AutoAssignCheckBoxClick();
    void NetTypeRadioButtonClick();
    // The one line under the settings that says what Security holds for the kind.
    void UpdateSecuritySummary();
    void OKButtonClick();
    // Opens the security dialog for the checked kind; its OK keeps what was typed.
    void SecurityButtonClick();

    // The checked kind and the texts of its edits, as typed.
    LinkFields Link() const;
    // Checks the kind of `fields` and puts its texts into that kind's edits: a link to
    // edit, or what the user typed before a refusal.
    void SetLink(const LinkFields& fields);

    Mode DialogMode;

    // Controls, named as the handlers and the tests know them; owned by the dialog.
    QPushButton* OKButton;
    QPushButton* CancelButton;
    QGroupBox* GroupBox2;
    QLabel* Label1;
    QComboBox* PortNumberComboBox;
    QCheckBox* AutoAssignCheckBox;
    QRadioButton* TCPClientRadioButton;
    QRadioButton* TCPServerRadioButton;
    QRadioButton* UDPRadioButton;
    QCheckBox* Rfc2217CheckBox; // add net only; TCP client and TCP server
    QPushButton* SecurityButton; // add net only: allow list, client limit, TLS
    QLabel* SecuritySummaryLabel; // add net only: what Security holds, in one line
    QGroupBox* TCPClientGroupBox;
    QLabel* Label7;
    QLineEdit* TCPClientRemoteAddrEdit;
    QLabel* Label6;
    QLineEdit* TCPClientRemotePortEdit;
    QGroupBox* TCPServerGroupBox;
    QLabel* Label8;
    QLineEdit* TCPServerListenPortEdit;
    QLabel* Label9;
    QLineEdit* TCPServerListenAddrEdit; // empty: every interface
    QGroupBox* UDPGroupBox;
    QLabel* Label2;
    QLineEdit* UDPLocalPortEdit;
    QLabel* Label5;
    QLineEdit* UDPLocalAddrEdit; // empty: every interface
    QLabel* Label4;
    QLineEdit* UDPRemoteAddrEdit;
    QLabel* Label3;
    QLineEdit* UDPRemotePortEdit;

    // The allow list, client limit and TLS as last typed in the security dialog (or
    // set by SetLink); Link() gives what the checked kind takes of them.
    LinkFields Trust;

private:
    void BuildForm();
    void SetTabOrder();
    // The edit of the checked kind that holds `field`.
    QLineEdit* EditOf(LinkCheck::Field field) const;
};

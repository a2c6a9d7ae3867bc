// The main window's tree, context menu, options panels and timer.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include "net/NetObject.h"
#include "platform/pty/PortDriver.h"
#include "platform/config/WholeNumber.h"
#include "forwarding/PortObject.h"
#include "ui/AddPortForm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxSeam.h"
#include "ui/NodeTag.h"

namespace {

bool ParseEdit(QLineEdit* edit, int32_t& value)
{
    const QByteArray text = edit->text().toUtf8();
    return ParseWholeNumber(std::string_view(text.constData(), static_cast<size_t>(text.size())),
                            value);
}

QString Unsigned(int64_t value)
{
    return QString::number(static_cast<uint32_t>(value));
}

// "COM<n>", marked while the port cannot be served.
QString PortNodeText(CPortObject* port)
{
    const QString text = "COM" + Unsigned(port->GetPortNumber());
    return port->GetUnavailableReason().empty() ? text : text + " (Unavailable)";
}

QString OpenedPortsText(const CQLNManager::PortList& ports)
{
    QString text;
    for (CPortObject* port : ports)
        text += "COM" + Unsigned(port->GetPortNumber()) + " is opened!\n";
    return text;
}

} // namespace

QTreeWidgetItem* TMainForm::SelectedNode() const
{
    const QList<QTreeWidgetItem*> selected = PortTreeView->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

// ---------------------------------------------------------------- context menu

void TMainForm::PopupMenu1Popup()
{
    AddNetMenuItem->setEnabled(false);
    RemovePortMenuItem->setEnabled(false);
    RemoveNetMenuItem->setEnabled(false);
    ReconnectMenuItem->setEnabled(false);

    MenuNode = SelectedNode();
    NodeTag* tag = TTreeNode::TagOf(MenuNode);
    if (!tag)
        return;
    if (tag->Port()) {
        AddNetMenuItem->setEnabled(true);
        RemovePortMenuItem->setEnabled(true);
    } else if (CNetObject* link = tag->Link()) {
        RemoveNetMenuItem->setEnabled(true);
        // The pump changes the connection state; read it under the lock.
        CGuard guard(Manager->Lock());
        if (link->Type == TcpClient && link->GetLinkState() == Unconnected)
            ReconnectMenuItem->setEnabled(true);
    }
}

void TMainForm::AddPortMenuItemClick()
{
    if (!Manager)
        return;
    CQLNManager::PortList opened;
    Manager->CollectOpenedPorts(&opened);
    if (!opened.empty()) {
        ShowError(OpenedPortsText(opened)
                  + "\nBefore adding any port, please close all opened quillons!");
        return;
    }

    TAddPortForm dialog(this, TAddPortForm::AddPortMode);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int number = dialog.AutoAssignCheckBox->isChecked()
        ? 0
        : dialog.PortNumberComboBox->currentIndex() + 1;
    CPortObject* port = Manager->AddPort(number);
    if (!port || !AddPortNode(port))
        ShowError("Add port failed!");
    // No configuration section for the new port until one of its options changes.
}

void TMainForm::AddNetMenuItemClick()
{
    QTreeWidgetItem* portNode = MenuNode;
    NodeTag* tag = TTreeNode::TagOf(portNode);
    CPortObject* port = tag ? tag->Port() : nullptr;
    if (!port)
        return;

    TAddPortForm dialog(this, TAddPortForm::AddNetMode);
    dialog.PortNumberComboBox->setCurrentIndex(port->GetPortNumber() - 1);
    if (dialog.exec() != QDialog::Accepted)
        return;

    // The dialog has checked the port numbers; the host goes to the link as typed.
    bool added = false;
    int32_t localPort = 0;
    int32_t remotePort = 0;
    if (dialog.TCPClientRadioButton->isChecked()) {
        const std::string host = dialog.TCPClientRemoteAddrEdit->text().toStdString();
        if (ParseEdit(dialog.TCPClientRemotePortEdit, remotePort)) {
            CNetObject* link = port->AddTcpClient(host.c_str(), static_cast<uint16_t>(remotePort));
            if (link && AddTcpClientNode(portNode, link, host.c_str())) {
                SavePortSettings(port);
                added = true;
            }
        }
    } else if (dialog.TCPServerRadioButton->isChecked()) {
        if (ParseEdit(dialog.TCPServerListenPortEdit, localPort)) {
            CNetObject* link = port->AddTcpServer(static_cast<uint16_t>(localPort));
            if (link && AddTcpServerNode(portNode, link)) {
                SavePortSettings(port);
                added = true;
            }
        }
    } else if (dialog.UDPRadioButton->isChecked()) {
        const std::string host = dialog.UDPRemoteAddrEdit->text().toStdString();
        if (ParseEdit(dialog.UDPLocalPortEdit, localPort)
            && ParseEdit(dialog.UDPRemotePortEdit, remotePort)) {
            CNetObject* link = port->AddUdp(static_cast<uint16_t>(localPort), host.c_str(),
                                            static_cast<uint16_t>(remotePort));
            if (link && AddUdpNode(portNode, link, host.c_str())) {
                SavePortSettings(port);
                added = true;
            }
        }
    }
    if (!added)
        ShowError("Add net failed!");
}

void TMainForm::RemovePortMenuItemClick()
{
    if (!MessageBoxSeam::AskYesNo(this, "Remove the port?", windowTitle()))
        return;
    NodeTag* tag = TTreeNode::TagOf(MenuNode);
    CPortObject* port = tag ? tag->Port() : nullptr;
    if (!port || !Manager)
        return;
    const int32_t number = port->GetPortNumber();
    const int result = Manager->RemovePort(port);
    if (result == 1) {
        DeletePortNode(MenuNode);
        ErasePortSettings(number);
    } else if (result == -1) {
        ShowError("Before removing the port, please close it first!");
    } else {
        ShowError("Remove port failed!");
    }
}

void TMainForm::RemoveNetMenuItemClick()
{
    if (!MessageBoxSeam::AskYesNo(this, "Remove the net?", windowTitle()))
        return;
    QTreeWidgetItem* node = MenuNode;
    NodeTag* linkTag = TTreeNode::TagOf(node);
    NodeTag* portTag = node ? TTreeNode::TagOf(node->parent()) : nullptr;
    CPortObject* port = portTag ? portTag->Port() : nullptr;
    CNetObject* link = linkTag ? linkTag->Link() : nullptr;
    if (!port || !link)
        return;
    port->RemoveLink(link);
    DeleteLinkNode(node);
    SavePortSettings(port);
}

void TMainForm::ReconnectMenuItemClick()
{
    NodeTag* linkTag = TTreeNode::TagOf(MenuNode);
    CNetObject* link = linkTag ? linkTag->Link() : nullptr;
    NodeTag* portTag = MenuNode ? TTreeNode::TagOf(MenuNode->parent()) : nullptr;
    CPortObject* port = portTag ? portTag->Port() : nullptr;
    if (port && link && link->Type == TcpClient)
        port->Reconnect(link);
}

// ---------------------------------------------------------------- tree

void TMainForm::PortTreeViewChange(QTreeWidgetItem* node)
{
    NodeTag* tag = TTreeNode::TagOf(node);
    if (!tag) {
        // Nothing selected: no options to show, and none a "Set" could act on.
        PortOptionsGroupBox->hide();
        NetOptionsGroupBox->hide();
        return;
    }
    if (CPortObject* port = tag->Port()) {
        SendToNetDelayTimeEdit->setText(QString::number(port->GetSendToNetDelayTime()));
        ReceiveFromNetDelayTimeEdit->setText(QString::number(port->GetReceiveFromNetDelayTime()));
        LogFilenameEdit->setText(QFile::decodeName(port->GetLogFilename().c_str()));
        LogFilenameEdit->end(false);
        LogModeCheckBox->setChecked(port->GetLogMode() != 0);
        // Where applications open the port, or why it cannot be served.
        const std::string reason = port->GetUnavailableReason();
        const QString path = reason.empty()
            ? QFile::decodeName(PortDriver::Instance().LinkPath(port->GetPortNumber()).c_str())
            : QString::fromStdString(reason);
        PortPathLabel->setText(path);
        PortPathLabel->setToolTip(path);
        PortOptionsGroupBox->show();
        NetOptionsGroupBox->hide();
    } else if (CNetObject* link = tag->Link()) {
        for (QWidget* control :
             NetOptionsGroupBox->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            control->hide();
        if (link->Type == TcpClient) {
            {
                // Showing the link's state is no click: nothing to apply or save.
                const QSignalBlocker quiet(AutoReconnectCheckBox);
                AutoReconnectCheckBox->setChecked(link->AutoReconnect);
            }
            ReconnectIntervalTimeEdit->setText(QString::number(link->ReconnectIntervalTime));
            AutoReconnectCheckBox->show();
            ReconnectIntervalTimeLabel->show();
            ReconnectIntervalTimeEdit->show();
            SetReconnectIntervalTimeButton->show();
        }
        PortOptionsGroupBox->hide();
        NetOptionsGroupBox->show();
    }
}

void TMainForm::PortTreeViewCollapsing(QTreeWidgetItem* node)
{
    if (node)
        node->setExpanded(true);
}

// ---------------------------------------------------------------- options panels

bool TMainForm::ReadSetEdit(QLineEdit* edit, const char* message, int32_t& value)
{
    if (ParseEdit(edit, value))
        return true;
    ShowError(QString::fromLatin1(message));
    edit->setText("0");
    edit->setFocus();
    return false;
}

void TMainForm::SetSendToNetDelayTimeButtonClick()
{
    int32_t value = 0;
    if (!ReadSetEdit(SendToNetDelayTimeEdit, "Set send to net delay time failed!", value))
        return;
    NodeTag* tag = TTreeNode::TagOf(SelectedNode());
    if (CPortObject* port = tag ? tag->Port() : nullptr) {
        port->SetSendToNetDelayTime(value);
        SavePortSettings(port);
    }
}

void TMainForm::SetReceiveFromNetDelayTimeButtonClick()
{
    int32_t value = 0;
    if (!ReadSetEdit(ReceiveFromNetDelayTimeEdit, "Set receive from net delay time failed!", value))
        return;
    NodeTag* tag = TTreeNode::TagOf(SelectedNode());
    if (CPortObject* port = tag ? tag->Port() : nullptr) {
        port->SetReceiveFromNetDelayTime(value);
        SavePortSettings(port);
    }
}

void TMainForm::SetReconnectIntervalTimeButtonClick()
{
    int32_t value = 0;
    if (!ReadSetEdit(ReconnectIntervalTimeEdit, "Set reconnect interval time failed!", value))
        return;
    QTreeWidgetItem* node = SelectedNode();
    NodeTag* linkTag = TTreeNode::TagOf(node);
    NodeTag* portTag = node ? TTreeNode::TagOf(node->parent()) : nullptr;
    CNetObject* link = linkTag ? linkTag->Link() : nullptr;
    CPortObject* port = portTag ? portTag->Port() : nullptr;
    if (!link || !port)
        return;
    {
        // The pump reads the interval on its passes.
        CGuard guard(Manager->Lock());
        link->ReconnectIntervalTime = value;
    }
    SavePortSettings(port);
}

void TMainForm::SetLogFileButtonClick()
{
    NodeTag* tag = TTreeNode::TagOf(SelectedNode());
    CPortObject* port = tag ? tag->Port() : nullptr;
    if (!port || !Manager)
        return;
    CGuard guard(Manager->Lock());
    const QByteArray name = QFile::encodeName(LogFilenameEdit->text());
    port->SetLogFile(name.constData());
    port->SetLogMode(LogModeCheckBox->isChecked() ? 1 : 0);
    SavePortSettings(port);
}

void TMainForm::LogFilenButtonClick()
{
    if (SaveDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList files = SaveDialog1->selectedFiles();
    if (files.isEmpty())
        return;
    LogFilenameEdit->setText(files.first());
    LogFilenameEdit->end(false);
}

void TMainForm::AutoReconnectCheckBoxClick()
{
    QTreeWidgetItem* node = SelectedNode();
    NodeTag* linkTag = TTreeNode::TagOf(node);
    NodeTag* portTag = node ? TTreeNode::TagOf(node->parent()) : nullptr;
    CNetObject* link = linkTag ? linkTag->Link() : nullptr;
    CPortObject* port = portTag ? portTag->Port() : nullptr;
    if (!link || !port)
        return;
    {
        CGuard guard(Manager->Lock());
        link->AutoReconnect = AutoReconnectCheckBox->isChecked();
    }
    SavePortSettings(port);
}

void TMainForm::Timer1Timer()
{
    if (!Manager)
        return;
    CGuard guard(Manager->Lock());
    for (int i = 0; i < PortTreeView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* portNode = PortTreeView->topLevelItem(i);
        if (NodeTag* tag = TTreeNode::TagOf(portNode); tag && tag->Port()
            && portNode->text(0) != PortNodeText(tag->Port()))
            portNode->setText(0, PortNodeText(tag->Port()));
        for (int j = 0; j < portNode->childCount(); ++j) {
            QTreeWidgetItem* node = portNode->child(j);
            NodeTag* tag = TTreeNode::TagOf(node);
            CNetObject* link = tag ? tag->Link() : nullptr;
            if (link && link->Changed) {
                UpdateLinkNodeText(node);
                link->Changed = false;
            }
        }
    }
}

// ---------------------------------------------------------------- nodes

QTreeWidgetItem* TMainForm::AddPortNode(CPortObject* port)
{
    if (!port)
        return nullptr;
    auto* node = new TTreeNode(NodeTag{NodeTag::PortNode, port});
    node->setText(0, PortNodeText(port));
    PortTreeView->addTopLevelItem(node);
    if (PortTreeView->topLevelItemCount() == 1)
        PortTreeView->setCurrentItem(node);
    return node;
}

QTreeWidgetItem* TMainForm::AddLinkNode(QTreeWidgetItem* portNode, CNetObject* link)
{
    auto* node = new TTreeNode(NodeTag{NodeTag::LinkNode, link});
    portNode->addChild(node);
    UpdateLinkNodeText(node);
    portNode->setExpanded(true);
    return node;
}

QTreeWidgetItem* TMainForm::AddTcpClientNode(QTreeWidgetItem* portNode, CNetObject* link,
                                             const char* host)
{
    if (!portNode || !link || !host)
        return nullptr;
    return AddLinkNode(portNode, link);
}

QTreeWidgetItem* TMainForm::AddTcpServerNode(QTreeWidgetItem* portNode, CNetObject* link)
{
    if (!portNode || !link)
        return nullptr;
    return AddLinkNode(portNode, link);
}

QTreeWidgetItem* TMainForm::AddUdpNode(QTreeWidgetItem* portNode, CNetObject* link,
                                       const char* host)
{
    if (!portNode || !link || !host)
        return nullptr;
    return AddLinkNode(portNode, link);
}

void TMainForm::UpdateLinkNodeText(QTreeWidgetItem* node)
{
    NodeTag* tag = TTreeNode::TagOf(node);
    CNetObject* link = tag ? tag->Link() : nullptr;
    if (!link || !Manager)
        return;
    // The timer and the configuration hold the lock already; the add path does not.
    CGuard guard(Manager->Lock());
    const QString remote = QString::fromStdString(link->RemoteAddr) + ":" + Unsigned(link->RemotePort);
    // A link loaded while its local port was taken says so in front of its usual text.
    const QString waiting = link->IsListening() ? QString() : QStringLiteral("(Not listening) ");
    switch (link->Type) {
    case TcpClient: {
        static const char* const states[] = {"(Unconnected)", "(Connecting)", "(Connected)"};
        const int32_t state = link->GetLinkState();
        const QString stateText = state >= 0 && state <= 2 ? states[state] : "";
        node->setText(0, stateText + " TCP Client / Remote Addr:Port " + remote);
        break;
    }
    case TcpServer: {
        const QString clients = waiting.isEmpty()
            ? "(" + Unsigned(static_cast<int64_t>(link->Clients.size())) + ") "
            : waiting;
        node->setText(0, clients + "TCP Server / Listen Port " + Unsigned(link->LocalPort));
        break;
    }
    case Udp:
        node->setText(0, waiting + "UDP / Local Port " + Unsigned(link->LocalPort) + ", Remote Addr:Port "
                             + remote);
        break;
    default:
        break;
    }
}

void TMainForm::ForgetMenuNode(QTreeWidgetItem* node)
{
    for (QTreeWidgetItem* at = MenuNode; at; at = at->parent()) {
        if (at == node) {
            MenuNode = nullptr;
            return;
        }
    }
}

void TMainForm::DeleteLinkNode(QTreeWidgetItem* node)
{
    if (!node)
        return;
    ForgetMenuNode(node);
    delete node; // releases its tag
}

void TMainForm::DeletePortNode(QTreeWidgetItem* node)
{
    if (!node)
        return;
    ForgetMenuNode(node);
    delete node; // with its children and all their tags
    if (PortTreeView->topLevelItemCount() == 0) {
        PortOptionsGroupBox->hide();
        NetOptionsGroupBox->hide();
    }
}

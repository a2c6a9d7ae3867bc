// The main window's tree, context menu, options panels and timer, and how the tree
// follows the console model's changes.
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
#include <optional>
#include <vector>

#include "console/NodeTexts.h"
#include "platform/config/WholeNumber.h"
#include "ui/AddPortForm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxSeam.h"
#include "ui/MonitorForm.h"
#include "ui/NodeTag.h"

namespace {

// A link node's port: that of its parent, or null.
CPortObject* ParentPort(QTreeWidgetItem* node)
{
    return node ? TTreeNode::PortOf(node->parent()) : nullptr;
}

// What a numeric edit shows for `value`: the edit's own text when it says the same,
// so that a value as the user typed it (" $20" for 32) stays as typed.
QString NumberText(const QLineEdit* edit, int32_t value)
{
    int32_t shown = 0;
    if (ParseWholeNumber(edit->text().toStdString(), shown) && shown == value)
        return edit->text();
    return QString::number(value);
}

// A link's values as the add dialog takes them.
LinkFields FieldsOf(const ConsoleStatus::Link& link)
{
    LinkFields fields;
    fields.Kind = link.Kind;
    if (link.Kind != NetKind::TcpServer) {
        fields.RemoteAddr = link.RemoteAddr;
        fields.RemotePort = std::to_string(link.RemotePort);
    }
    if (link.Kind != NetKind::TcpClient) {
        fields.LocalPort = std::to_string(static_cast<uint16_t>(link.LocalPort));
        fields.LocalAddr = link.LocalAddr;
    }
    fields.Rfc2217 = link.Rfc2217;
    fields.Allow = link.Allow;
    fields.MaxClients = link.MaxClients != 0 ? std::to_string(link.MaxClients) : std::string();
    fields.Tls = link.Tls;
    return fields;
}

const char* const AppliedProperty = "qlnApplied";

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
    EditNetMenuItem->setEnabled(false);
    MonitorMenuItem->setEnabled(false);

    MenuNode = SelectedNode();
    NodeTag* tag = TTreeNode::TagOf(MenuNode);
    if (!tag)
        return;
    if (tag->Port()) {
        AddNetMenuItem->setEnabled(true);
        RemovePortMenuItem->setEnabled(true);
        MonitorMenuItem->setEnabled(true);
    } else if (CNetObject* link = tag->Link()) {
        RemoveNetMenuItem->setEnabled(true);
        EditNetMenuItem->setEnabled(true);
        ReconnectMenuItem->setEnabled(Model->CanReconnect(ParentPort(MenuNode), link));
    }
}

void TMainForm::AddPortMenuItemClick()
{
    // Refused before the dialog opens while an application holds a port.
    if (!Report(Model->CanAddPort()))
        return;
    TAddPortForm dialog(this, TAddPortForm::Mode::AddPort);
    std::vector<int32_t> own;
    for (int i = 0; i < PortTreeView->topLevelItemCount(); ++i) {
        if (CPortObject* port = TTreeNode::PortOf(PortTreeView->topLevelItem(i)))
            own.push_back(Model->PortNumber(port));
    }
    dialog.MarkOwnPorts(own);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const int number = dialog.AutoAssignCheckBox->isChecked()
        ? 0
        : dialog.PortNumberComboBox->currentIndex() + 1;
    Report(Model->AddPort(number)); // its node comes by PortAdded
}

void TMainForm::AddNetMenuItemClick()
{
    CPortObject* port = TTreeNode::PortOf(MenuNode);
    if (!port)
        return;
    // The model checks the texts as the dialog has; its node comes by LinkAdded.
    RunNetDialog(port, nullptr, "Add Net", nullptr,
                 [&](const LinkFields& fields) { return Model->AddNet(port, fields); });
}

void TMainForm::EditNetMenuItemClick()
{
    CPortObject* port = ParentPort(MenuNode);
    CNetObject* link = TTreeNode::LinkOf(MenuNode);
    const ConsoleStatus status = Model->Status(port);
    const int index = MenuNode && MenuNode->parent() ? MenuNode->parent()->indexOfChild(MenuNode) : -1;
    if (!link || status.Ports.empty() || index < 0 || static_cast<size_t>(index) >= status.Ports[0].Links.size())
        return;
    const LinkFields current = FieldsOf(status.Ports[0].Links[static_cast<size_t>(index)]);
    // The node follows the new link by LinkReplaced.
    RunNetDialog(port, link, "Edit Net", &current,
                 [&](const LinkFields& fields) { return Model->ReplaceNet(port, link, fields); });
}

void TMainForm::RunNetDialog(CPortObject* port, CNetObject* link, const QString& caption, const LinkFields* start,
                             const std::function<ConsoleResult(const LinkFields&)>& apply)
{
    std::optional<LinkFields> typed;
    if (start)
        typed = *start;
    for (;;) {
        TAddPortForm dialog(this, TAddPortForm::Mode::AddNet);
        dialog.setWindowTitle(caption);
        dialog.PortNumberComboBox->setCurrentIndex(Model->PortNumber(port) - 1);
        if (typed)
            dialog.SetLink(*typed);
        if (dialog.exec() != QDialog::Accepted)
            return;
        typed = dialog.Link();
        if (Report(apply(*typed)))
            return;
        // Again with what the user typed, unless what it was for has gone meanwhile.
        const ConsoleStatus status = Model->Status(port);
        if (status.Ports.empty() || (link && !LinkNodeOf(PortNodeOf(port), link)))
            return;
    }
}

void TMainForm::MonitorMenuItemClick()
{
    CPortObject* port = TTreeNode::PortOf(MenuNode);
    if (!port)
        return;
    // A window of its own, deleted when closed; a refusal has been shown.
    auto* monitor = new TMonitorForm(*Model, port, this);
    if (!monitor->IsWatching()) {
        delete monitor;
        return;
    }
    monitor->show();
}

void TMainForm::RemovePortMenuItemClick()
{
    if (!MessageBoxSeam::AskYesNo(this, "Remove the port?", windowTitle()))
        return;
    if (CPortObject* port = TTreeNode::PortOf(MenuNode))
        Report(Model->RemovePort(port)); // its node goes by PortRemoved
}

void TMainForm::RemoveNetMenuItemClick()
{
    if (!MessageBoxSeam::AskYesNo(this, "Remove the net?", windowTitle()))
        return;
    CPortObject* port = ParentPort(MenuNode);
    CNetObject* link = TTreeNode::LinkOf(MenuNode);
    if (port && link)
        Report(Model->RemoveNet(port, link)); // its node goes by LinkRemoved
}

void TMainForm::ReconnectMenuItemClick()
{
    CPortObject* port = ParentPort(MenuNode);
    CNetObject* link = TTreeNode::LinkOf(MenuNode);
    if (port && link)
        Model->Reconnect(port, link);
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
        const ConsoleModel::PortSettings settings = Model->SettingsOf(port);
        ShowApplied(SendToNetDelayTimeEdit, QString::number(settings.SendToNetDelayTime));
        ShowApplied(ReceiveFromNetDelayTimeEdit, QString::number(settings.ReceiveFromNetDelayTime));
        ShowApplied(LogFilenameEdit, QFile::decodeName(settings.LogFilename.c_str()));
        LogFilenameEdit->end(false);
        ShowAppliedLogBoxes(settings);
        ShowPortPlace(port);
        PortOptionsGroupBox->show();
        NetOptionsGroupBox->hide();
    } else if (CNetObject* link = tag->Link()) {
        for (QWidget* control :
             NetOptionsGroupBox->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            control->hide();
        const ConsoleModel::LinkSettings settings = Model->SettingsOf(ParentPort(node), link);
        if (settings.Kind == NetKind::TcpClient) {
            {
                // Showing the link's state is no click: nothing to apply or save.
                const QSignalBlocker quiet(AutoReconnectCheckBox);
                AutoReconnectCheckBox->setChecked(settings.AutoReconnect);
            }
            ShowApplied(ReconnectIntervalTimeEdit, QString::number(settings.ReconnectIntervalTime));
            AutoReconnectCheckBox->show();
            ReconnectIntervalTimeLabel->show();
            ReconnectIntervalTimeEdit->show();
            SetReconnectIntervalTimeButton->show();
        }
        PlaceLinkFigures(settings.Kind == NetKind::TcpClient);
        LinkFiguresLabel->show();
        PortOptionsGroupBox->hide();
        NetOptionsGroupBox->show();
    }
    RefreshFigures();
}

void TMainForm::PortTreeViewCollapsing(QTreeWidgetItem* node)
{
    if (node)
        node->setExpanded(true);
}

// ---------------------------------------------------------------- options panels

bool TMainForm::ReadSetEdit(QLineEdit* edit, ConsoleModel::Setting setting, int32_t& value)
{
    if (Report(ConsoleModel::ReadSetting(setting, edit->text().toStdString(), value)))
        return true;
    edit->setText("0");
    edit->setFocus();
    return false;
}

void TMainForm::SetSendToNetDelayTimeButtonClick()
{
    int32_t value = 0;
    if (ReadSetEdit(SendToNetDelayTimeEdit, ConsoleModel::Setting::SendToNetDelayTime, value))
        Report(Model->SetSendToNetDelayTime(TTreeNode::PortOf(SelectedNode()), value));
}

void TMainForm::SetReceiveFromNetDelayTimeButtonClick()
{
    int32_t value = 0;
    if (ReadSetEdit(ReceiveFromNetDelayTimeEdit, ConsoleModel::Setting::ReceiveFromNetDelayTime, value))
        Report(Model->SetReceiveFromNetDelayTime(TTreeNode::PortOf(SelectedNode()), value));
}

void TMainForm::SetReconnectIntervalTimeButtonClick()
{
    int32_t value = 0;
    if (!ReadSetEdit(ReconnectIntervalTimeEdit, ConsoleModel::Setting::ReconnectIntervalTime, value))
        return;
    QTreeWidgetItem* node = SelectedNode();
    Report(Model->SetReconnectIntervalTime(ParentPort(node), TTreeNode::LinkOf(node), value));
}

void TMainForm::SetLogFileButtonClick()
{
    const QByteArray name = QFile::encodeName(LogFilenameEdit->text());
    // The model's checks, as for quillonctl: a name that cannot be a path is refused;
    // one whose file cannot be opened now is kept (it may be later, and the log
    // tries at each record), and the user learns why nothing will be logged.
    Report(Model->SetLog(TTreeNode::PortOf(SelectedNode()), name.toStdString(), LogModeCheckBox->isChecked() ? 1 : 0,
                         LogTimestampsCheckBox->isChecked()));
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
    MarkUnapplied(LogFilenameEdit); // chosen, not applied until "Set"
}

void TMainForm::AutoReconnectCheckBoxClick()
{
    QTreeWidgetItem* node = SelectedNode();
    Report(Model->SetAutoReconnect(ParentPort(node), TTreeNode::LinkOf(node), AutoReconnectCheckBox->isChecked()));
}

void TMainForm::Timer1Timer()
{
    if (!GetManager())
        return;
    for (int i = 0; i < PortTreeView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* portNode = PortTreeView->topLevelItem(i);
        CPortObject* port = TTreeNode::PortOf(portNode);
        if (!port)
            continue;
        const QString text = QString::fromStdString(Model->PortText(port));
        if (!text.isEmpty() && portNode->text(0) != text) {
            portNode->setText(0, text);
            FitTreeColumn();
        }
        for (auto& [link, linkText] : Model->ChangedLinkTexts(port))
            PendingTexts[link] = std::move(linkText);
    }
    ShowPendingTexts();
    RefreshFigures();
}

// Only the rows in view are drawn anew; the others keep their new text until they
// scroll into view. A tick then costs the links that changed and the rows in view,
// however many links a port has.
void TMainForm::ShowPendingTexts()
{
    if (PendingTexts.empty())
        return;
    const int bottom = PortTreeView->viewport()->height();
    bool drawn = false;
    for (QTreeWidgetItem* node = PortTreeView->itemAt(0, 0); node; node = PortTreeView->itemBelow(node)) {
        if (PortTreeView->visualItemRect(node).top() > bottom)
            break;
        const auto waiting = PendingTexts.find(TTreeNode::LinkOf(node));
        if (waiting == PendingTexts.end())
            continue;
        const QString text = QString::fromStdString(waiting->second);
        PendingTexts.erase(waiting);
        if (node->text(0) != text) {
            node->setText(0, text);
            drawn = true;
        }
    }
    if (drawn)
        FitTreeColumn();
}

// ---------------------------------------------------------------- model changes

void TMainForm::PortAdded(CPortObject* port)
{
    AddPortNode(port);
}

void TMainForm::PortRemoved(CPortObject* port)
{
    DeletePortNode(PortNodeOf(port));
}

void TMainForm::LinkAdded(CPortObject* port, CNetObject* link)
{
    // The kind and the host are fixed when the link is made; the pump never changes them.
    QTreeWidgetItem* portNode = PortNodeOf(port);
    const ConsoleModel::LinkSettings settings = Model->SettingsOf(port, link);
    switch (settings.Kind) {
    case NetKind::TcpClient:
        AddTcpClientNode(portNode, link, settings.RemoteAddr.c_str());
        break;
    case NetKind::TcpServer:
        AddTcpServerNode(portNode, link);
        break;
    case NetKind::Udp:
        AddUdpNode(portNode, link, settings.RemoteAddr.c_str());
        break;
    }
}

void TMainForm::LinkRemoved(CPortObject* port, CNetObject* link)
{
    DeleteLinkNode(LinkNodeOf(PortNodeOf(port), link));
}

// Only the options panel of the selected node shows options, and only the one that
// changed is shown again: an edit the user has not applied yet keeps its text.
void TMainForm::OptionChanged(CPortObject* port, CNetObject* link, Option option)
{
    NodeTag* tag = TTreeNode::TagOf(SelectedNode());
    if (!tag || tag->Object != (link ? static_cast<void*>(link) : static_cast<void*>(port)))
        return;
    const ConsoleModel::PortSettings settings = Model->SettingsOf(port);
    const ConsoleModel::LinkSettings linkSettings = link ? Model->SettingsOf(port, link) : ConsoleModel::LinkSettings {};
    switch (option) {
    case Option::SendToNetDelayTime:
        ShowApplied(SendToNetDelayTimeEdit, NumberText(SendToNetDelayTimeEdit, settings.SendToNetDelayTime));
        break;
    case Option::ReceiveFromNetDelayTime:
        ShowApplied(ReceiveFromNetDelayTimeEdit, NumberText(ReceiveFromNetDelayTimeEdit, settings.ReceiveFromNetDelayTime));
        break;
    case Option::Log: {
        const QString name = QFile::decodeName(settings.LogFilename.c_str());
        if (LogFilenameEdit->text() != name) {
            LogFilenameEdit->setText(name);
            LogFilenameEdit->end(false);
        }
        ShowApplied(LogFilenameEdit, name);
        ShowAppliedLogBoxes(settings);
        break;
    }
    case Option::AutoReconnect: {
        const QSignalBlocker quiet(AutoReconnectCheckBox);
        AutoReconnectCheckBox->setChecked(linkSettings.AutoReconnect);
        break;
    }
    case Option::ReconnectIntervalTime:
        ShowApplied(ReconnectIntervalTimeEdit, NumberText(ReconnectIntervalTimeEdit, linkSettings.ReconnectIntervalTime));
        break;
    }
}

void TMainForm::LinkReplaced(CPortObject* port, CNetObject* old, CNetObject* fresh)
{
    QTreeWidgetItem* node = LinkNodeOf(PortNodeOf(port), old);
    NodeTag* tag = TTreeNode::TagOf(node);
    if (!tag)
        return;
    tag->Object = fresh;
    UpdateLinkNodeText(node);
    if (node == SelectedNode())
        PortTreeViewChange(node);
}

void TMainForm::LinksReordered(CPortObject* port)
{
    QTreeWidgetItem* portNode = PortNodeOf(port);
    if (!portNode)
        return;
    QTreeWidgetItem* selected = SelectedNode();
    // The nodes follow the model's order; a node the model does not know stays last.
    const QList<QTreeWidgetItem*> nodes = portNode->takeChildren();
    std::vector<QTreeWidgetItem*> ordered;
    for (size_t i = 0; CNetObject* link = Model->FindLink(port, i); ++i) {
        for (QTreeWidgetItem* node : nodes) {
            if (TTreeNode::LinkOf(node) == link)
                ordered.push_back(node);
        }
    }
    for (QTreeWidgetItem* node : nodes) {
        if (std::find(ordered.begin(), ordered.end(), node) == ordered.end())
            ordered.push_back(node);
    }
    for (QTreeWidgetItem* node : ordered)
        portNode->addChild(node);
    portNode->setExpanded(true);
    if (selected && selected->parent() == portNode)
        PortTreeView->setCurrentItem(selected);
}

// The file's MinimizeWhenRun, read anew; the box's handler finds the file agreeing.
void TMainForm::ConsoleOptionsReloaded()
{
    MinimizeWhenRunCheckBox->setChecked(Model->MinimizeWhenRun());
}

void TMainForm::ShowAppliedLogBoxes(const ConsoleModel::PortSettings& settings)
{
    LogModeCheckBox->setChecked(settings.LogMode != 0);
    LogTimestampsCheckBox->setChecked(settings.LogTimestamps);
    for (QCheckBox* box : {LogModeCheckBox, LogTimestampsCheckBox}) {
        box->setProperty(AppliedProperty, box->isChecked());
        MarkUnapplied(box);
    }
}

void TMainForm::ShowApplied(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text)
        edit->setText(text);
    edit->setProperty(AppliedProperty, text);
    MarkUnapplied(edit);
}

void TMainForm::MarkUnapplied(QWidget* field)
{
    bool unapplied = false;
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        unapplied = edit->text() != edit->property(AppliedProperty).toString();
    else if (auto* box = qobject_cast<QCheckBox*>(field))
        unapplied = box->isChecked() != box->property(AppliedProperty).toBool();
    QFont font = field->font();
    if (font.italic() != unapplied) {
        font.setItalic(unapplied);
        field->setFont(font);
    }
}

// ---------------------------------------------------------------- nodes

QTreeWidgetItem* TMainForm::PortNodeOf(CPortObject* port) const
{
    for (int i = 0; port && i < PortTreeView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = PortTreeView->topLevelItem(i);
        if (NodeTag* tag = TTreeNode::TagOf(node); tag && tag->Object == port)
            return node;
    }
    return nullptr;
}

QTreeWidgetItem* TMainForm::LinkNodeOf(QTreeWidgetItem* portNode, CNetObject* link)
{
    for (int i = 0; portNode && link && i < portNode->childCount(); ++i) {
        QTreeWidgetItem* node = portNode->child(i);
        if (NodeTag* tag = TTreeNode::TagOf(node); tag && tag->Object == link)
            return node;
    }
    return nullptr;
}

QTreeWidgetItem* TMainForm::AddPortNode(CPortObject* port)
{
    if (!port)
        return nullptr;
    auto* node = new TTreeNode(NodeTag{NodeTag::Kind::Port, port});
    node->setText(0, QString::fromStdString(Model->PortText(port)));
    PortTreeView->addTopLevelItem(node);
    if (PortTreeView->topLevelItemCount() == 1)
        PortTreeView->setCurrentItem(node);
    UpdateEmptyTreeHint();
    UpdateTrayToolTip();
    return node;
}

QTreeWidgetItem* TMainForm::AddLinkNode(QTreeWidgetItem* portNode, CNetObject* link)
{
    auto* node = new TTreeNode(NodeTag{NodeTag::Kind::Link, link});
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
    const std::string text = Model ? Model->ChangedLinkText(ParentPort(node), TTreeNode::LinkOf(node), true) : "";
    if (text.empty())
        return; // a kind the console does not know keeps its text
    PendingTexts.erase(TTreeNode::LinkOf(node));
    node->setText(0, QString::fromStdString(text));
    FitTreeColumn();
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
    PendingTexts.erase(TTreeNode::LinkOf(node));
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
    UpdateEmptyTreeHint();
    UpdateTrayToolTip();
}

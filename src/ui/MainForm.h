#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include <QWidget>

#include "console/ConsoleModel.h"
#include "console/ConsoleObserver.h"

class QAction;
class QCheckBox;
class QCloseEvent;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class CNetObject;
class CPortObject;

// The console's only window: the tree of ports and links, its context menu, the
// options panels below it, the 200 ms refresh timer and the tray icon. It owns the
// console model (which owns the port manager and the configuration) and the node
// tags. What a command does is the model's; the window asks, shows the model's
// messages, and keeps its tree by the model's observer calls, so a change that
// another caller of the model makes shows at once too.
//
// Window thread only. The pump thread never touches the window; the window reads
// what the pump changed under the manager's lock (timer).
class TMainForm : public QWidget, private ConsoleObserver {
    Q_OBJECT

public:
    // Makes the port manager; the window passes itself as the manager's window.
    using ManagerMaker = std::function<std::unique_ptr<CQLNManager>(TMainForm& form)>;
    // Starts the manager made by the maker: 1 started, 0 failed.
    using ManagerStarter = ConsoleModel::ManagerStarter;

    // The console: a manager on ExecutableFolder() + "Quillon.inf", started on the
    // installed devices.
    explicit TMainForm(QWidget* parent = nullptr);
    // The same start-up with another manager or start (tests start on given ports).
    TMainForm(const ManagerMaker& make, const ManagerStarter& start, QWidget* parent = nullptr);
    // Stops the timer and destroys the manager if the close has not done so.
    ~TMainForm() override;

    // Whether the manager started and the console runs; false after
    // "Initialize failed!" and after a close that went through.
    bool IsRunning() const { return Model && Model->IsRunning(); }
    CQLNManager* GetManager() const { return Model ? Model->Manager() : nullptr; }
    // What the window drives; null only during construction.
    ConsoleModel* GetModel() const { return Model.get(); }

    // The close handler: `action` true lets the window close, set false refuses.
    void FormClose(bool& action);

    // Node operations.
    QTreeWidgetItem* AddPortNode(CPortObject* port);
    QTreeWidgetItem* AddTcpClientNode(QTreeWidgetItem* portNode, CNetObject* link, const char* host);
    QTreeWidgetItem* AddTcpServerNode(QTreeWidgetItem* portNode, CNetObject* link);
    QTreeWidgetItem* AddUdpNode(QTreeWidgetItem* portNode, CNetObject* link, const char* host);
    void UpdateLinkNodeText(QTreeWidgetItem* node);
    void DeleteLinkNode(QTreeWidgetItem* node);
    void DeletePortNode(QTreeWidgetItem* node);

    // Event handlers.
    void PopupMenu1Popup();
    void AddPortMenuItemClick();
    void RemovePortMenuItemClick();
    void AddNetMenuItemClick();
    void RemoveNetMenuItemClick();
    void ReconnectMenuItemClick();
    // "Edit Net...": the add dialog filled with the link's values; OK puts the new
    // link in the old one's place (ConsoleModel::ReplaceNet).
    void EditNetMenuItemClick();
    // "Monitor...": the port's live traffic in a window of its own (TMonitorForm).
    void MonitorMenuItemClick();
    void PortTreeViewChange(QTreeWidgetItem* node);
    void PortTreeViewCollapsing(QTreeWidgetItem* node);
    void SetSendToNetDelayTimeButtonClick();
    void SetReceiveFromNetDelayTimeButtonClick();
    void SetReconnectIntervalTimeButtonClick();
    void SetLogFileButtonClick();
    void LogFilenButtonClick();
    void AutoReconnectCheckBoxClick();
    void Timer1Timer();
    void TrayIcon1Restore();
    // The tray menu's "Exit": the window's close, with its question; once the console
    // is done, the application's event loop ends.
    void TrayExitItemClick();
    // Puts the selected port's COM<n> path (or why it cannot be served) on the clipboard.
    void CopyPathButtonClick();
    // The live figures of the selected port or link (each timer tick).
    void RefreshFigures();

    // Configuration: the model's, asked from here.
    void LoadSettings();
    void SavePortSettings(CPortObject* port);
    void ErasePortSettings(int32_t number);
    void MinimizeWhenRunCheckBoxClick();
    void AutoRunWhenLoginCheckBoxClick();

    // The tree's selected node, or null.
    QTreeWidgetItem* SelectedNode() const;

    // Controls, named as the handlers and the tests know them; owned by the window.
    QWidget* TopPanel;
    QLabel* Label1;
    QLabel* OSVersionLabel;
    QTreeWidget* PortTreeView;
    QWidget* BottomPanel;
    QGroupBox* ConsoleOptionsGroupBox;
    QCheckBox* AutoRunWhenLoginCheckBox;
    QCheckBox* MinimizeWhenRunCheckBox;
    QGroupBox* PortOptionsGroupBox;
    QLabel* Label2;
    QLineEdit* SendToNetDelayTimeEdit;
    QPushButton* SetSendToNetDelayTimeButton;
    QLabel* Label3;
    QLineEdit* ReceiveFromNetDelayTimeEdit;
    QPushButton* SetReceiveFromNetDelayTimeButton;
    QPushButton* LogFilenButton;
    QLineEdit* LogFilenameEdit;
    QCheckBox* LogModeCheckBox;
    QCheckBox* LogTimestampsCheckBox; // "Time": each record with its time, link and peer
    QPushButton* SetLogFileButton;
    QLabel* PortPathLabel; // the port's COM<n> link that applications open; read-only
    QPushButton* CopyPathButton;
    QLabel* PortTrafficLabel; // live figures: whether an application holds the port, bytes each way
    QLabel* PortFiguresLabel; // live figures: bytes waiting each way, datagrams dropped
    QGroupBox* NetOptionsGroupBox;
    QCheckBox* AutoReconnectCheckBox;
    QLabel* ReconnectIntervalTimeLabel;
    QLineEdit* ReconnectIntervalTimeEdit;
    QPushButton* SetReconnectIntervalTimeButton;
    QLabel* LinkFiguresLabel;
    QMenu* PopupMenu1;
    QAction* AddPortMenuItem;
    QAction* RemovePortMenuItem;
    QAction* AddNetMenuItem;
    QAction* RemoveNetMenuItem;
    QAction* ReconnectMenuItem;
    QAction* EditNetMenuItem;
    QAction* MonitorMenuItem;
    QTimer* Timer1;
    QSystemTrayIcon* TrayIcon1;
    QMenu* TrayMenu;
    QAction* TrayShowItem;
    QAction* TrayExitItem;
    QLabel* EmptyTreeHint; // grey, over the empty tree: where to begin
    QFileDialog* SaveDialog1;

    // The node that was selected when the context menu last opened; the menu
    // commands act on it. Null when none, and after its node is deleted.
    QTreeWidgetItem* MenuNode = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Minimizing hides the window behind the tray icon where a tray exists.
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Runs the refresh while the window can be seen, and stops it otherwise.
    void FollowVisibility();
    // The figures' context menu: Copy, with every line whole.
    void OfferCopy(QLabel* label);
    // Fits the tree's column to the rows in view, once the current event is handled.
    void FitTreeColumn();
    bool FitDue = false;
    // Link nodes' texts that changed while their rows were out of view.
    void ShowPendingTexts();
    std::unordered_map<CNetObject*, std::string> PendingTexts;
    // Ctrl+C on a port node copies the port's path, not the node's text.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    void BuildPortOptions();
    void BuildNetOptions();
    void BuildMenu();
    void ConnectHandlers();
    void Construct(const ManagerMaker& make, const ManagerStarter& start);
    // Reads `edit` as a whole number; on failure shows the setting's message, sets
    // the edit to "0", focuses it and returns false.
    bool ReadSetEdit(QLineEdit* edit, ConsoleModel::Setting setting, int32_t& value);
    QTreeWidgetItem* AddLinkNode(QTreeWidgetItem* portNode, CNetObject* link);
    // Clears MenuNode when it is `node` or one of its children.
    void ForgetMenuNode(QTreeWidgetItem* node);
    // The node of the port, or of the link below `portNode`; null when there is none.
    QTreeWidgetItem* PortNodeOf(CPortObject* port) const;
    static QTreeWidgetItem* LinkNodeOf(QTreeWidgetItem* portNode, CNetObject* link);
    void ShowError(const QString& text);
    // Shows the message of a refusal, its reason on a second line (nothing for a
    // quiet one); true when it was done.
    bool Report(const ConsoleResult& result);
    // The add dialog in add-net mode for `port`, started from `start` when given,
    // until `apply` takes what the user typed or the user cancels. A refusal is
    // shown and the dialog opens again with the user's texts while the port (and
    // `link`, when given) is still there.
    void RunNetDialog(CPortObject* port, CNetObject* link, const QString& caption, const LinkFields* start,
                      const std::function<ConsoleResult(const LinkFields&)>& apply);
    // The port's place (path or reason) in PortPathLabel: elided in the middle only
    // when it does not fit, whole in the tooltip.
    void ShowPortPlace(CPortObject* port);
    void UpdateTrayToolTip();
    void UpdateEmptyTreeHint();
    // The options edits show what is applied; a text typed over it shows in italics
    // until it is applied or another node is selected.
    void ShowApplied(QLineEdit* edit, const QString& text);
    // The log's two boxes as `settings` has them, applied.
    void ShowAppliedLogBoxes(const ConsoleModel::PortSettings& settings);
    void MarkUnapplied(QWidget* field);
    // Places the live figures of a link below the options of its kind.
    void PlaceLinkFigures(bool belowClientOptions);

    // The model's changes, whoever made them (MainFormHandlers.cpp).
    void PortAdded(CPortObject* port) override;
    void PortRemoved(CPortObject* port) override;
    void LinkAdded(CPortObject* port, CNetObject* link) override;
    void LinkRemoved(CPortObject* port, CNetObject* link) override;
    void OptionChanged(CPortObject* port, CNetObject* link, Option option) override;
    void LinkReplaced(CPortObject* port, CNetObject* old, CNetObject* fresh) override;
    void LinksReordered(CPortObject* port) override;
    void ConsoleOptionsReloaded() override;

    std::unique_ptr<ConsoleModel> Model;
    QString PortPlace; // the whole text PortPathLabel shows for the selected port
};

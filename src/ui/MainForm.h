#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include <QWidget>

#include "ports/QLNManager.h"

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

// The autorun entry and the configuration file object. Their definitions and every
// use of them belong to the configuration code (MainFormSettings.cpp).
struct TAutorunKey;
struct TConfigFile;
struct TSettingsDeleter {
    void operator()(TAutorunKey* key) const;
    void operator()(TConfigFile* file) const;
};

// The console's only window: the tree of ports and links, its context menu, the
// options panels below it, the 200 ms refresh timer and the tray icon. It owns the
// port manager, the autorun entry, the configuration file object and the node tags.
//
// Window thread only. The pump thread never touches the window; the window reads
// what the pump changed under the manager's lock (timer, configuration).
class TMainForm : public QWidget {
    Q_OBJECT

public:
    // Makes the port manager; the window passes itself as the manager's window.
    using ManagerMaker = std::function<std::unique_ptr<CQLNManager>(TMainForm& form)>;
    // Starts the manager made by the maker: 1 started, 0 failed.
    using ManagerStarter = std::function<int(CQLNManager& manager)>;

    // The console: a manager on ExecutableFolder() + "Quillon.inf", started on the
    // installed devices.
    explicit TMainForm(QWidget* parent = nullptr);
    // The same start-up with another manager or start (tests start on given ports).
    TMainForm(const ManagerMaker& make, const ManagerStarter& start, QWidget* parent = nullptr);
    // Stops the timer and destroys the manager if the close has not done so.
    ~TMainForm() override;

    // Whether the manager started and the console runs; false after
    // "Initialize failed!" and after a close that went through.
    bool IsRunning() const { return Manager != nullptr && Started; }
    CQLNManager* GetManager() const { return Manager.get(); }

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

    // Configuration (MainFormSettings.cpp).
    void LoadSettings();
    void SavePortSettings(CPortObject* port);
    void ErasePortSettings(int32_t number);
    void MinimizeWhenRunCheckBoxClick();
    void AutoRunWhenLoginCheckBoxClick();

    // The tree's selected node, or null.
    QTreeWidgetItem* SelectedNode() const;

    // Controls, named as in the design; owned by the window.
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
    QPushButton* SetLogFileButton;
    QLabel* PortPathLabel; // the port's COM<n> link that applications open; read-only
    QGroupBox* NetOptionsGroupBox;
    QCheckBox* AutoReconnectCheckBox;
    QLabel* ReconnectIntervalTimeLabel;
    QLineEdit* ReconnectIntervalTimeEdit;
    QPushButton* SetReconnectIntervalTimeButton;
    QMenu* PopupMenu1;
    QAction* AddPortMenuItem;
    QAction* RemovePortMenuItem;
    QAction* AddNetMenuItem;
    QAction* RemoveNetMenuItem;
    QAction* ReconnectMenuItem;
    QTimer* Timer1;
    QSystemTrayIcon* TrayIcon1;
    QFileDialog* SaveDialog1;

    // The node that was selected when the context menu last opened; the menu
    // commands act on it. Null when none, and after its node is deleted.
    QTreeWidgetItem* MenuNode = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Minimizing hides the window behind the tray icon where a tray exists.
    void changeEvent(QEvent* event) override;

private:
    void BuildForm();
    void BuildPortOptions();
    void BuildNetOptions();
    void BuildMenu();
    void ConnectHandlers();
    void Construct(const ManagerMaker& make, const ManagerStarter& start);
    void OpenSettings();
    bool AutorunValueExists();
    bool MinimizeWhenRunStored();
    // Reads `edit` as a whole number; on failure shows `message`, sets the edit to
    // "0", focuses it and returns false.
    bool ReadSetEdit(QLineEdit* edit, const char* message, int32_t& value);
    QTreeWidgetItem* AddLinkNode(QTreeWidgetItem* portNode, CNetObject* link);
    // Clears MenuNode when it is `node` or one of its children.
    void ForgetMenuNode(QTreeWidgetItem* node);
    void ShowError(const QString& text);

    std::unique_ptr<CQLNManager> Manager;
    bool Started = false;
    std::unique_ptr<TAutorunKey, TSettingsDeleter> AutorunKey;
    std::unique_ptr<TConfigFile, TSettingsDeleter> ConfigFile;
};

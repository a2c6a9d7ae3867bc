// The main window's form, its start-up and its close, and the configuration members
// it asks the console model for. The handlers of the tree, the menu and the options
// panels are in MainFormHandlers.cpp.
#include "ui/MainForm.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>

#include "console/ConfigLocation.h"
#include "console/NodeTexts.h"
#include "ports/DeviceMessage.h"
#include "ui/MessageBoxSeam.h"
#include "ui/NodeTag.h"

namespace {

QFont FormFont()
{
    QFont font("MS Sans Serif");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

// The console's icon for the window and the tray: a blue tile with a white Q.
QIcon ConsoleIcon()
{
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0x1f, 0x4e, 0xa8));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        QFont font;
        font.setBold(true);
        font.setPixelSize(size * 3 / 4);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, "Q");
        icon.addPixmap(pixmap);
    }
    return icon;
}

template <class W>
W* Place(QWidget* parent, int left, int top, int width, int height, const QString& text = QString())
{
    auto* w = new W(parent);
    w->setGeometry(left, top, width, height);
    if constexpr (std::is_same_v<W, QGroupBox>)
        w->setTitle(text);
    else if constexpr (!std::is_same_v<W, QWidget> && !std::is_same_v<W, QTreeWidget>)
        w->setText(text);
    return w;
}

// The device code's own message ("Require reboot!"), shown like the window's; the
// owner is the window handle the manager was made with: the main window.
void ShowDeviceMessageBox(void* owner, const char* text, const char* caption)
{
    MessageBoxSeam::Show(static_cast<TMainForm*>(owner), QString::fromUtf8(text),
                         QString::fromUtf8(caption), QMessageBox::Ok, QMessageBox::Warning,
                         QMessageBox::Ok);
}

} // namespace

TMainForm::TMainForm(QWidget* parent)
    : TMainForm(
        [](TMainForm& form) { return ConsoleModel::InstalledManager(static_cast<WindowHandle>(&form))(); },
        ManagerStarter(), parent)
{
}

TMainForm::TMainForm(const ManagerMaker& make, const ManagerStarter& start, QWidget* parent)
    : QWidget(parent)
{
    Construct(make, start);
}

TMainForm::~TMainForm()
{
    // The tree goes with the widget; its signals must not reach a half-destroyed window.
    PortTreeView->blockSignals(true);
    Timer1->stop();
    if (Model) {
        Model->RemoveObserver(this);
        Model.reset();
    }
    ShowDeviceMessage = PrintDeviceMessage;
}

void TMainForm::Construct(const ManagerMaker& make, const ManagerStarter& start)
{
    BuildForm();
    OSVersionLabel->setText("For Linux");
    ShowDeviceMessage = ShowDeviceMessageBox;
    Model = std::make_unique<ConsoleModel>(
        [&]() -> std::unique_ptr<CQLNManager> { return make ? make(*this) : nullptr; },
        ConfigLocation::Path());
    Model->AddObserver(this);
    MenuNode = nullptr;

    if (!Report(Model->Start(start))) {
        // Nothing else runs: no settings, no tray icon, no timer, no window. The
        // caller sees IsRunning() false and ends the program after the message.
        return;
    }

    // Both options groups live right of the console options, hidden until a node is
    // selected.
    for (QGroupBox* group : {PortOptionsGroupBox, NetOptionsGroupBox}) {
        group->setParent(BottomPanel);
        group->setGeometry(302, 0, 292, 100); // clear of the window's edges
        group->hide();
    }

    LoadSettings();

    UpdateTrayToolTip();
    TrayIcon1->show();
    // The refresh runs while the window is shown (showEvent, hideEvent): a console
    // kept in the tray wakes for nothing.
    FollowVisibility();

    AutoRunWhenLoginCheckBox->setChecked(Model->AutorunEntryExists());
    MinimizeWhenRunCheckBox->setChecked(Model->MinimizeWhenRun());
    if (!MinimizeWhenRunCheckBox->isChecked())
        show();
    else if (!QSystemTrayIcon::isSystemTrayAvailable())
        showMinimized(); // no tray to stand for the window: keep it reachable
}

void TMainForm::BuildForm()
{
    setWindowTitle("Quillon Console");
    setWindowIcon(ConsoleIcon());
    setFont(FormFont());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(600, 400);
    if (QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());

    TopPanel = Place<QWidget>(this, 0, 0, 600, 76);
    Label1 = Place<QLabel>(TopPanel, 121, 18, 358, 37, "Quillon Console");
    {
        QFont font = FormFont();
        font.setPixelSize(32);
        Label1->setFont(font);
        Label1->setStyleSheet("color: blue;");
        Label1->setAlignment(Qt::AlignCenter);
    }
    OSVersionLabel = Place<QLabel>(TopPanel, 500, 52, 85, 16);
    {
        QFont font = FormFont();
        font.setPixelSize(13);
        OSVersionLabel->setFont(font);
        OSVersionLabel->setStyleSheet("color: navy;");
        OSVersionLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }

    PortTreeView = Place<QTreeWidget>(this, 0, 76, 600, 220);
    {
        QFont font("Courier New");
        font.setStyleHint(QFont::TypeWriter);
        font.setPixelSize(12);
        PortTreeView->setFont(font);
        PortTreeView->setHeaderHidden(true);
        PortTreeView->setColumnCount(1);
        PortTreeView->setIndentation(35);
        PortTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
        PortTreeView->setSelectionMode(QAbstractItemView::SingleSelection);
        PortTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
        // Port nodes stay open: neither the mouse nor the keyboard may close them.
        PortTreeView->setItemsExpandable(false);
        PortTreeView->setExpandsOnDoubleClick(false);
        PortTreeView->header()->setStretchLastSection(false);
        // Every row is one line of the same font, and the column is fitted to the
        // rows in view once per change of the tree or refresh (FitTreeColumn), not
        // at every changed text: a port may have thousands of links.
        PortTreeView->setUniformRowHeights(true);
        PortTreeView->header()->setResizeContentsPrecision(0);
        connect(PortTreeView->model(), &QAbstractItemModel::rowsInserted, this, [this] { FitTreeColumn(); });
        connect(PortTreeView->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
            ShowPendingTexts();
            FitTreeColumn();
        });
        PortTreeView->installEventFilter(this);
    }
    // Everything starts from the tree's context menu, which an empty white tree does
    // not suggest. The hint lets every click through to the tree.
    EmptyTreeHint = Place<QLabel>(PortTreeView, 2, 2, 596, 216, "Right-click to add a port");
    EmptyTreeHint->setAlignment(Qt::AlignCenter);
    EmptyTreeHint->setStyleSheet("color: gray;");
    EmptyTreeHint->setAttribute(Qt::WA_TransparentForMouseEvents);

    BottomPanel = Place<QWidget>(this, 0, 296, 600, 104);
    ConsoleOptionsGroupBox = Place<QGroupBox>(BottomPanel, 6, 0, 290, 100, "Console Options");
    AutoRunWhenLoginCheckBox =
        Place<QCheckBox>(ConsoleOptionsGroupBox, 16, 24, 160, 17, "Auto run when login");
    MinimizeWhenRunCheckBox =
        Place<QCheckBox>(ConsoleOptionsGroupBox, 16, 48, 160, 17, "Minimize when run");

    BuildPortOptions();
    BuildNetOptions();
    BuildMenu();

    Timer1 = new QTimer(this);
    Timer1->setInterval(200);
    TrayIcon1 = new QSystemTrayIcon(windowIcon(), this);
    TrayMenu = new QMenu(this);
    TrayShowItem = TrayMenu->addAction("Show");
    TrayExitItem = TrayMenu->addAction("Exit");
    TrayIcon1->setContextMenu(TrayMenu);
    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    // The log only ever appends: choosing an existing file replaces nothing.
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);

    ConnectHandlers();
}

// The options panels keep their original rows, closer together to leave room for
// the port's path and the live figures; the columns are moved right where the
// fallback font (wider than the one the layout was drawn for) would clip a caption.
namespace {

QFont SmallFont(int pixels)
{
    QFont font = FormFont();
    font.setPixelSize(pixels);
    return font;
}

} // namespace

void TMainForm::BuildPortOptions()
{
    // Built on the form, hidden; the start-up moves it into the bottom panel.
    PortOptionsGroupBox = Place<QGroupBox>(this, 302, 296, 292, 100, "Port Options");
    PortOptionsGroupBox->hide();
    QGroupBox* box = PortOptionsGroupBox;
    Label2 = Place<QLabel>(box, 12, 19, 186, 17, "Send to net delay time (ms)");
    SendToNetDelayTimeEdit = Place<QLineEdit>(box, 200, 18, 41, 18, "0");
    SetSendToNetDelayTimeButton = Place<QPushButton>(box, 246, 19, 41, 17, "Set");
    Label3 = Place<QLabel>(box, 12, 38, 186, 17, "Receive from net delay time (ms)");
    ReceiveFromNetDelayTimeEdit = Place<QLineEdit>(box, 200, 37, 41, 18, "0");
    SetReceiveFromNetDelayTimeButton = Place<QPushButton>(box, 246, 38, 41, 17, "Set");
    LogFilenButton = Place<QPushButton>(box, 12, 57, 65, 17, "Log File...");
    LogFilenameEdit = Place<QLineEdit>(box, 84, 56, 57, 18);
    LogModeCheckBox = Place<QCheckBox>(box, 144, 57, 48, 17, "ASC");
    LogTimestampsCheckBox = Place<QCheckBox>(box, 193, 57, 52, 17, "Time");
    LogTimestampsCheckBox->setToolTip("Each record with its time, and the link and peer of its bytes");
    SetLogFileButton = Place<QPushButton>(box, 246, 57, 41, 17, "Set");

    // The application side of the port: the link applications open, with a button
    // that copies it.
    PortPathLabel = Place<QLabel>(box, 12, 76, 238, 11);
    PortPathLabel->setFont(SmallFont(9));
    PortPathLabel->setStyleSheet("color: gray;");
    PortPathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PortPathLabel->setFocusPolicy(Qt::NoFocus);
    CopyPathButton = Place<QPushButton>(box, 254, 75, 33, 13, "Copy");
    CopyPathButton->setFont(SmallFont(9));
    CopyPathButton->setFocusPolicy(Qt::NoFocus);
    // The live figures: the application's side beside the caption, what waits below.
    PortTrafficLabel = Place<QLabel>(box, 92, 0, 195, 14);
    PortTrafficLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    PortFiguresLabel = Place<QLabel>(box, 12, 87, 275, 13);
    OfferCopy(PortTrafficLabel);
    OfferCopy(PortFiguresLabel);

    QWidget* order[] = {SendToNetDelayTimeEdit, SetSendToNetDelayTimeButton,
                        ReceiveFromNetDelayTimeEdit, SetReceiveFromNetDelayTimeButton,
                        LogFilenButton, LogFilenameEdit, LogModeCheckBox, LogTimestampsCheckBox,
                        SetLogFileButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TMainForm::BuildNetOptions()
{
    NetOptionsGroupBox = Place<QGroupBox>(this, 302, 296, 292, 100, "Net Options");
    NetOptionsGroupBox->hide();
    QGroupBox* box = NetOptionsGroupBox;
    AutoReconnectCheckBox = Place<QCheckBox>(box, 16, 19, 120, 17, "Auto reconnect");
    ReconnectIntervalTimeLabel = Place<QLabel>(box, 16, 38, 166, 17, "Reconnect interval time (ms)");
    ReconnectIntervalTimeEdit = Place<QLineEdit>(box, 184, 37, 41, 18, "0");
    SetReconnectIntervalTimeButton = Place<QPushButton>(box, 232, 38, 41, 17, "Set");
    LinkFiguresLabel = Place<QLabel>(box, 16, 19, 268, 78);
    LinkFiguresLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    OfferCopy(LinkFiguresLabel);
}

void TMainForm::OfferCopy(QLabel* label)
{
    // A figure cut at the panel's edge is whole in the tooltip, and copied whole.
    label->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction("Copy", label);
    connect(copy, &QAction::triggered, label, [label] { QGuiApplication::clipboard()->setText(label->toolTip()); });
    label->addAction(copy);
}

void TMainForm::PlaceLinkFigures(bool belowClientOptions)
{
    if (belowClientOptions)
        LinkFiguresLabel->setGeometry(16, 58, 268, 40);
    else
        LinkFiguresLabel->setGeometry(16, 19, 268, 78);
}

void TMainForm::BuildMenu()
{
    PopupMenu1 = new QMenu(this);
    AddPortMenuItem = PopupMenu1->addAction("&Add Port");
    RemovePortMenuItem = PopupMenu1->addAction("&Remove Port");
    RemovePortMenuItem->setEnabled(false);
    PopupMenu1->addSeparator();
    AddNetMenuItem = PopupMenu1->addAction("A&dd Net");
    AddNetMenuItem->setEnabled(false);
    RemoveNetMenuItem = PopupMenu1->addAction("R&emove Net");
    RemoveNetMenuItem->setEnabled(false);
    ReconnectMenuItem = PopupMenu1->addAction("Re&connect");
    ReconnectMenuItem->setEnabled(false);
    EditNetMenuItem = PopupMenu1->addAction("Edi&t Net...");
    EditNetMenuItem->setEnabled(false);
    PopupMenu1->addSeparator();
    MonitorMenuItem = PopupMenu1->addAction("&Monitor...");
    MonitorMenuItem->setEnabled(false);
}

void TMainForm::ConnectHandlers()
{
    connect(PortTreeView, &QTreeWidget::itemSelectionChanged, this,
            [this] { PortTreeViewChange(SelectedNode()); });
    connect(PortTreeView, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* node) { PortTreeViewCollapsing(node); });
    // A right click selects the node under the pointer before the menu opens; on
    // empty space the selection stays.
    connect(PortTreeView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QTreeWidgetItem* node = PortTreeView->itemAt(pos))
            PortTreeView->setCurrentItem(node);
        PopupMenu1->popup(PortTreeView->viewport()->mapToGlobal(pos));
    });
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { PopupMenu1Popup(); });
    connect(AddPortMenuItem, &QAction::triggered, this, [this] { AddPortMenuItemClick(); });
    connect(RemovePortMenuItem, &QAction::triggered, this, [this] { RemovePortMenuItemClick(); });
    connect(AddNetMenuItem, &QAction::triggered, this, [this] { AddNetMenuItemClick(); });
    connect(RemoveNetMenuItem, &QAction::triggered, this, [this] { RemoveNetMenuItemClick(); });
    connect(ReconnectMenuItem, &QAction::triggered, this, [this] { ReconnectMenuItemClick(); });
    connect(EditNetMenuItem, &QAction::triggered, this, [this] { EditNetMenuItemClick(); });
    connect(MonitorMenuItem, &QAction::triggered, this, [this] { MonitorMenuItemClick(); });

    connect(SetSendToNetDelayTimeButton, &QPushButton::clicked, this,
            [this] { SetSendToNetDelayTimeButtonClick(); });
    connect(SetReceiveFromNetDelayTimeButton, &QPushButton::clicked, this,
            [this] { SetReceiveFromNetDelayTimeButtonClick(); });
    connect(SetReconnectIntervalTimeButton, &QPushButton::clicked, this,
            [this] { SetReconnectIntervalTimeButtonClick(); });
    connect(SetLogFileButton, &QPushButton::clicked, this, [this] { SetLogFileButtonClick(); });
    connect(LogFilenButton, &QPushButton::clicked, this, [this] { LogFilenButtonClick(); });
    connect(CopyPathButton, &QPushButton::clicked, this, [this] { CopyPathButtonClick(); });

    // Enter in an edit applies it as its "Set" does; typing marks it unapplied.
    const std::pair<QLineEdit*, QPushButton*> edits[] = {
        {SendToNetDelayTimeEdit, SetSendToNetDelayTimeButton},
        {ReceiveFromNetDelayTimeEdit, SetReceiveFromNetDelayTimeButton},
        {LogFilenameEdit, SetLogFileButton},
        {ReconnectIntervalTimeEdit, SetReconnectIntervalTimeButton},
    };
    for (const auto& [edit, button] : edits) {
        connect(edit, &QLineEdit::returnPressed, button, &QPushButton::click);
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { MarkUnapplied(edit); });
    }
    connect(LogModeCheckBox, &QCheckBox::clicked, this, [this] { MarkUnapplied(LogModeCheckBox); });
    connect(LogTimestampsCheckBox, &QCheckBox::clicked, this, [this] { MarkUnapplied(LogTimestampsCheckBox); });

    // Check boxes run their handler on every change of state, also one made by the
    // program, as a click would.
    connect(AutoReconnectCheckBox, &QCheckBox::toggled, this, [this] { AutoReconnectCheckBoxClick(); });
    connect(AutoRunWhenLoginCheckBox, &QCheckBox::toggled, this,
            [this] { AutoRunWhenLoginCheckBoxClick(); });
    connect(MinimizeWhenRunCheckBox, &QCheckBox::toggled, this,
            [this] { MinimizeWhenRunCheckBoxClick(); });

    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(TrayIcon1, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    TrayIcon1Restore();
            });
    connect(TrayShowItem, &QAction::triggered, this, [this] { TrayIcon1Restore(); });
    connect(TrayExitItem, &QAction::triggered, this, [this] { TrayExitItemClick(); });
}

void TMainForm::FormClose(bool& action)
{
    if (!GetManager())
        return; // closed before, or never made: nothing left to stop

    const CQLNManager::PortList opened = Model->CollectOpenedPorts();
    if (!opened.empty()) {
        const QString text = QString::fromStdString(OpenedPortsText(opened))
            + "\nBefore exiting the console, please close all opened quillons!";
        const QMessageBox::StandardButton answer =
            MessageBoxSeam::Show(this, text, windowTitle(), QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Critical, QMessageBox::Cancel);
        if (answer != QMessageBox::Ok) {
            action = false;
            return;
        }
    }

    // Everything stops before the window goes: the refresh, then the pump and every
    // port and link. The window hides when this returns, with the console done.
    // Then, in this order: the tree's tags (deleting the nodes releases them), the
    // configuration file and the autostart entry.
    Timer1->stop();
    Model->StopPorts();
    PortTreeView->clear();
    MenuNode = nullptr;
    Model->Stop();
    TrayIcon1->hide();
}

void TMainForm::TrayExitItemClick()
{
    // A hidden window closes the same way; the event loop would not end by itself,
    // since no window was visible to close last.
    if (close())
        QCoreApplication::quit();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == PortTreeView && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)
        && TTreeNode::PortOf(PortTreeView->currentItem())) {
        CopyPathButtonClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool action = true;
    FormClose(action);
    if (action)
        event->accept();
    else
        event->ignore();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FollowVisibility();
}

void TMainForm::FitTreeColumn()
{
    if (FitDue)
        return;
    FitDue = true;
    QTimer::singleShot(0, this, [this] {
        FitDue = false;
        PortTreeView->resizeColumnToContents(0);
    });
}

void TMainForm::FollowVisibility()
{
    // The refresh runs while someone can see the window: not hidden in the tray,
    // not minimized, not closed.
    const bool seen = isVisible() && !isMinimized();
    if (!seen || !IsRunning()) {
        Timer1->stop();
    } else if (!Timer1->isActive()) {
        Timer1->start();
        Timer1Timer(); // what changed meanwhile shows at once
    }
}

void TMainForm::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    FollowVisibility();
}

void TMainForm::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        FollowVisibility();
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayIcon1->isVisible()
        && QSystemTrayIcon::isSystemTrayAvailable()) {
        // Hidden after the state change has been handled, so the window manager sees
        // a minimized window go away rather than a hide in the middle of minimizing.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
}

void TMainForm::TrayIcon1Restore()
{
    showNormal();
    raise();
    activateWindow();
}

void TMainForm::ShowError(const QString& text)
{
    MessageBoxSeam::ShowError(this, text, windowTitle());
}

bool TMainForm::Report(const ConsoleResult& result)
{
    if (result.ShouldTell())
        ShowError(MessageBoxSeam::TextOf(result.Message, result.Reason()));
    return result.Ok;
}

// ---------------------------------------------------------------- configuration

void TMainForm::LoadSettings()
{
    Model->LoadSettings(); // the nodes come by the observer calls
}

void TMainForm::SavePortSettings(CPortObject* port)
{
    Report(Model->SavePortSettings(port));
}

void TMainForm::ErasePortSettings(int32_t number)
{
    Report(Model->ErasePortSettings(number));
}

// Runs on every change of the box, also the one the start-up makes from the file.
void TMainForm::MinimizeWhenRunCheckBoxClick()
{
    Report(Model->SetMinimizeWhenRun(MinimizeWhenRunCheckBox->isChecked()));
}

// Runs on every change of the box, also the one the start-up makes when the entry
// exists. The box keeps its state on a failure.
void TMainForm::AutoRunWhenLoginCheckBoxClick()
{
    Report(Model->SetAutorun(AutoRunWhenLoginCheckBox->isChecked()));
}

// Implements TMonitorForm: the live traffic of one port in a window of its own.
#include "ui/MonitorForm.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "console/ConsoleModel.h"
#include "ui/MessageBoxSeam.h"
#include "platform/base/TickCount.h"

namespace {

// The view keeps at most this many lines; older ones scroll out.
constexpr int MaxLines = 20000;

} // namespace

TMonitorForm::TMonitorForm(ConsoleModel& model, CPortObject* port, QWidget* owner) : QWidget(owner, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(640, 400);

    TrafficEdit = new QPlainTextEdit(this);
    TrafficEdit->setReadOnly(true);
    // A record's header names every link and peer, and may be longer than the
    // window is wide: it goes on in the next line instead of out of sight.
    TrafficEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    TrafficEdit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    TrafficEdit->setMaximumBlockCount(MaxLines);
    TrafficEdit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    PauseButton = new QPushButton("&Pause", this);
    PauseButton->setCheckable(true);
    ClearButton = new QPushButton("&Clear", this);
    HexRadioButton = new QRadioButton("&Hex", this);
    HexRadioButton->setChecked(true);
    TextRadioButton = new QRadioButton("&Text", this);
    SaveButton = new QPushButton("&Save...", this);
    StatusLabel = new QLabel(this);
    SaveDialog = new QFileDialog(this);
    SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog->setFileMode(QFileDialog::AnyFile);
    SaveDialog->setDirectory(QDir::homePath());

    auto* buttons = new QHBoxLayout;
    for (QWidget* control : {static_cast<QWidget*>(PauseButton), static_cast<QWidget*>(ClearButton),
                             static_cast<QWidget*>(HexRadioButton), static_cast<QWidget*>(TextRadioButton),
                             static_cast<QWidget*>(SaveButton)})
        buttons->addWidget(control);
    buttons->addStretch();
    buttons->addWidget(StatusLabel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(TrafficEdit);

    connect(PauseButton, &QPushButton::toggled, this, [this] { PauseButtonClick(); });
    connect(ClearButton, &QPushButton::clicked, this, [this] { ClearButtonClick(); });
    connect(HexRadioButton, &QRadioButton::toggled, this, [this] { ViewButtonClick(); });
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    Refresh.setSingleShot(true);
    connect(&Refresh, &QTimer::timeout, this, [this] { RefreshTimer(); });

    ConsoleResult refusal;
    // Called on the pump thread with the manager lock held (or here when the watch
    // ends): it only posts the refresh to this window's thread.
    Watch = model.Watch(
        port,
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { if (!Refresh.isActive()) Refresh.start(RefreshMs); }, Qt::QueuedConnection);
        },
        &refusal);
    if (!Watch) {
        MessageBoxSeam::ShowError(owner, MessageBoxSeam::TextOf(refusal.Message, refusal.Reason()),
                                  "Quillon Console");
        return;
    }
    setWindowTitle(QString::fromStdString(Watch->PortName()) + " Monitor");
    UpdateStatus();
}

TMonitorForm::~TMonitorForm()
{
    // The watch goes first: no wake reaches this window after.
    Watch.reset();
}

TrafficView TMonitorForm::ViewMode() const
{
    return HexRadioButton->isChecked() ? TrafficView::Dump : TrafficView::Text;
}

QString TMonitorForm::ShownText() const
{
    return TrafficEdit->toPlainText();
}

void TMonitorForm::Show(const std::string& text)
{
    if (text.empty())
        return;
    QScrollBar* bar = TrafficEdit->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(TrafficEdit->document());
    cursor.movePosition(QTextCursor::End);
    // The text ends with a line end; the document's last block is the empty one after it.
    cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    if (atEnd)
        bar->setValue(bar->maximum());
}

void TMonitorForm::RefreshTimer()
{
    if (!Watch || PauseButton->isChecked())
        return;
    uint64_t missed = 0;
    std::vector<TrafficRecord> records = Watch->Take(missed);
    std::string text;
    const TrafficView view = ViewMode();
    auto keep = [this](Shown shown) {
        KeptSize += shown.Record.Bytes.size() + shown.Record.Where.size() + 64;
        Kept.push_back(std::move(shown));
        while (KeptSize > KeptBytes && Kept.size() > 1) {
            KeptSize -= Kept.front().Record.Bytes.size() + Kept.front().Record.Where.size() + 64;
            Kept.pop_front();
        }
    };
    for (TrafficRecord& record : records) {
        ++Records;
        Bytes += record.Bytes.size();
        text += TrafficRecordText(record, view);
        keep(Shown {std::move(record), 0});
    }
    // The records missed followed those taken.
    if (missed > 0) {
        Missed += missed;
        Shown line;
        line.Record.Time = WallClockNow();
        line.Missed = missed;
        text += MissedRecordsText(line.Record.Time, missed);
        keep(std::move(line));
    }
    if (Watch->Ended() && !EndShown) {
        EndShown = true;
        text += "-- " + Watch->EndReason() + "\n";
    }
    Show(text);
    UpdateStatus();
}

void TMonitorForm::PauseButtonClick()
{
    PauseButton->setText(PauseButton->isChecked() ? "&Resume" : "&Pause");
    // Resumed: what waited in the watch shows at once.
    if (!PauseButton->isChecked())
        RefreshTimer();
    UpdateStatus();
}

void TMonitorForm::ClearButtonClick()
{
    TrafficEdit->clear();
    Kept.clear();
    KeptSize = 0;
    // The counts are of what the view shows.
    Records = 0;
    Bytes = 0;
    Missed = 0;
    UpdateStatus();
}

// The view is drawn anew from what it keeps, in the other form.
void TMonitorForm::ViewButtonClick()
{
    std::string text;
    const TrafficView view = ViewMode();
    for (const Shown& shown : Kept)
        text += shown.Missed ? MissedRecordsText(shown.Record.Time, shown.Missed) : TrafficRecordText(shown.Record, view);
    TrafficEdit->clear();
    Show(text);
    if (EndShown && Watch)
        Show("-- " + Watch->EndReason() + "\n");
}

void TMonitorForm::SaveButtonClick()
{
    if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty())
        return;
    QString why;
    if (!SaveTo(SaveDialog->selectedFiles().first(), why))
        MessageBoxSeam::ShowError(this, MessageBoxSeam::TextOf("Save failed!", why.toStdString()), windowTitle());
}

bool TMonitorForm::SaveTo(const QString& path, QString& why)
{
    QFile file(path);
    const QByteArray text = ShownText().toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()
        || !file.flush()) {
        why = path + ": " + file.errorString();
        return false;
    }
    file.close();
    return true;
}

void TMonitorForm::UpdateStatus()
{
    QString status = QString("%1 records, %2 bytes").arg(Records).arg(Bytes);
    if (Missed > 0)
        status += QString(", %1 missed").arg(Missed);
    if (PauseButton->isChecked())
        status += ", paused";
    if (Watch && Watch->Ended())
        status += ", ended";
    StatusLabel->setText(status);
}

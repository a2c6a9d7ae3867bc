#pragma once
#include <cstdint>
#include <deque>
#include <memory>

#include <QTimer>
#include <QWidget>

#include "console/TrafficText.h"
#include "console/TrafficWatch.h"

class CPortObject;
class ConsoleModel;
class QFileDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// "Monitor...": a window of its own with the live traffic of one port, as
// `quillonctl monitor` shows it (TrafficText). It can pause (what passes meanwhile
// waits in the watch, up to its bound, and the rest is counted as missed), clear,
// show the bytes as hexadecimal with their text or as text alone (what it shows is
// drawn anew), and save what it shows to a file.
//
// The port never waits for it: the records come by the console model's watch, and
// the view takes them at most every RefreshMs. It ends when the port is removed or
// the console stops, saying so; closing it stops the watch.
//
// Window thread only. Owned by the main window (a window of its own, deleted when
// closed or with the main window); the model may go first.
class TMonitorForm : public QWidget {
    Q_OBJECT

public:
    static constexpr int RefreshMs = 50;
    // At most this much of the traffic is kept to be drawn anew (a switch of the view).
    static constexpr size_t KeptBytes = 1u << 20;

    TMonitorForm(ConsoleModel& model, CPortObject* port, QWidget* owner);
    ~TMonitorForm() override;

    // Whether the model let it watch (a refusal has been shown).
    bool IsWatching() const { return Watch != nullptr; }
    // What the view shows.
    QString ShownText() const;
    // Writes what the view shows to `path`, replacing the file; false with `why`.
    bool SaveTo(const QString& path, QString& why);

    // Event handlers.
    void PauseButtonClick();
    void ClearButtonClick();
    void ViewButtonClick();
    void SaveButtonClick();
    // Takes what the watch has and shows it (the refresh timer).
    void RefreshTimer();

    QPlainTextEdit* TrafficEdit;
    QPushButton* PauseButton; // checkable
    QPushButton* ClearButton;
    QRadioButton* HexRadioButton;
    QRadioButton* TextRadioButton;
    QPushButton* SaveButton;
    QLabel* StatusLabel;
    QFileDialog* SaveDialog;

private:
    TrafficView ViewMode() const;
    void Show(const std::string& text);
    void UpdateStatus();

    std::unique_ptr<TrafficWatch> Watch;
    QTimer Refresh;
    // What the view shows, to draw it anew: records, and the lines of missed records.
    struct Shown {
        TrafficRecord Record;
        uint64_t Missed = 0; // not 0: this entry is a missed-records line
    };
    std::deque<Shown> Kept;
    size_t KeptSize = 0;
    uint64_t Records = 0;
    uint64_t Bytes = 0;
    uint64_t Missed = 0;
    bool EndShown = false;
};

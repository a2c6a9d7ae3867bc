#pragma once
// Pieces the window tests share: scripted message boxes, a driver for the modal
// add dialog, waiting with deadlines while the event loop runs, and a window
// started on given ports.
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include "platform/base/Folders.h"
#include "platform/pty/PortDriver.h"
#include "ports/QLNManager.h"
#include "support/Application.h"
#include "support/Files.h"
#include "support/Loopback.h"
#include "support/ModelOnPorts.h"
#include "support/TempFolder.h"
#include "support/WaitUntil.h"
#include "ui/AddPortForm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxSeam.h"
#include "ui/NodeTag.h"

namespace qlnui {

// Runs the event loop until `condition` holds or `seconds` pass.
inline bool ProcessUntil(const std::function<bool()>& condition, double seconds = 10.0)
{
    return qlntest::WaitUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return condition();
    }, seconds);
}

// Answers every message box from a script and records each one. A box beyond the
// script is answered with its default button (or its first one) and recorded too,
// so a test sees it in Calls.
class ScriptedBoxes {
public:
    ScriptedBoxes()
    {
        MessageBoxSeam::SetAnswerer([this](QWidget*, const MessageBoxSeam::Call& call) {
            Calls.push_back(call);
            if (!Answers.empty()) {
                const QMessageBox::StandardButton answer = Answers.front();
                Answers.pop_front();
                return answer;
            }
            if (call.DefaultButton != QMessageBox::NoButton)
                return call.DefaultButton;
            return call.Buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::No;
        });
    }
    ~ScriptedBoxes() { MessageBoxSeam::SetAnswerer({}); }

    void Answer(QMessageBox::StandardButton button) { Answers.push_back(button); }
    // The first line of each box: the message without its reason.
    std::vector<QString> Texts() const
    {
        std::vector<QString> texts;
        for (const auto& call : Calls)
            texts.push_back(call.Text.section('\n', 0, 0));
        return texts;
    }

    std::vector<MessageBoxSeam::Call> Calls;
    std::deque<QMessageBox::StandardButton> Answers;
};

// Expects one error box: the text (followed by a reason line or not), the caption,
// OK alone and the error icon.
inline void ExpectError(const MessageBoxSeam::Call& call, const QString& text, const QString& caption)
{
    EXPECT_TRUE(call.Text == text || call.Text.startsWith(text + '\n')) << call.Text.toStdString();
    EXPECT_EQ(call.Caption, caption);
    EXPECT_EQ(call.Buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(call.Icon, QMessageBox::Critical);
}

// Acts on the add dialog once it runs modally, or on each of several dialogs in turn
// (one that opens again after a refusal); closes any modal still open when the
// deadline passes (and fails the test), so a forgotten dialog never hangs the run.
class ModalDriver {
public:
    using Act = std::function<void(TAddPortForm&)>;

    explicit ModalDriver(Act act, double seconds = 15.0) : ModalDriver(std::vector<Act>{std::move(act)}, seconds) {}
    explicit ModalDriver(std::vector<Act> acts, double seconds = 15.0) : Acts(std::move(acts))
    {
        Poll.setInterval(5);
        QObject::connect(&Poll, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<TAddPortForm*>(QApplication::activeModalWidget());
            if (!dialog || Done || dialog == Current)
                return;
            Current = dialog;
            Seen = dialog->windowTitle();
            const size_t turn = Count++;
            Done = Count == Acts.size();
            Acts[turn](*dialog);
        });
        Poll.start();
        Deadline.setSingleShot(true);
        QObject::connect(&Deadline, &QTimer::timeout, [] {
            while (QWidget* modal = QApplication::activeModalWidget()) {
                ADD_FAILURE() << "a modal window was left open: " << modal->windowTitle().toStdString();
                modal->close();
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->reject();
            }
        });
        Deadline.start(static_cast<int>(seconds * 1000));
    }

    bool Done = false; // every act has had its dialog
    size_t Count = 0;  // dialogs acted on
    QString Seen;      // the last dialog's caption

private:
    std::vector<Act> Acts;
    QPointer<TAddPortForm> Current; // null again once the dialog it was is gone
    QTimer Poll;
    QTimer Deadline;
};

// A console window started on the given COM numbers, in a private HOME.
class WindowTest : public ::testing::Test {
protected:
    // The driver package is the one the build puts beside the test, unless given.
    void StartOn(const std::vector<int>& numbers, std::string infPath = std::string())
    {
        if (infPath.empty())
            infPath = ExecutableFolder() + "Quillon.inf";
        Form = std::make_unique<TMainForm>(
            [infPath](TMainForm& form) {
                return std::make_unique<CQLNManager>(static_cast<WindowHandle>(&form), infPath);
            },
            qlntest::OnPorts(numbers));
        ASSERT_TRUE(Form->IsRunning());
    }

    void TearDown() override
    {
        Form.reset();
        PortDriver::Instance().DetachAll();
    }

    QTreeWidget& Tree() { return *Form->PortTreeView; }
    QTreeWidgetItem* PortNode(int index) { return Tree().topLevelItem(index); }
    CPortObject* PortOf(QTreeWidgetItem* node) { return TTreeNode::PortOf(node); }
    CNetObject* LinkOf(QTreeWidgetItem* node) { return TTreeNode::LinkOf(node); }
    CCriticalSection* Lock() { return Form->GetManager()->Lock(); }
    LinkState StateOf(CNetObject* link)
    {
        CGuard guard(Lock());
        return link->GetLinkState();
    }

    // Right click on `node` (null: on empty space below the nodes), as the user
    // opens the context menu; the menu is closed again before returning.
    void RightClick(QTreeWidgetItem* node)
    {
        QPoint pos = node ? Tree().visualItemRect(node).center()
                          : QPoint(10, Tree().viewport()->height() - 5);
        emit Tree().customContextMenuRequested(pos);
        Form->PopupMenu1->hide();
    }

    // The enabled state of the menu items, in menu order ("Edit Net..." aside).
    std::vector<bool> MenuState()
    {
        return {Form->AddPortMenuItem->isEnabled(), Form->RemovePortMenuItem->isEnabled(),
                Form->AddNetMenuItem->isEnabled(), Form->RemoveNetMenuItem->isEnabled(),
                Form->ReconnectMenuItem->isEnabled(), Form->MonitorMenuItem->isEnabled()};
    }

    qlntest::TempHome Home;
    ScriptedBoxes Boxes;
    std::unique_ptr<TMainForm> Form;
};

} // namespace qlnui

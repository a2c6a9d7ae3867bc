#pragma once
#include <functional>
#include <string>

#include <QMessageBox>
#include <QString>

class QWidget;

// The one place the window and the dialog show a message box. Tests put a scripted
// answerer in place of the real box, which then sees every box the console would
// have shown, with its text, caption, buttons, icon and default button.
//
// Window thread only.
class MessageBoxSeam {
public:
    // What one message box shows.
    struct Call {
        QString Text;
        QString Caption;
        QMessageBox::StandardButtons Buttons;
        QMessageBox::Icon Icon = QMessageBox::NoIcon;
        QMessageBox::StandardButton DefaultButton = QMessageBox::NoButton;
    };

    // Answers a box instead of the user: returns the button pressed.
    using Answerer = std::function<QMessageBox::StandardButton(QWidget* owner, const Call& call)>;

    // Shows a modal box owned by `owner` (null: no owner) and returns the button the
    // user pressed. A box dismissed without a button (Escape, the close button)
    // answers with its escape button: Cancel, or No, or the only button.
    // Without a display (Qt's offscreen platform, or no application) nothing is shown:
    // the box is written to standard error as the line "caption: text" and answers
    // with its escape button at once.
    static QMessageBox::StandardButton Show(QWidget* owner, const QString& text,
                                            const QString& caption,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::Icon icon,
                                            QMessageBox::StandardButton defaultButton);

    // An error: the error icon and OK alone.
    static void ShowError(QWidget* owner, const QString& text, const QString& caption);
    // A question: Yes and No, the question icon, No preselected. True for Yes.
    static bool AskYesNo(QWidget* owner, const QString& text, const QString& caption);

    // A refusal's text: the message, and its reason (when there is one) on a second line.
    static QString TextOf(const std::string& message, const std::string& reason);

    // Replaces the real boxes with `answerer`; an empty function brings them back.
    static void SetAnswerer(Answerer answerer);

private:
    static Answerer& CurrentAnswerer();
};

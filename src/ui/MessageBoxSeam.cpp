#include "ui/MessageBoxSeam.h"

#include <utility>

#include <QAbstractButton>

MessageBoxSeam::Answerer& MessageBoxSeam::CurrentAnswerer()
{
    static Answerer answerer;
    return answerer;
}

void MessageBoxSeam::SetAnswerer(Answerer answerer)
{
    CurrentAnswerer() = std::move(answerer);
}

QMessageBox::StandardButton MessageBoxSeam::Show(QWidget* owner, const QString& text,
                                                 const QString& caption,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::Icon icon,
                                                 QMessageBox::StandardButton defaultButton)
{
    Call call{text, caption, buttons, icon, defaultButton};
    if (const Answerer& answerer = CurrentAnswerer())
        return answerer(owner, call);

    QMessageBox box(icon, caption, text, buttons, owner);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    box.exec();
    // A box closed without a button press reports its escape button, which Qt picks
    // among the buttons (Cancel, then No, then a lone button).
    QAbstractButton* pressed = box.clickedButton();
    if (!pressed)
        pressed = box.escapeButton();
    return pressed ? box.standardButton(pressed) : QMessageBox::NoButton;
}

void MessageBoxSeam::ShowError(QWidget* owner, const QString& text, const QString& caption)
{
    Show(owner, text, caption, QMessageBox::Ok, QMessageBox::Critical, QMessageBox::Ok);
}

bool MessageBoxSeam::AskYesNo(QWidget* owner, const QString& text, const QString& caption)
{
    return Show(owner, text, caption, QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                QMessageBox::No)
        == QMessageBox::Yes;
}

#include "ui/MessageBoxSeam.h"

#include <cstdio>
#include <utility>

#include <QAbstractButton>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStringList>

namespace {

// Whether a box could be seen at all: not without an application, nor on the
// platforms that draw nowhere (the console runs offscreen when there is no display).
bool HasDisplay()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// The box as one line of standard error: "caption: text", its lines joined by blanks.
void PrintBox(const QString& text, const QString& caption)
{
    const QStringList lines = text.split(QRegularExpression("[\\r\\n]+"), Qt::SkipEmptyParts);
    const QByteArray line = (caption + ": " + lines.join(' ')).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

// The answer of a box closed without a button press, by the rule Qt uses for the
// boxes the console shows: Cancel, else a lone button, else No.
QMessageBox::StandardButton EscapeAnswer(QMessageBox::StandardButtons buttons)
{
    if (buttons.testFlag(QMessageBox::Cancel))
        return QMessageBox::Cancel;
    const auto value = static_cast<uint32_t>(buttons.toInt());
    if (value != 0 && (value & (value - 1)) == 0)
        return static_cast<QMessageBox::StandardButton>(value);
    return buttons.testFlag(QMessageBox::No) ? QMessageBox::No : QMessageBox::NoButton;
}

} // namespace

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
    // Without a display nobody could answer a box, and a modal one would wait for
    // ever (after "Initialize failed!" with the single-instance lock held): the
    // message goes to standard error and the box answers as if dismissed.
    if (!HasDisplay()) {
        PrintBox(text, caption);
        return EscapeAnswer(buttons);
    }

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

QString MessageBoxSeam::TextOf(const std::string& message, const std::string& reason)
{
    QString text = QString::fromStdString(message);
    if (!reason.empty())
        text += '\n' + QString::fromStdString(reason);
    return text;
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

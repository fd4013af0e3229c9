#include "app/message_boxes.h"

#include "app/texts.h"
#include "config/prompter.h"
#include "diag/debug_log.h"
#include "irc/link_status.h"
#include "res/resources.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>

namespace app {

namespace {

// Shows text from the network as it is: never as markup, whose links and pictures the
// network would choose.
QMessageBox* plainBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                      QWidget* owner)
{
    auto* box = new QMessageBox(icon, title, QString(), QMessageBox::Ok, owner);
    box->setText(text);
    config::showAsPlainText(*box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

// The texts keep the translation context they had as the main window's own.
QString tr(const char* text)
{
    return QCoreApplication::translate("app::MainWindow", text);
}

} // namespace

void MessageBoxes::showWhois(const QString& text)
{
    // Not modal: a box left open must not hold up the lines behind it, nor take the keyboard.
    config::showWithoutTakingKeyboard(
        *plainBox(QMessageBox::NoIcon, tr(text::kWhoisReply), text, &m_owner));
}

void MessageBoxes::showCtcpReply(irc::CtcpCode code, const QString& title, const QString& text)
{
    // One box per kind: a flood of replies must not bury the screen in boxes.
    if (!m_replyBoxes.canShow(code)) {
        // On one line: the box's line break would show as an escape there.
        diag::DebugLog(
            QString::fromLatin1(text::kLogReplyBoxOpen)
                .arg(title, QString(text).replace(QLatin1Char('\n'), QLatin1String(": "))));
        return;
    }
    m_replyBoxes.markOpen(code);
    QMessageBox* box = plainBox(QMessageBox::Information, title, text, &m_owner);
    QObject::connect(box, &QDialog::finished, &m_owner,
                     [this, code] { m_replyBoxes.markClosed(code); });
    config::showWithoutTakingKeyboard(*box);
}

void showAboutBox(QWidget* owner)
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, tr(text::kAbout), irc::idleTitle(),
                                QMessageBox::Ok, owner);
    box->setIconPixmap(res::icon(QStringLiteral("KIVVOICON")).pixmap(32, 32));
    // The picture is the program's mark; a screen reader should say so.
    if (auto* icon = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
        icon->setAccessibleName(tr(text::kKivvo));
        icon->setToolTip(tr(text::kKivvo));
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

} // namespace app

// The boxes the main window shows for what the network answered, and its About box.
#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "app/title_bar.h"
#include "config/prompter.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/ctcp_service.h"
#include "irc/link_status.h"
#include "irc/message_parts.h"
#include "irc/presence_poller.h"
#include "irc/server_events.h"
#include "irc/server_link.h"
#include "res/resources.h"

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

} // namespace

void MainWindow::showWhois(const QString& text)
{
    // Not modal: a box left open must not hold up the lines behind it, nor take the keyboard.
    config::showWithoutTakingKeyboard(
        *plainBox(QMessageBox::NoIcon, tr("Whois Reply"), text, this));
}

void MainWindow::showCtcpReply(irc::CtcpCode code, const QString& title, const QString& text)
{
    // One box per kind: a flood of replies must not bury the screen in boxes.
    if (!m_replyBoxes.canShow(code)) {
        // On one line: the box's line break would show as an escape there.
        diag::DebugLog(
            QStringLiteral("%1 (another is still open): %2")
                .arg(title, QString(text).replace(QLatin1Char('\n'), QLatin1String(": "))));
        return;
    }
    m_replyBoxes.markOpen(code);
    QMessageBox* box = plainBox(QMessageBox::Information, title, text, this);
    connect(box, &QDialog::finished, this, [this, code] { m_replyBoxes.markClosed(code); });
    config::showWithoutTakingKeyboard(*box);
}

void MainWindow::showAbout()
{
    // Owned by the caption, as it always was; a new box each time.
    QWidget* owner =
        m_titleBar->mode() == TitleBar::Mode::Separate ? static_cast<QWidget*>(m_titleBar) : this;
    auto* box =
        new QMessageBox(QMessageBox::NoIcon, tr("About"), irc::idleTitle(), QMessageBox::Ok, owner);
    box->setIconPixmap(res::icon(QStringLiteral("KIVVOICON")).pixmap(32, 32));
    // The picture is the program's mark; a screen reader should say so.
    if (auto* icon = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"))) {
        icon->setAccessibleName(tr("Kivvo"));
        icon->setToolTip(tr("Kivvo"));
    }
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

void MainWindow::follow(irc::ServerLink& link, irc::ServerEvents& events, irc::CtcpService& ctcp,
                        irc::PresencePoller& presence)
{
    connect(&link, &irc::ServerLink::statusChanged, this, &MainWindow::showLinkStatus);
    connect(&link, &irc::ServerLink::registered, this, &MainWindow::showNick);
    connect(&link, &irc::ServerLink::nickChanged, this, &MainWindow::showNick);
    connect(&link, &irc::ServerLink::closedByUser, this, &MainWindow::showDisconnected);
    connect(&link, &irc::ServerLink::lineReceived, this, &MainWindow::logServerLine);
    connect(&events, &irc::ServerEvents::whois, this, [this](const irc::Message& message) {
        showWhois(diag::decodeServerText(irc::whoisText(message.params)));
    });
    connect(&ctcp, &irc::CtcpService::replyArrived, this, &MainWindow::showCtcpReply);
    ContactListView* contacts = contactList();
    connect(&presence, &irc::PresencePoller::onlineChanged, contacts, &ContactListView::showOnline);
    connect(&presence, &irc::PresencePoller::noContacts, contacts, &ContactListView::showHint);
    connect(&presence, &irc::PresencePoller::presenceUnknown, contacts,
            &ContactListView::showUnknown);
    connect(&presence, &irc::PresencePoller::caseMappingChanged, contacts,
            &ContactListView::setCaseMapping);
}

} // namespace app

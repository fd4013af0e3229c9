#include "app/tray.h"

#include "app/texts.h"
#include "diag/control_escape.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/link_status.h"
#include "irc/server_link.h"
#include "res/resources.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace app {

Tray::Tray(Availability availability, QObject* parent)
    : QObject(parent)
{
    const bool present = availability == Availability::Detect
                             ? QSystemTrayIcon::isSystemTrayAvailable()
                             : availability == Availability::Present;
    if (!present) {
        diag::DebugLog(tr(text::kLogNoTray));
        return;
    }
    res::initResources();
    m_icon = new QSystemTrayIcon(res::icon(QStringLiteral("SMALLICON")), this);
    // A left click brings the window back; the right button opens the menu.
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    emit restoreRequested();
            });
    // Parentless, as QSystemTrayIcon wants its menu; owned here.
    m_menu = new QMenu;
    connect(this, &QObject::destroyed, m_menu, &QObject::deleteLater);
    connect(m_menu->addAction(tr(text::kTrayShow)), &QAction::triggered, this,
            &Tray::restoreRequested);
    m_away = m_menu->addAction(tr(text::kTraySetAway));
    m_away->setCheckable(true);
    connect(m_away, &QAction::triggered, this, [this](bool on) {
        // Stays as it is until the program says the away state changed.
        m_away->setChecked(m_isAway);
        emit awayRequested(on);
    });
    m_menu->addSeparator();
    connect(m_menu->addAction(tr(text::kExit)), &QAction::triggered, this, &Tray::exitRequested);
    m_icon->setContextMenu(m_menu);
    showTip();
    m_icon->show();
}

Tray::~Tray() = default;

void Tray::remove()
{
    if (m_icon)
        m_icon->hide();
}

void Tray::follow(irc::ServerLink& link)
{
    connect(&link, &irc::ServerLink::registered, this, [this](const QByteArray& nick) {
        m_nick = nick;
        setState(State::Connected);
    });
    connect(&link, &irc::ServerLink::nickChanged, this, [this](const QByteArray& nick) {
        m_nick = nick;
        showTip();
    });
    connect(&link, &irc::ServerLink::statusChanged, this, [this](const irc::LinkStatus& status) {
        using Step = irc::LinkStatus::Step;
        // Connected is the socket's, before the server's welcome (registered).
        if (status.step == Step::SendingUserInfo || status.step == Step::Reconnecting
            || status.step == Step::Connected)
            setState(State::Connecting);
        else
            setState(State::NotConnected);
    });
    for (const auto ended :
         {&irc::ServerLink::lost, &irc::ServerLink::closedByUser, &irc::ServerLink::attemptFailed})
        connect(&link, ended, this, [this] { setState(State::NotConnected); });
}

void Tray::setNick(const QByteArray& nick)
{
    if (m_state == State::Connected)
        return; // the server's name for us stands
    m_nick = nick;
    showTip();
}

void Tray::setAway(bool away)
{
    m_isAway = away;
    if (m_away)
        m_away->setChecked(away);
    showTip();
}

void Tray::setState(State state)
{
    m_state = state;
    showTip();
}

void Tray::showTip()
{
    if (!m_icon)
        return;
    const char* state = m_state == State::Connecting     ? text::kTrayConnecting
                        : m_state == State::NotConnected ? text::kTrayNotConnected
                        : m_isAway                       ? text::kTrayAway
                                                         : text::kTrayConnected;
    // The nick may come from the server: one line, as it is.
    const QString nick = diag::escapeControls(diag::decodeServerText(m_nick));
    m_icon->setToolTip(diag::plainTip(tr(text::kTrayTip).arg(irc::idleTitle(), nick, tr(state))));
}

} // namespace app

#include "app/away_watch.h"

#include "app/contact_list_view.h"
#include "irc/commands.h"
#include "irc/server_events.h"
#include "irc/server_link.h"
#include "peer/chat_sessions.h"

namespace app {

AwayWatch::AwayWatch(irc::ServerLink& link, irc::ServerEvents& events, ContactListView& contacts,
                     peer::ChatSessions& chats, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_contacts(contacts)
    , m_chats(chats)
{
    connect(&link, &irc::ServerLink::capabilitiesChanged, this,
            [this](irc::Capabilities capabilities) {
                if (!capabilities.has(irc::Capability::AwayNotify))
                    forget();
            });
    for (auto ended :
         {&irc::ServerLink::lost, &irc::ServerLink::closedByUser, &irc::ServerLink::attemptFailed})
        connect(&link, ended, this, &AwayWatch::forget);
    connect(&events, &irc::ServerEvents::awayChanged, this, &AwayWatch::setAway);
    connect(&events, &irc::ServerEvents::monitorOnline, this, &AwayWatch::askStates);
    // Gone is not away: a contact that comes back starts afresh.
    connect(&events, &irc::ServerEvents::monitorOffline, this,
            [this](const QList<QByteArray>& nicks) {
                for (const QByteArray& nick : nicks)
                    setAway(nick, std::nullopt);
            });
}

void AwayWatch::setAway(const QByteArray& nick, const std::optional<QByteArray>& text)
{
    m_contacts.setAway(nick, text);
    m_chats.setAway(nick, text);
}

void AwayWatch::askStates(const QList<QByteArray>& nicks)
{
    // The server's word that a watched contact is online says nothing of its absence;
    // away-notify tells only of later changes, so the state at hand is asked for.
    const irc::Capabilities granted = m_link.capabilities();
    if (!granted.has(irc::Capability::AwayNotify) || !granted.has(irc::Capability::ExtendedMonitor))
        return;
    for (const QByteArray& line : irc::Command::userhost(nicks))
        m_link.sendLine(line);
}

void AwayWatch::forget()
{
    m_contacts.clearAway();
    m_chats.clearAway();
}

} // namespace app

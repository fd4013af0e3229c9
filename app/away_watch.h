#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include <optional>

namespace irc {
class ServerEvents;
class ServerLink;
} // namespace irc

namespace peer {
class ChatSessions;
}

namespace app {

class ContactListView;

// Who is away (away-notify with extended-monitor), as the contact list and the chats' titles
// show it: AWAY lines, and the answers to the USERHOST sent after each 730, which never says
// away. A contact gone offline, a new connection and a server that stops telling forget it.
class AwayWatch : public QObject
{
    Q_OBJECT

public:
    AwayWatch(irc::ServerLink& link, irc::ServerEvents& events, ContactListView& contacts,
              peer::ChatSessions& chats, QObject* parent = nullptr);

private:
    void setAway(const QByteArray& nick, const std::optional<QByteArray>& text);
    void askStates(const QList<QByteArray>& nicks);
    void forget();

    irc::ServerLink& m_link;
    ContactListView& m_contacts;
    peer::ChatSessions& m_chats;
};

} // namespace app

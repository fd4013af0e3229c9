#pragma once

#include "config/settings.h"

#include <QByteArray>
#include <QObject>

#include <optional>

namespace irc {
class ServerLink;
}

namespace app {

// Tells the server whether we are away, with the IRCv3 option on, so that contacts see it (in
// their away-notify, and in the 301 of other clients): AWAY with the text when the away status
// is set, a bare AWAY when it is cleared, and the state again on every new link. The automatic
// reply to those who write is the dispatcher's, whatever this says.
class OwnAway : public QObject
{
    Q_OBJECT

public:
    OwnAway(irc::ServerLink& link, const config::Settings& settings, QObject* parent = nullptr);

    void setSettings(const config::Settings& settings);

private:
    void tell();

    irc::ServerLink& m_link;
    std::optional<QByteArray> m_wanted; // the away text the server should know; none: here
    std::optional<QByteArray> m_told;   // what this link's server was told
    bool m_registered = false;
};

} // namespace app

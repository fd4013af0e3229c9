#include "app/own_away.h"

#include "diag/server_text.h"
#include "irc/commands.h"
#include "irc/server_link.h"

namespace app {

OwnAway::OwnAway(irc::ServerLink& link, const config::Settings& settings, QObject* parent)
    : QObject(parent)
    , m_link(link)
{
    setSettings(settings);
    // A new link's server knows nothing of us: away is said again once it has welcomed us.
    connect(&link, &irc::ServerLink::registered, this, [this] {
        m_registered = true;
        m_told.reset();
        tell();
    });
    for (auto ended :
         {&irc::ServerLink::lost, &irc::ServerLink::closedByUser, &irc::ServerLink::attemptFailed})
        connect(&link, ended, this, [this] {
            m_registered = false;
            m_told.reset();
        });
}

void OwnAway::setSettings(const config::Settings& settings)
{
    m_wanted.reset();
    if (settings.ircv3 && settings.awayset && !settings.away.isEmpty()) {
        // Cut to what one line carries, never inside a character.
        const qsizetype room = irc::Command::roomForText("AWAY");
        m_wanted = diag::cutUtf8(settings.away, room).toByteArray();
    }
    tell();
}

void OwnAway::tell()
{
    if (!m_registered || m_wanted == m_told)
        return;
    const std::optional<QByteArray> line =
        m_wanted ? irc::Command::away(*m_wanted) : irc::Command::back();
    if (line && m_link.sendLine(*line))
        m_told = m_wanted;
}

} // namespace app

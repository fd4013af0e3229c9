#include "irc/line_router.h"

#include "diag/debug_log.h"
#include "irc/message_parts.h"
#include "irc/server_events.h"
#include "irc/server_link.h"

#include <QDateTime>
#include <QHostInfo>

namespace irc {

LineRouter::LineRouter(ServerEvents& events, const config::Settings& settings,
                       LineServices services, QObject* parent)
    : QObject(parent)
    , m_events(events)
    , m_nickInUse(services.nickInUse)
    , m_dispatcher(settings, events, std::move(services))
{}

LineServices LineRouter::servicesOf(ServerLink& link)
{
    return {[&link] { return link.nickInUse(); },
            [&link](const QByteArray& line) { return link.sendLine(line); },
            [] { return QDateTime::currentMSecsSinceEpoch(); },
            [] { return QHostInfo::localHostName().toUtf8(); },
            [](const QString& text) { diag::DebugLog(text); }};
}

void LineRouter::follow(ServerLink& link)
{
    connect(&link, &ServerLink::messageReceived, this, &LineRouter::route);
    connect(&link, &ServerLink::capabilitiesChanged, this, &LineRouter::setCapabilities);
}

void LineRouter::setCapabilities(Capabilities capabilities)
{
    m_capabilities = capabilities;
    for (LineFilter* filter : std::as_const(m_filters))
        filter->setCapabilities(capabilities);
    m_dispatcher.setCapabilities(capabilities);
}

void LineRouter::route(const Message& message)
{
    for (LineFilter* filter : std::as_const(m_filters)) {
        if (filter->take(message))
            return;
    }
    if (takeOwnEcho(message))
        return;
    m_dispatcher.HandleServerLine(message);
}

bool LineRouter::takeOwnEcho(const Message& message)
{
    // Our own offers, queries and notices come back too: never taken as someone else's.
    if (!m_capabilities.has(Capability::EchoMessage) || !message.hasSource()
        || (message.command != "PRIVMSG" && message.command != "NOTICE")
        || !isActedOn(message, m_capabilities))
        return false;
    const QByteArrayView sender = GetSenderNick(message);
    if (sender.isEmpty() || sender.compare(m_nickInUse(), Qt::CaseInsensitive) != 0)
        return false;
    emit m_events.ownLineEchoed(message, lineStamp(message, m_capabilities));
    return true;
}

} // namespace irc

#include "peer/chat_deliveries.h"

#include "irc/server_events.h"
#include "irc/server_link.h"

#include <QElapsedTimer>

#include <limits>
#include <memory>

namespace peer {

ChatDeliveries::ChatDeliveries(QObject* parent)
    : QObject(parent)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    m_clockMs = [clock] { return clock->elapsed(); };
    // A coarse beat is enough: a line is late at 30 s, give or take one.
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &ChatDeliveries::expire);
}

void ChatDeliveries::setCapabilities(irc::Capabilities capabilities)
{
    const bool wasTracking = isTracking();
    m_capabilities = capabilities;
    if (wasTracking && !isTracking()) {
        // A new connection, or the server stopped echoing: what waited will never be echoed.
        for (const quint64 id : m_pending.expired(std::numeric_limits<qint64>::max()))
            emit notDelivered(id);
        m_timer.stop();
    }
}

std::optional<quint64> ChatDeliveries::newLine()
{
    if (!isTracking())
        return std::nullopt;
    return m_nextId++;
}

std::optional<QByteArray> ChatDeliveries::sending(quint64 id, const QByteArray& target,
                                                  const QByteArray& text)
{
    std::optional<QByteArray> label;
    if (m_capabilities.has(irc::Capability::LabeledResponse))
        label = "kv" + QByteArray::number(id) + '.' + QByteArray::number(m_nextLabel++);
    if (const std::optional<quint64> dropped = m_pending.sent(id, target, text, label, m_clockMs()))
        emit notDelivered(*dropped);
    if (!m_timer.isActive())
        m_timer.start();
    return label;
}

void ChatDeliveries::echoed(const irc::Message& message, const QByteArray& ownNick)
{
    if (const std::optional<quint64> id = m_pending.echoed(message, ownNick))
        emit delivered(*id);
}

void ChatDeliveries::refused(const irc::Message& message)
{
    if (const std::optional<quint64> id = m_pending.refused(message))
        emit notDelivered(*id);
}

void ChatDeliveries::expire()
{
    for (const quint64 id : m_pending.expired(m_clockMs()))
        emit notDelivered(id);
    if (m_pending.size() == 0)
        m_timer.stop();
}

void ChatDeliveries::follow(irc::ServerLink& link, irc::ServerEvents& events)
{
    connect(&link, &irc::ServerLink::capabilitiesChanged, this, &ChatDeliveries::setCapabilities);
    connect(&events, &irc::ServerEvents::ownLineEchoed, this,
            [this, &link](const irc::Message& message) { echoed(message, link.nickInUse()); });
    connect(&events, &irc::ServerEvents::lineRefused, this, &ChatDeliveries::refused);
}

} // namespace peer

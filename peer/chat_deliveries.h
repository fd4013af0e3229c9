#pragma once

#include "irc/capabilities.h"
#include "irc/echo_match.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

namespace irc {
class LineRouter;
class ServerEvents;
class ServerLink;
} // namespace irc

namespace peer {

// The user's relayed lines between sending and the server's echo (echo-message): each is
// counted delivered when the echo comes, not delivered when the server refuses it or stays
// silent for 30 s. Nothing is tracked while the server does not echo.
class ChatDeliveries : public QObject
{
    Q_OBJECT

public:
    // Follows what the link granted, our echoed lines and the server's refusals.
    void follow(irc::ServerLink& link, irc::ServerEvents& events);
    explicit ChatDeliveries(QObject* parent = nullptr);

    void setCapabilities(irc::Capabilities capabilities);
    bool isTracking() const { return m_capabilities.has(irc::Capability::EchoMessage); }
    // The monotonic clock, in milliseconds; tests move their own.
    void setClock(std::function<qint64()> clockMs) { m_clockMs = std::move(clockMs); }

    // The id of a line the user is about to send, whose pieces go out as one or more PRIVMSGs;
    // nothing when nothing is tracked.
    std::optional<quint64> newLine();
    // A PRIVMSG of `text` to `target`, a piece of line `id`, is about to go out: the label to
    // send it with (labeled-response), if any.
    std::optional<QByteArray> sending(quint64 id, const QByteArray& target, const QByteArray& text);
    // What the server said: an echo (or ACK) of one of ours, or a refusal.
    void echoed(const irc::Message& message, const QByteArray& ownNick);
    void refused(const irc::Message& message);

    qsizetype pending() const { return m_pending.size(); }

signals:
    void delivered(quint64 id);
    void notDelivered(quint64 id);

private:
    void expire();

    irc::Capabilities m_capabilities;
    irc::PendingEchoes m_pending;
    std::function<qint64()> m_clockMs;
    QTimer m_timer;
    quint64 m_nextId = 1;
    quint64 m_nextLabel = 1; // each piece has its own label, though pieces share their line's id
};

} // namespace peer

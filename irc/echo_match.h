#pragma once

#include "irc/message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// Our sent lines awaiting their echo (echo-message), so that the window can mark each line
// delivered, show the echo no second time, and mark the lines never echoed as not delivered.
class PendingEchoes
{
public:
    // A line unanswered this long is taken as lost.
    static constexpr qint64 kTimeoutMs = 30000;
    // A flood of sends to a server that never echoes must not grow the list without bound.
    static constexpr qsizetype kMaxPending = 200;

    // Records a sent line. When the list is full the oldest is given up and its id returned,
    // to be shown as not delivered. `label` is the label tag the line was sent with, if any.
    std::optional<quint64> sent(quint64 id, const QByteArray& target, const QByteArray& text,
                                const std::optional<QByteArray>& label, qint64 nowMs);

    // The id a received line delivers: a PRIVMSG or NOTICE from `ownNick`, or an ACK, matched by
    // its label tag first, else by target and text, the oldest such line first (a msgid is not
    // known before the echo brings it). Nicks and targets compare without ASCII case.
    std::optional<quint64> echoed(const Message& message, QByteArrayView ownNick);

    // The id an error reply refuses: by its label tag, else, for a numeric that names the target
    // it could not send to (401, 403, 404, 407, 413, 414, 492), the oldest line to that target.
    std::optional<quint64> refused(const Message& message);

    // The ids pending longer than kTimeoutMs, oldest first; they are forgotten.
    QList<quint64> expired(qint64 nowMs);

    qsizetype size() const { return m_pending.size(); }

private:
    struct Pending
    {
        quint64 id;
        QByteArray target;
        QByteArray text;
        std::optional<QByteArray> label;
        qint64 sentMs;
    };

    std::optional<quint64> takeByLabel(const Message& message);
    std::optional<quint64> takeAt(qsizetype index);

    QList<Pending> m_pending; // oldest first
};

} // namespace irc

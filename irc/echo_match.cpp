#include "irc/echo_match.h"

namespace irc {

namespace {

constexpr QByteArrayView kLabelTag = "label";

std::optional<QByteArrayView> tagValue(const Message& message, QByteArrayView key)
{
    for (const Tag& tag : message.tags) {
        if (tag.key == key)
            return QByteArrayView(tag.value);
    }
    return std::nullopt;
}

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool namesTarget(QByteArrayView command)
{
    for (const QByteArrayView numeric : {"401", "403", "404", "407", "413", "414", "492"}) {
        if (command == numeric)
            return true;
    }
    return false;
}

} // namespace

std::optional<quint64> PendingEchoes::sent(quint64 id, const QByteArray& target,
                                           const QByteArray& text,
                                           const std::optional<QByteArray>& label, qint64 nowMs)
{
    std::optional<quint64> givenUp;
    if (m_pending.size() >= kMaxPending)
        givenUp = takeAt(0);
    m_pending.append(Pending{id, target, text, label, nowMs});
    return givenUp;
}

std::optional<quint64> PendingEchoes::echoed(const Message& message, QByteArrayView ownNick)
{
    if (message.command == "ACK")
        return takeByLabel(message);
    if (message.command != "PRIVMSG" && message.command != "NOTICE")
        return std::nullopt;
    // Someone else saying the same words to the same channel is not our echo.
    if (!sameName(splitUserHost(message.source).nick, ownNick) || message.params.size() < 2)
        return std::nullopt;
    if (const std::optional<quint64> id = takeByLabel(message))
        return id;
    const QByteArrayView target = message.params.front();
    const QByteArrayView text = message.params.back();
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        const Pending& pending = m_pending.at(i);
        if (pending.text == text && sameName(pending.target, target))
            return takeAt(i);
    }
    return std::nullopt;
}

std::optional<quint64> PendingEchoes::refused(const Message& message)
{
    if (const std::optional<quint64> id = takeByLabel(message))
        return id;
    // "<client> <target> :<reason>"
    if (!namesTarget(message.command) || message.params.size() < 2)
        return std::nullopt;
    const QByteArrayView target = message.params.at(1);
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (sameName(m_pending.at(i).target, target))
            return takeAt(i);
    }
    return std::nullopt;
}

QList<quint64> PendingEchoes::expired(qint64 nowMs)
{
    QList<quint64> ids;
    // Every line is looked at, not only the oldest: a clock that stepped back can leave a later
    // line older than an earlier one.
    for (qsizetype i = 0; i < m_pending.size();) {
        if (nowMs - m_pending.at(i).sentMs > kTimeoutMs)
            ids.append(*takeAt(i));
        else
            ++i;
    }
    return ids;
}

std::optional<quint64> PendingEchoes::takeByLabel(const Message& message)
{
    const std::optional<QByteArrayView> label = tagValue(message, kLabelTag);
    if (!label || label->isEmpty())
        return std::nullopt;
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        const std::optional<QByteArray>& sentLabel = m_pending.at(i).label;
        if (sentLabel && QByteArrayView(*sentLabel) == *label)
            return takeAt(i);
    }
    return std::nullopt;
}

std::optional<quint64> PendingEchoes::takeAt(qsizetype index)
{
    const quint64 id = m_pending.at(index).id;
    m_pending.removeAt(index);
    return id;
}

} // namespace irc

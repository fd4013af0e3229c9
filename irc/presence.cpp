#include "irc/presence.h"

#include "irc/commands.h"

#include <QSet>

namespace irc {

QList<QByteArray> BuildIsonLines(const QList<QByteArray>& contacts)
{
    return Command::ison(contacts);
}

void PresenceMerge::startPoll(int requestCount)
{
    m_outstanding = requestCount;
    m_names.clear();
}

std::optional<QList<QByteArray>> PresenceMerge::takeReply(const QList<QByteArray>& names)
{
    if (m_outstanding <= 0)
        return names;
    m_names += names;
    if (--m_outstanding > 0)
        return std::nullopt;
    return std::exchange(m_names, {});
}

QList<QByteArray> BuildMonitorLines(char op, const QList<QByteArray>& names)
{
    return Command::monitor(op, names);
}

QList<QByteArray> monitorTargets(QByteArrayView list)
{
    QList<QByteArray> nicks;
    qsizetype start = 0;
    while (start < list.size()) {
        qsizetype end = list.indexOf(',', start);
        if (end < 0)
            end = list.size();
        QByteArrayView target = list.sliced(start, end - start).trimmed();
        if (const qsizetype bang = target.indexOf('!'); bang >= 0)
            target.truncate(bang);
        if (!target.isEmpty())
            nicks.append(target.toByteArray());
        start = end + 1;
    }
    return nicks;
}

QList<QByteArray> MonitorWatch::begin(const QList<QByteArray>& contacts,
                                      const ServerSupport& support)
{
    m_mapping = support.caseMapping;
    m_limit = support.monitorLimit;
    m_watched.clear();
    m_overflow.clear();
    m_online.clear();
    m_fullAt.reset();
    // Whatever an earlier session of ours left on the server's list goes first.
    return QList<QByteArray>{Command::monitorClear()} + sync(contacts);
}

bool MonitorWatch::hasRoom() const
{
    if (m_fullAt && m_watched.size() >= *m_fullAt)
        return false;
    return m_limit == ServerSupport::kNoMonitorLimit || m_watched.size() < m_limit;
}

QList<QByteArray> MonitorWatch::sync(const QList<QByteArray>& contacts)
{
    QList<QByteArray> wanted;
    QSet<QByteArray> wantedKeys;
    for (const QByteArray& contact : contacts) {
        if (!wantedKeys.contains(key(contact))) {
            wantedKeys.insert(key(contact));
            wanted.append(contact);
        }
    }

    QList<QByteArray> gone;
    for (const QByteArray& nick : std::as_const(m_watched)) {
        if (!wantedKeys.contains(key(nick)))
            gone.append(nick);
    }
    m_watched.removeIf([&](const QByteArray& nick) { return !wantedKeys.contains(key(nick)); });
    for (const QByteArray& nick : std::as_const(gone))
        m_online.remove(key(nick));
    m_overflow.removeIf([&](const QByteArray& nick) { return !wantedKeys.contains(key(nick)); });

    QSet<QByteArray> known;
    for (const QByteArray& nick : std::as_const(m_watched))
        known.insert(key(nick));
    for (const QByteArray& nick : std::as_const(m_overflow))
        known.insert(key(nick));

    // Room left by a contact that went is given to the longest-waiting overflow first.
    QList<QByteArray> added;
    while (hasRoom() && !m_overflow.isEmpty()) {
        added.append(m_overflow.takeFirst());
        m_watched.append(added.back());
    }
    for (const QByteArray& contact : std::as_const(wanted)) {
        if (known.contains(key(contact)))
            continue;
        known.insert(key(contact));
        if (hasRoom()) {
            m_watched.append(contact);
            added.append(contact);
        } else {
            m_overflow.append(contact);
        }
    }
    return BuildMonitorLines('-', gone) + BuildMonitorLines('+', added);
}

bool MonitorWatch::setOnline(const QList<QByteArray>& targets)
{
    bool touched = false;
    for (const QByteArray& nick : targets) {
        for (const QByteArray& watched : std::as_const(m_watched)) {
            if (sameNick(nick, watched, m_mapping)) {
                m_online.insert(key(watched), nick);
                touched = true;
                break;
            }
        }
    }
    return touched;
}

bool MonitorWatch::setOffline(const QList<QByteArray>& targets)
{
    bool touched = false;
    for (const QByteArray& nick : targets) {
        for (const QByteArray& watched : std::as_const(m_watched)) {
            if (sameNick(nick, watched, m_mapping)) {
                m_online.remove(key(watched));
                touched = true;
                break;
            }
        }
    }
    return touched;
}

bool MonitorWatch::listFull(const QList<QByteArray>& targets)
{
    bool moved = false;
    for (const QByteArray& nick : targets) {
        for (qsizetype i = 0; i < m_watched.size(); ++i) {
            if (sameNick(nick, m_watched[i], m_mapping)) {
                m_online.remove(key(m_watched[i]));
                m_overflow.append(m_watched.takeAt(i));
                moved = true;
                break;
            }
        }
    }
    if (moved)
        m_fullAt = m_watched.size();
    return moved;
}

QList<QByteArray> MonitorWatch::onlineNames() const
{
    QList<QByteArray> names;
    for (const QByteArray& nick : m_watched) {
        const auto online = m_online.constFind(key(nick));
        if (online != m_online.constEnd())
            names.append(*online);
    }
    return names;
}

} // namespace irc

#include "irc/presence.h"

namespace irc {

QList<QByteArray> BuildIsonLines(const QList<QByteArray>& contacts)
{
    constexpr qsizetype kBudget = kMaxLineContent;
    QList<QByteArray> lines;
    QByteArray line;
    for (const QByteArray& name : contacts) {
        if (name.isEmpty() || 5 + name.size() > kBudget)
            continue;
        if (!line.isEmpty() && line.size() + 1 + name.size() > kBudget) {
            lines.append(line);
            line.clear();
        }
        if (line.isEmpty()) {
            // Room for a whole line up front: a poll of many contacts builds several.
            line.reserve(kBudget);
            line.append("ISON");
        }
        line.append(' ').append(name);
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
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

} // namespace irc

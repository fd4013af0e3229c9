#include "irc/ctcp_queries.h"

#include <algorithm>

namespace irc {

void CtcpQueries::forgetOlderThan(qint64 nowMs)
{
    while (!m_waiting.empty() && nowMs - m_waiting.front().askedAtMs > kAnswerWindowMs)
        m_waiting.pop_front();
}

void CtcpQueries::asked(QByteArrayView nick, CtcpCode code, qint64 nowMs)
{
    if (code == CtcpCode::None)
        return;
    forgetOlderThan(nowMs);
    if (m_waiting.size() >= std::size_t(kMaxWaiting))
        m_waiting.pop_front();
    m_waiting.push_back({nick.toByteArray(), code, nowMs});
}

bool CtcpQueries::takeReply(QByteArrayView nick, CtcpCode code, qint64 nowMs)
{
    forgetOlderThan(nowMs);
    const auto found = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Query& query) {
        return query.code == code && sameNick(query.nick, nick, m_mapping);
    });
    if (found == m_waiting.end())
        return false;
    m_waiting.erase(found);
    return true;
}

CtcpCode replyCodeOf(ContactQuery query)
{
    switch (query) {
    case ContactQuery::Whois:
        return CtcpCode::None;
    case ContactQuery::Ping:
        return CtcpCode::Ping;
    case ContactQuery::Version:
        return CtcpCode::Version;
    case ContactQuery::Finger:
        return CtcpCode::Finger;
    case ContactQuery::Time:
        return CtcpCode::Time;
    case ContactQuery::Source:
        return CtcpCode::Source;
    }
    return CtcpCode::None;
}

} // namespace irc

#include "irc/ctcp_queries.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "irc/texts.h"

#include <algorithm>

namespace irc {

void CtcpQueries::asked(QByteArrayView nick, CtcpCode code, qint64 nowMs)
{
    if (code == CtcpCode::None)
        return;
    if (m_waiting.size() >= std::size_t(kMaxWaiting))
        m_waiting.pop_front();
    m_waiting.push_back({nick.toByteArray(), code, nowMs});
}

std::optional<CtcpQueries::Query> CtcpQueries::takeReply(QByteArrayView nick, CtcpCode code,
                                                         qint64 nowMs)
{
    // A query past its wait stays until takeExpired() reports it, but answers nothing: the user
    // may already have been told that no reply came.
    const auto found = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const Query& query) {
        return query.code == code && !expired(query, nowMs)
               && sameNick(query.nick, nick, m_mapping);
    });
    if (found == m_waiting.end())
        return std::nullopt;
    Query query = *found;
    m_waiting.erase(found);
    return query;
}

std::vector<CtcpQueries::Query> CtcpQueries::takeExpired(qint64 nowMs)
{
    std::vector<Query> over;
    // Oldest first, and every wait is equally long: the expired ones are all at the front.
    while (!m_waiting.empty() && expired(m_waiting.front(), nowMs)) {
        over.push_back(std::move(m_waiting.front()));
        m_waiting.pop_front();
    }
    return over;
}

std::optional<qint64> CtcpQueries::nextDeadlineMs() const
{
    if (m_waiting.empty())
        return std::nullopt;
    return m_waiting.front().askedAtMs + kReplyWaitMs;
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

CtcpReplyBox answeredReplyBox(const CtcpReplyBox& reply, QByteArrayView sender,
                              const CtcpQueries::Query& query, qint64 nowMs)
{
    const QString text = query.code == CtcpCode::Ping
                             ? QString::fromLatin1(text::kPingReplyMs).arg(nowMs - query.askedAtMs)
                             : reply.text;
    // The nick is one line: it may not make up the reply's line below it.
    return {reply.title, QString::fromLatin1(text::kReplyFrom)
                             .arg(diag::escapeControls(diag::decodeServerText(sender)), text)};
}

CtcpReplyBox noReplyBox(const CtcpQueries::Query& query)
{
    return {ctcpReplyTitle(query.code),
            QString::fromLatin1(text::kNoReply)
                .arg(diag::decodeServerText(query.nick), ctcpQueryName(query.code))};
}

} // namespace irc

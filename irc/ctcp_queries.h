#pragma once

#include "irc/ctcp.h"
#include "irc/isupport.h"

#include <QByteArray>
#include <QByteArrayView>

#include <deque>
#include <optional>
#include <vector>

namespace irc {

// The CTCP queries we put to other users and are still waiting on. A reply is shown only when
// it answers one of them, so that nobody can open boxes on our screen by sending replies we
// never asked for. A query that waits too long is given up, and the user is told. Fed a
// monotonic clock in milliseconds.
class CtcpQueries
{
public:
    // How long a query waits for its reply; a later reply answers nothing.
    static constexpr qint64 kReplyWaitMs = 15000;
    // The user asks by hand, so this is never reached in use; it only bounds the memory.
    static constexpr int kMaxWaiting = 32;

    struct Query
    {
        QByteArray nick; // as the user gave it
        CtcpCode code;
        qint64 askedAtMs;

        bool operator==(const Query& other) const
        {
            return nick == other.nick && code == other.code && askedAtMs == other.askedAtMs;
        }
    };

    // How the server folds nicks, so that "Bob" answers a query to "bob".
    void setCaseMapping(CaseMapping mapping) { m_mapping = mapping; }
    void asked(QByteArrayView nick, CtcpCode code, qint64 nowMs);
    // The query of ours that a reply of `code` from `nick` answers, if any; it is then used up,
    // so each query shows at most one reply.
    std::optional<Query> takeReply(QByteArrayView nick, CtcpCode code, qint64 nowMs);
    // The queries whose wait is over by `nowMs`, oldest first; they are given up, so each is
    // reported once and a reply that comes after it answers nothing.
    std::vector<Query> takeExpired(qint64 nowMs);
    // When the next wait is over; nothing when no query waits.
    std::optional<qint64> nextDeadlineMs() const;
    void clear() { m_waiting.clear(); }

private:
    static bool expired(const Query& query, qint64 nowMs)
    {
        return nowMs - query.askedAtMs >= kReplyWaitMs;
    }

    std::deque<Query> m_waiting; // oldest first
    CaseMapping m_mapping = CaseMapping::Rfc1459;
};

// The reply kind a query asks for; None for WHOIS, which the server answers.
CtcpCode replyCodeOf(ContactQuery query);

// The box for `reply`, read from a NOTICE of `sender` that answers `query`, at `nowMs`: it names
// who replied. A PING reply shows the round trip we measured, in milliseconds, as the number in
// the reply is whatever the peer chose to send back (another Kivvo echoes ours, others may send
// their own clock).
CtcpReplyBox answeredReplyBox(const CtcpReplyBox& reply, QByteArrayView sender,
                              const CtcpQueries::Query& query, qint64 nowMs);

// The box shown where the reply to `query` would have appeared, once its wait is over.
CtcpReplyBox noReplyBox(const CtcpQueries::Query& query);

} // namespace irc

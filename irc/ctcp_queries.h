#pragma once

#include "irc/ctcp.h"
#include "irc/isupport.h"

#include <QByteArray>
#include <QByteArrayView>

#include <deque>

namespace irc {

// The CTCP queries we put to other users and are still waiting on. A reply is shown only when
// it answers one of them, so that nobody can open boxes on our screen by sending replies we
// never asked for. Fed a monotonic clock in milliseconds.
class CtcpQueries
{
public:
    // A reply later than this answers nothing.
    static constexpr qint64 kAnswerWindowMs = 60000;
    // The user asks by hand, so this is never reached in use; it only bounds the memory.
    static constexpr int kMaxWaiting = 32;

    // How the server folds nicks, so that "Bob" answers a query to "bob".
    void setCaseMapping(CaseMapping mapping) { m_mapping = mapping; }
    void asked(QByteArrayView nick, CtcpCode code, qint64 nowMs);
    // Whether a reply of `code` from `nick` answers a query of ours; that query is then used
    // up, so each query shows at most one reply.
    bool takeReply(QByteArrayView nick, CtcpCode code, qint64 nowMs);
    void clear() { m_waiting.clear(); }

private:
    struct Query
    {
        QByteArray nick;
        CtcpCode code;
        qint64 askedAtMs;
    };

    void forgetOlderThan(qint64 nowMs);

    std::deque<Query> m_waiting; // oldest first
    CaseMapping m_mapping = CaseMapping::Rfc1459;
};

// The reply kind a query asks for; None for WHOIS, which the server answers.
CtcpCode replyCodeOf(ContactQuery query);

} // namespace irc

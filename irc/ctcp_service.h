#pragma once

#include "irc/ctcp.h"
#include "irc/ctcp_queries.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace irc {

class RetryTimer;
class ServerEvents;
class ServerLink;

// CTCP both ways: answers the queries of others within the answer limit, and shows a reply only
// as the first answer to a query of ours, named with the nick it came from (a Ping with the round
// trip measured here); any other reply goes to the debug window. A query that no reply answered
// within its wait gets its "No reply from ..." box instead.
class CtcpService : public QObject
{
    Q_OBJECT

public:
    CtcpService(ServerLink& link, ServerEvents& events, QObject* parent = nullptr);
    ~CtcpService() override;

    // The user put `query` to `nick`: a reply from them within the wait is shown, and when none
    // comes, a box says so.
    void queryAsked(QByteArrayView nick, ContactQuery query);
    // The monotonic clock in milliseconds and the timer of the replies' waits; tests put a
    // hand-moved pair here.
    void setReplyClock(std::function<qint64()> clockMs, std::unique_ptr<RetryTimer> timer);

signals:
    void replyArrived(irc::CtcpCode code, const QString& title, const QString& text);

private:
    void answer(QByteArrayView sender, const Ctcp& query);
    void takeReply(QByteArrayView sender, const Ctcp& reply);
    void takeSupport(const QList<QByteArray>& tokens);
    // A new connection: nothing asked before is still waited on, and nicks compare as RFC 1459
    // until the server says otherwise.
    void forgetQueries();
    // Wakes at the end of the next reply's wait, or not at all when nothing waits.
    void waitForReplies();
    void repliesOverdue();

    ServerLink& m_link;
    CtcpAnswerLimit m_answerLimit;
    CtcpQueries m_queries;
    QElapsedTimer m_clock;
    std::function<qint64()> m_clockMs;
    std::unique_ptr<RetryTimer> m_replyTimer;
};

} // namespace irc

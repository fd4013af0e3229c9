#include "irc/ctcp_service.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/isupport.h"
#include "irc/retry_timer.h"
#include "irc/server_events.h"
#include "irc/server_link.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>

namespace irc {

namespace {

// The time as the user's locale writes it, for the TIME answer.
CtcpLocalTime localTime()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    // The locale's long time format, without the time zone: hours, minutes and seconds.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    return {now.toSecsSinceEpoch(), locale.toString(now.date(), QLocale::ShortFormat).toUtf8(),
            locale.toString(now.time(), timeFormat.trimmed()).toUtf8()};
}

} // namespace

CtcpService::CtcpService(ServerLink& link, ServerEvents& events, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_clockMs([this] { return m_clock.elapsed(); })
    , m_replyTimer(makeRetryTimer())
{
    m_clock.start();
    connect(&events, &ServerEvents::ctcpQuery, this, &CtcpService::answer);
    connect(&events, &ServerEvents::ctcpReply, this, &CtcpService::takeReply);
    connect(&events, &ServerEvents::serverSupport, this, &CtcpService::takeSupport);
    connect(&link, &ServerLink::registered, this, &CtcpService::forgetQueries);
}

CtcpService::~CtcpService() = default;

void CtcpService::setReplyClock(std::function<qint64()> clockMs, std::unique_ptr<RetryTimer> timer)
{
    m_replyTimer->stop();
    m_clockMs = std::move(clockMs);
    m_replyTimer = std::move(timer);
    waitForReplies();
}

void CtcpService::queryAsked(QByteArrayView nick, ContactQuery query)
{
    m_queries.asked(nick, replyCodeOf(query), m_clockMs());
    waitForReplies();
}

void CtcpService::forgetQueries()
{
    m_queries.clear();
    m_queries.setCaseMapping(CaseMapping::Rfc1459);
    waitForReplies();
}

void CtcpService::takeSupport(const QList<QByteArray>& tokens)
{
    for (const QByteArray& token : tokens) {
        if (!token.startsWith("CASEMAPPING="))
            continue;
        ServerSupport support;
        applyIsupportTokens(support, {token});
        m_queries.setCaseMapping(support.caseMapping);
    }
}

void CtcpService::waitForReplies()
{
    const std::optional<qint64> deadline = m_queries.nextDeadlineMs();
    if (!deadline) {
        m_replyTimer->stop();
        return;
    }
    m_replyTimer->start(std::max<qint64>(0, *deadline - m_clockMs()), [this] { repliesOverdue(); });
}

void CtcpService::repliesOverdue()
{
    for (const CtcpQueries::Query& query : m_queries.takeExpired(m_clockMs())) {
        const CtcpReplyBox box = noReplyBox(query);
        emit replyArrived(query.code, box.title, box.text);
    }
    waitForReplies();
}

void CtcpService::takeReply(QByteArrayView sender, const Ctcp& reply)
{
    const CtcpCode code = reply.code;
    const auto box = readCtcpReply(reply.text, code, QDateTime::currentSecsSinceEpoch());
    if (!box)
        return;
    // Anyone can send a reply; only one to our own question may open a box.
    const qint64 now = m_clockMs();
    const auto query = m_queries.takeReply(sender, code, now);
    if (!query) {
        diag::DebugLog(QStringLiteral("%1 from %2, not asked for: %3")
                           .arg(box->title, diag::decodeServerText(sender), box->text));
        return;
    }
    waitForReplies();
    const CtcpReplyBox shown = answeredReplyBox(*box, sender, *query, now);
    emit replyArrived(code, shown.title, shown.text);
}

void CtcpService::answer(QByteArrayView sender, const Ctcp& query)
{
    const auto answer = answerCtcpQuery(sender, query.text, query.code, localTime());
    if (!answer)
        return;
    switch (m_answerLimit.admit(m_clockMs())) {
    case CtcpAnswerVerdict::Answered:
        m_link.sendLine(*answer);
        break;
    case CtcpAnswerVerdict::DroppedFirst:
        diag::DebugLog(QString::fromLatin1(kCtcpAnswersDropped));
        break;
    case CtcpAnswerVerdict::Dropped:
        break;
    }
}

} // namespace irc

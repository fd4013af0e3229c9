#include "app/server_actions.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/ctcp.h"
#include "irc/server_link.h"
#include "irc/server_time.h"

#include <QDateTime>
#include <QHostInfo>
#include <QLocale>
#include <QPointer>

#include <algorithm>

namespace app {

ServerActions::ServerActions(irc::ServerLink& link, QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_clockMs([this] { return m_clock.elapsed(); })
    , m_replyTimer(irc::makeRetryTimer())
{
    m_clock.start();
}

ServerActions::~ServerActions() = default;

void ServerActions::setReplyClock(std::function<qint64()> clockMs,
                                  std::unique_ptr<irc::RetryTimer> timer)
{
    m_replyTimer->stop();
    m_clockMs = std::move(clockMs);
    m_replyTimer = std::move(timer);
    waitForReplies();
}

void ServerActions::queryAsked(QByteArrayView nick, irc::ContactQuery query)
{
    m_queries.asked(nick, irc::replyCodeOf(query), monotonicMs());
    waitForReplies();
}

void ServerActions::forgetQueries()
{
    m_queries.clear();
    m_queries.setCaseMapping(irc::CaseMapping::Rfc1459);
    waitForReplies();
}

void ServerActions::waitForReplies()
{
    const std::optional<qint64> deadline = m_queries.nextDeadlineMs();
    if (!deadline) {
        m_replyTimer->stop();
        return;
    }
    m_replyTimer->start(std::max<qint64>(0, *deadline - monotonicMs()),
                        [this] { repliesOverdue(); });
}

void ServerActions::repliesOverdue()
{
    for (const irc::CtcpQueries::Query& query : m_queries.takeExpired(monotonicMs())) {
        const irc::CtcpReplyBox box = irc::noReplyBox(query);
        emit ctcpReplyArrived(query.code, box.title, box.text);
    }
    waitForReplies();
}

QByteArray ServerActions::nickInUse() const
{
    return m_link.nickInUse();
}

qint64 ServerActions::nowMs() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray ServerActions::localHostName() const
{
    return QHostInfo::localHostName().toUtf8();
}

bool ServerActions::sendLine(const QByteArray& line)
{
    return m_link.sendLine(line);
}

void ServerActions::ctcpReply(QByteArrayView sender, const irc::Ctcp& reply)
{
    const irc::CtcpCode code = reply.code;
    const auto box = irc::readCtcpReply(reply.text, code, nowMs() / 1000);
    if (!box)
        return;
    // Anyone can send a reply; only one to our own question may open a box.
    const qint64 now = monotonicMs();
    const auto query = m_queries.takeReply(sender, code, now);
    if (!query) {
        diag::DebugLog(QStringLiteral("%1 from %2, not asked for: %3")
                           .arg(box->title, diag::decodeServerText(sender), box->text));
        return;
    }
    waitForReplies();
    const irc::CtcpReplyBox shown = irc::answeredReplyBox(*box, sender, *query, now);
    emit ctcpReplyArrived(code, shown.title, shown.text);
}

void ServerActions::ctcpQuery(QByteArrayView sender, const irc::Ctcp& query)
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    // The locale's long time format, without the time zone: hours, minutes and seconds.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    const irc::CtcpLocalTime local{now.toSecsSinceEpoch(),
                                   locale.toString(now.date(), QLocale::ShortFormat).toUtf8(),
                                   locale.toString(now.time(), timeFormat.trimmed()).toUtf8()};
    const auto answer = irc::answerCtcpQuery(sender, query.text, query.code, local);
    if (!answer)
        return;
    switch (m_answerLimit.admit(monotonicMs())) {
    case irc::CtcpAnswerVerdict::Answered:
        sendLine(*answer);
        break;
    case irc::CtcpAnswerVerdict::DroppedFirst:
        diag::DebugLog(QString::fromLatin1(irc::kCtcpAnswersDropped));
        break;
    case irc::CtcpAnswerVerdict::Dropped:
        break;
    }
}

void ServerActions::dccOffer(const irc::DccOffer& offer)
{
    emit dccOfferArrived(offer);
}

void ServerActions::dccResume(const irc::DccResume& resume)
{
    emit dccResumeArrived(resume);
}

void ServerActions::beginLine(const irc::Message& message)
{
    m_lineTime = {};
    m_lineMsgId.clear();
    if (!m_capabilities.has(irc::Capability::ServerTime))
        return;
    if (const std::optional<QDateTime> at = irc::serverTime(message))
        m_lineTime = *at;
    for (const irc::Tag& tag : message.tags) {
        if (tag.key == "msgid")
            m_lineMsgId = tag.value;
    }
}

void ServerActions::privateText(QByteArrayView sender, std::optional<QByteArrayView> text,
                                const std::optional<QByteArray>& awayEcho)
{
    std::optional<QByteArray> ownText;
    if (text)
        ownText = text->toByteArray();
    const QByteArray nick = sender.toByteArray();
    if (m_lineTime.isValid() && text)
        emit privateLineStamped(nick, m_lineMsgId, m_lineTime);
    emit privateTextArrived(nick, ownText, awayEcho, m_lineTime);
}

void ServerActions::awayChanged(QByteArrayView nick, std::optional<QByteArrayView> text)
{
    emit awayArrived(nick.toByteArray(),
                     text ? std::optional<QByteArray>(text->toByteArray()) : std::nullopt);
}

void ServerActions::awayStates(const QList<std::pair<QByteArray, bool>>& nicks)
{
    for (const auto& [nick, away] : nicks)
        emit awayArrived(nick, away ? std::optional<QByteArray>(QByteArray()) : std::nullopt);
}

void ServerActions::typingNotice(QByteArrayView nick, irc::TypingState state)
{
    emit typingArrived(nick.toByteArray(), state);
}

void ServerActions::ownLineEchoed(const irc::Message& message)
{
    // Our own line to a contact is history too: fetched again later, it is known.
    if (m_lineTime.isValid() && message.command == "PRIVMSG" && message.params.size() >= 2)
        emit privateLineStamped(message.params.front().toByteArray(), m_lineMsgId, m_lineTime);
    emit ownLineEchoedArrived(message);
}

void ServerActions::lineRefused(const irc::Message& message)
{
    emit lineRefusedArrived(message);
}

void ServerActions::privateNotice(QByteArrayView sender, QByteArrayView text)
{
    emit privateNoticeArrived(sender.toByteArray(), text.toByteArray());
}

std::optional<irc::ServerLineActions::SealedText>
ServerActions::sealedAwayText(QByteArrayView nick, QByteArrayView text, qsizetype room)
{
    if (!m_awaySealer)
        return std::nullopt;
    return m_awaySealer(nick.toByteArray(), text, room);
}

void ServerActions::presenceReply(const Names& onlineNames)
{
    QList<QByteArray> names;
    names.reserve(onlineNames.size());
    for (const QByteArrayView name : onlineNames)
        names.append(name.toByteArray());
    emit onlineNamesArrived(names);
}

void ServerActions::serverSupport(const QList<QByteArray>& tokens)
{
    emit serverSupportArrived(tokens);
}

void ServerActions::monitorOnline(const QList<QByteArray>& nicks)
{
    emit monitorOnlineArrived(nicks);
}

void ServerActions::monitorOffline(const QList<QByteArray>& nicks)
{
    emit monitorOfflineArrived(nicks);
}

void ServerActions::monitorListFull(const QList<QByteArray>& nicks)
{
    emit monitorListFullArrived(nicks);
}

void ServerActions::commandRefused(const QByteArray& command)
{
    emit commandRefusedArrived(command);
}

void ServerActions::showWhois(QByteArrayView text)
{
    emit whoisArrived(diag::decodeServerText(text));
}

void ServerActions::resolveOwnHost(QByteArrayView host)
{
    // Resolved in the background: the GUI never waits for a name server.
    QHostInfo::lookupHost(QString::fromUtf8(host), this, [this](const QHostInfo& info) {
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                emit ownAddressResolved(address.toIPv4Address());
                return;
            }
        }
    });
}

void ServerActions::logStatus(const QString& text)
{
    diag::DebugLog(text);
}

} // namespace app

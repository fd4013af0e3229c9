#pragma once

#include "irc/ctcp.h"
#include "irc/ctcp_queries.h"
#include "irc/message_dispatcher.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>

namespace irc {
class RetryTimer;
class ServerLink;
} // namespace irc

namespace app {

// Carries out what the dispatcher decides about server lines, on the program's real parts: the
// server link and the name resolver; the rest goes out as typed signals.
class ServerActions : public QObject, public irc::ServerLineActions
{
    Q_OBJECT

public:
    explicit ServerActions(irc::ServerLink& link, QObject* parent = nullptr);
    ~ServerActions() override;

    // The user put `query` to `nick`: a reply from them within the wait is shown, and when none
    // comes, a box says so.
    void queryAsked(QByteArrayView nick, irc::ContactQuery query);
    // The monotonic clock in milliseconds and the timer of the replies' waits; tests put a
    // hand-moved pair here.
    void setReplyClock(std::function<qint64()> clockMs, std::unique_ptr<irc::RetryTimer> timer);
    void setCaseMapping(irc::CaseMapping mapping) { m_queries.setCaseMapping(mapping); }
    // A new connection: nothing asked before is still waited on, and nicks compare as RFC 1459
    // until the server says otherwise.
    void forgetQueries();
    // What the server granted: with server-time, lines carry the time they were sent.
    void setCapabilities(irc::Capabilities capabilities) { m_capabilities = capabilities; }
    // The line about to be dispatched: its time and msgid tags, for what it brings.
    void beginLine(const irc::Message& message);

    QByteArray nickInUse() const override;
    qint64 nowMs() const override;
    QByteArray localHostName() const override;
    bool sendLine(const QByteArray& line) override;
    void ctcpReply(QByteArrayView sender, const irc::Ctcp& reply) override;
    void ctcpQuery(QByteArrayView sender, const irc::Ctcp& query) override;
    void dccOffer(const irc::DccOffer& offer) override;
    void dccResume(const irc::DccResume& resume) override;
    void privateText(QByteArrayView sender, std::optional<QByteArrayView> text,
                     const std::optional<QByteArray>& awayEcho) override;
    void privateNotice(QByteArrayView sender, QByteArrayView text) override;
    std::optional<SealedText> sealedAwayText(QByteArrayView nick, QByteArrayView text,
                                             qsizetype room) override;
    // Seals the away reply to a contact whose chats are encrypted; nothing is sealed without.
    using AwaySealer = std::function<std::optional<SealedText>(
        const QByteArray& nick, QByteArrayView text, qsizetype room)>;
    void setAwaySealer(AwaySealer sealer) { m_awaySealer = std::move(sealer); }
    void presenceReply(const Names& onlineNames) override;
    void serverSupport(const QList<QByteArray>& tokens) override;
    void monitorOnline(const QList<QByteArray>& nicks) override;
    void monitorOffline(const QList<QByteArray>& nicks) override;
    void monitorListFull(const QList<QByteArray>& nicks) override;
    void commandRefused(const QByteArray& command) override;
    void awayChanged(QByteArrayView nick, std::optional<QByteArrayView> text) override;
    void typingNotice(QByteArrayView nick, irc::TypingState state) override;
    void awayStates(const QList<std::pair<QByteArray, bool>>& nicks) override;
    void ownLineEchoed(const irc::Message& message) override;
    void lineRefused(const irc::Message& message) override;
    void showWhois(QByteArrayView text) override;
    void resolveOwnHost(QByteArrayView host) override;
    void logStatus(const QString& text) override;

signals:
    // `at`: the server's time of the line (server-time); invalid without one.
    void privateTextArrived(const QByteArray& sender, const std::optional<QByteArray>& text,
                            const std::optional<QByteArray>& awayEcho, const QDateTime& at);
    // A private line with `nick` (from them, or ours echoed) carried the server's time.
    void privateLineStamped(const QByteArray& nick, const QByteArray& msgId, const QDateTime& at);
    // `nick` went away with `text` (empty when only the fact is known), or came back.
    void awayArrived(const QByteArray& nick, const std::optional<QByteArray>& text);
    void typingArrived(const QByteArray& nick, irc::TypingState state);
    // These two view the line: connected directly, and copied if kept.
    void ownLineEchoedArrived(const irc::Message& message);
    void lineRefusedArrived(const irc::Message& message);
    void privateNoticeArrived(const QByteArray& sender, const QByteArray& text);
    void onlineNamesArrived(const QList<QByteArray>& names);
    void serverSupportArrived(const QList<QByteArray>& tokens);
    void monitorOnlineArrived(const QList<QByteArray>& nicks);
    void monitorOfflineArrived(const QList<QByteArray>& nicks);
    void monitorListFullArrived(const QList<QByteArray>& nicks);
    void commandRefusedArrived(const QByteArray& command);
    void whoisArrived(const QString& text);
    void dccOfferArrived(const irc::DccOffer& offer);
    void dccResumeArrived(const irc::DccResume& resume);
    void ctcpReplyArrived(irc::CtcpCode code, const QString& title, const QString& text);
    // Our IPv4 address as the server sees it, host byte order.
    void ownAddressResolved(quint32 address);

private:
    qint64 monotonicMs() const { return m_clockMs(); }
    // Wakes at the end of the next reply's wait, or not at all when nothing waits.
    void waitForReplies();
    void repliesOverdue();

    irc::ServerLink& m_link;
    irc::CtcpAnswerLimit m_answerLimit;
    irc::CtcpQueries m_queries;
    QElapsedTimer m_clock;
    std::function<qint64()> m_clockMs;
    std::unique_ptr<irc::RetryTimer> m_replyTimer;
    AwaySealer m_awaySealer;
    irc::Capabilities m_capabilities;
    QDateTime m_lineTime;
    QByteArray m_lineMsgId;
};

} // namespace app

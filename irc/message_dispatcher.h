#pragma once

#include "config/settings.h"
#include "irc/dcc_offer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

#include <deque>
#include <optional>

namespace irc {

// What the dispatcher asks of the rest of the program. It decides; these carry it out.
class ServerLineActions
{
public:
    virtual ~ServerLineActions() = default;

    virtual QByteArray nickInUse() const = 0;
    virtual void setNickInUse(const QByteArray& nick) = 0;
    virtual qint64 nowMs() const = 0;
    virtual QByteArray localHostName() const = 0;

    // One line to the server, without CR LF; false when it could not go out.
    virtual bool sendLine(const QByteArray& line) = 0;
    virtual void setTitleNick(const QByteArray& nick) = 0;

    // Parts of a server line arrive as views into it, valid only during the call: most lines
    // are read and forgotten, and copying them out cost more than the rest of the dispatch.
    // What is kept or sent on must be copied by the implementation.

    // The trailing text of a NOTICE (CTCP replies are recognised there).
    virtual void noticeText(QByteArrayView sender, QByteArrayView text) = 0;
    // A CTCP query in a PRIVMSG; true when it was one and has been answered.
    virtual bool ctcpQuery(QByteArrayView sender, QByteArrayView text) = 0;
    // A DCC offer that could be read; what to do with it is the caller's question.
    virtual void dccOffer(const DccOffer& offer) = 0;
    // A DCC RESUME or ACCEPT that could be read.
    virtual void dccResume(const DccResume& /*resume*/) {}
    // Private text for the sender's chat; `text` absent when the line carried none, `awayEcho`
    // the away reply that just went out, shown as the user's own line.
    virtual void privateText(QByteArrayView sender, std::optional<QByteArrayView> text,
                             const std::optional<QByteArray>& awayEcho) = 0;
    virtual void presenceReply(const QList<QByteArray>& onlineNames) = 0;
    // The tokens of an RPL_ISUPPORT (005) line.
    virtual void serverSupport(const QList<QByteArray>& /*tokens*/) {}
    // MONITOR replies, as nicks: 730 online, 731 offline, 734 not taken (the list is full).
    virtual void monitorOnline(const QList<QByteArray>& /*nicks*/) {}
    virtual void monitorOffline(const QList<QByteArray>& /*nicks*/) {}
    virtual void monitorListFull(const QList<QByteArray>& /*nicks*/) {}
    // 421: the server does not know `command`.
    virtual void commandRefused(const QByteArray& /*command*/) {}
    virtual void showWhois(QByteArrayView text) = 0;
    // Our host as the server sees it, to be resolved without blocking.
    virtual void resolveOwnHost(QByteArrayView host) = 0;
    virtual void logStatus(const QString& text) = 0;
};

// The sender of a line: after a ':' prefix, up to '!' or the first blank; without a prefix, the
// text after the command word up to the blank before the trailing text.
QByteArray GetSenderNick(QByteArrayView line);
// The text after the first ':' past the line's first character.
std::optional<QByteArray> trailingText(QByteArrayView line);

// Acts on each server line: keep-alive, CTCP, DCC offers, private text, presence (ISON, MONITOR,
// what the server supports, the commands it refuses), whois, our own address and nick
// collisions. Keeps only the away reply's rates, per sender and overall.
class MessageDispatcher
{
public:
    static constexpr qint64 kAwayReplyIntervalMs = 60'000;
    // However many nicks write to us, at most this many away replies go out a minute: a flood
    // from many nicks would otherwise have the server cut us off for flooding in its turn.
    static constexpr std::size_t kAwayRepliesPerMinute = 10;

    MessageDispatcher(config::Settings settings, ServerLineActions& actions)
        : m_settings(std::move(settings))
        , m_actions(actions)
    {}

    void HandleServerLine(QByteArrayView line);
    // The settings changed: the next away reply and nick collision use these.
    void setSettings(const config::Settings& settings) { m_settings = settings; }

private:
    void ping(QByteArrayView line);
    void privmsg(QByteArrayView line);
    void whois(QByteArrayView line);
    void whoReply(QByteArrayView line);
    void monitorFull(QByteArrayView line);
    void unknownCommand(QByteArrayView line);
    void nickInUse();
    bool awayReplyDue(QByteArrayView sender);
    std::optional<QByteArray> sendAwayReply(QByteArrayView sender);
    bool dccOffer(QByteArrayView line, QByteArrayView text);

    config::Settings m_settings;
    ServerLineActions& m_actions;
    QHash<QByteArray, qint64> m_lastAwayReply;
    std::deque<qint64> m_recentAwayReplies; // at most kAwayRepliesPerMinute, oldest first
};

} // namespace irc

#pragma once

#include "config/settings.h"
#include "irc/capabilities.h"
#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/typing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QVarLengthArray>

#include <deque>
#include <optional>

namespace irc {

// What the dispatcher asks of the rest of the program. It decides; these carry it out.
class ServerLineActions
{
public:
    virtual ~ServerLineActions() = default;

    // The nick the server knows us by.
    virtual QByteArray nickInUse() const = 0;
    virtual qint64 nowMs() const = 0;
    virtual QByteArray localHostName() const = 0;

    // One line to the server, without CR LF; false when it could not go out.
    virtual bool sendLine(const QByteArray& line) = 0;

    // Parts of a server line arrive as views into it, valid only during the call: most lines
    // are read and forgotten, and copying them out cost more than the rest of the dispatch.
    // What is kept or sent on must be copied by the implementation.

    // A CTCP reply of the keyword table in a NOTICE.
    virtual void ctcpReply(QByteArrayView sender, const Ctcp& reply) = 0;
    // A NOTICE to us that is no CTCP reply (a key exchange may come so).
    virtual void privateNotice(QByteArrayView /*sender*/, QByteArrayView /*text*/) {}
    // The away reply to `nick` as it goes on the wire when the chats with `nick` are encrypted:
    // as much of `text` as fits `room` bytes, sealed; nothing when they are not.
    struct SealedText
    {
        QByteArray wire;  // what goes in the PRIVMSG
        QByteArray plain; // what it says, as the user's own line shows it
        // Encrypted chats that cannot be sealed for now: no reply goes, neither sealed nor clear.
        bool withheld = false;
    };
    virtual std::optional<SealedText> sealedAwayText(QByteArrayView /*nick*/,
                                                     QByteArrayView /*text*/, qsizetype /*room*/)
    {
        return std::nullopt;
    }
    // A CTCP query of the keyword table in a PRIVMSG: answered, or dropped as the limits say.
    virtual void ctcpQuery(QByteArrayView sender, const Ctcp& query) = 0;
    // A DCC offer that could be read; what to do with it is the caller's question.
    virtual void dccOffer(const DccOffer& offer) = 0;
    // A DCC RESUME or ACCEPT that could be read.
    virtual void dccResume(const DccResume& /*resume*/) {}
    // Private text for the sender's chat; `text` absent when the line carried none, `awayEcho`
    // the away reply that just went out, shown as the user's own line.
    virtual void privateText(QByteArrayView sender, std::optional<QByteArrayView> text,
                             const std::optional<QByteArray>& awayEcho) = 0;
    // The names of an ISON reply (303), in its order.
    using Names = QVarLengthArray<QByteArrayView, 32>;
    virtual void presenceReply(const Names& onlineNames) = 0;
    // The tokens of an RPL_ISUPPORT (005) line.
    virtual void serverSupport(const QList<QByteArray>& /*tokens*/) {}
    // MONITOR replies, as nicks: 730 online, 731 offline, 734 not taken (the list is full).
    virtual void monitorOnline(const QList<QByteArray>& /*nicks*/) {}
    virtual void monitorOffline(const QList<QByteArray>& /*nicks*/) {}
    virtual void monitorListFull(const QList<QByteArray>& /*nicks*/) {}
    // 421: the server does not know `command`.
    virtual void commandRefused(const QByteArray& /*command*/) {}
    // away-notify: `nick` went away with `text`, or came back (no text).
    virtual void awayChanged(QByteArrayView /*nick*/, std::optional<QByteArrayView> /*text*/) {}
    // A USERHOST reply (302): whether each nick is away.
    virtual void awayStates(const QList<std::pair<QByteArray, bool>>& /*nicks*/) {}
    // A "+typing" tag from `nick` to us alone (TAGMSG).
    virtual void typingNotice(QByteArrayView /*nick*/, TypingState /*state*/) {}
    // echo-message: a PRIVMSG or NOTICE of ours as the server relayed it (or its ACK).
    virtual void ownLineEchoed(const Message& /*message*/) {}
    // An error reply that may refuse a line we sent (no such nick, cannot send, ...).
    virtual void lineRefused(const Message& /*message*/) {}
    virtual void showWhois(QByteArrayView text) = 0;
    // Our host as the server sees it, to be resolved without blocking.
    virtual void resolveOwnHost(QByteArrayView host) = 0;
    virtual void logStatus(const QString& text) = 0;
};

// The sender of a line: the nick of its source; without a source, the word after the command
// (as in "PRIVMSG nick :text"). Views the message's line.
QByteArrayView GetSenderNick(const Message& message);
// Whether a PRIVMSG or NOTICE target names a channel rather than us.
bool isChannel(QByteArrayView target);

// Acts on each server line: keep-alive, CTCP, DCC offers, private text, presence (ISON, MONITOR,
// what the server supports, the commands it refuses), whois and our own address (our nick and its
// collisions are the link's). Keeps only the away reply's rates, per sender and overall.
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

    // Acts on one parsed line, found by its command word in a table of handlers.
    void HandleServerLine(const Message& message);
    // The settings changed: the next away reply uses these.
    void setSettings(const config::Settings& settings) { m_settings = settings; }
    // What the server granted: with echo-message our own lines come back and are not private
    // text from someone.
    void setCapabilities(Capabilities capabilities) { m_capabilities = capabilities; }

private:
    using Handler = void (MessageDispatcher::*)(const Message&);
    // A command of up to seven bytes as one number, its length in the top byte: the table is
    // searched for every line, and a compare of numbers is all a row then costs.
    static constexpr quint64 commandKey(QByteArrayView command)
    {
        if (command.size() > 7)
            return 0;
        quint64 key = quint64(command.size()) << 56;
        for (qsizetype i = 0; i < command.size(); ++i)
            key |= quint64(static_cast<unsigned char>(command[i])) << (8 * i);
        return key;
    }
    struct Route
    {
        quint64 command;
        Handler handle;
        bool endsLine = false; // the command word alone is a whole line
    };
    static const Route kRoutes[];

    void ping(const Message& message);
    void notice(const Message& message);
    void privmsg(const Message& message);
    void isonReply(const Message& message);
    void whois(const Message& message);
    void whoReply(const Message& message);
    void serverSupport(const Message& message);
    void monitorOnline(const Message& message);
    void monitorOffline(const Message& message);
    void monitorFull(const Message& message);
    void unknownCommand(const Message& message);
    void away(const Message& message);
    void userhostReply(const Message& message);
    void tagMsg(const Message& message);
    void ack(const Message& message);
    void refusal(const Message& message);
    // With echo-message, a line from our own nick is the echo of one we sent.
    bool isOwnEcho(const Message& message) const;
    bool awayReplyDue(QByteArrayView sender);
    std::optional<QByteArray> sendAwayReply(QByteArrayView sender);
    bool dcc(QByteArrayView sender, const Ctcp& ctcp);

    config::Settings m_settings;
    Capabilities m_capabilities;
    ServerLineActions& m_actions;
    QHash<QByteArray, qint64> m_lastAwayReply;
    std::deque<qint64> m_recentAwayReplies; // at most kAwayRepliesPerMinute, oldest first
};

} // namespace irc

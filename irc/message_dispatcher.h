#pragma once

#include "config/settings.h"
#include "irc/capabilities.h"
#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/message_parts.h"
#include "irc/server_events.h"
#include "irc/typing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QVarLengthArray>

#include <deque>
#include <functional>
#include <optional>

namespace irc {

// The away reply as it goes on the wire when the chats with its nick are encrypted.
struct SealedText
{
    QByteArray wire;  // what goes in the PRIVMSG
    QByteArray plain; // what it says, as the user's own line shows it
    // Encrypted chats that cannot be sealed for now: no reply goes, neither sealed nor clear.
    bool withheld = false;
};

// What the dispatcher needs of the link it reads: the few things it does itself (PONG, the away
// reply) and the nick it answers to.
struct LineServices
{
    std::function<QByteArray()> nickInUse;
    // One line to the server, without CR LF; false when it could not go out.
    std::function<bool(const QByteArray& line)> sendLine;
    std::function<qint64()> nowMs;
    std::function<QByteArray()> localHostName;
    // A line for the debug window.
    std::function<void(const QString& text)> log;
};

// Turns each server line into typed events (ServerEvents) and does the little that is its own:
// keep-alive and the away reply (our nick and its collisions are the link's). Keeps only the away
// reply's rates, per sender and overall.
class MessageDispatcher
{
public:
    static constexpr qint64 kAwayReplyIntervalMs = 60'000;
    // However many nicks write to us, at most this many away replies go out a minute: a flood
    // from many nicks would otherwise have the server cut us off for flooding in its turn.
    static constexpr std::size_t kAwayRepliesPerMinute = 10;

    MessageDispatcher(config::Settings settings, ServerEvents& events, LineServices services)
        : m_settings(std::move(settings))
        , m_events(events)
        , m_services(std::move(services))
    {}

    // Acts on one parsed line, found by its command word in a table of handlers.
    void HandleServerLine(const Message& message);
    // The settings changed: the next away reply uses these.
    void setSettings(const config::Settings& settings) { m_settings = settings; }
    // What the server granted: tagged lines are read past their tags, stamps are read, and with
    // echo-message our own lines come back and are not private text from someone.
    void setCapabilities(Capabilities capabilities) { m_capabilities = capabilities; }
    // Seals the away reply to `nick` within `room` bytes when the chats with `nick` are
    // encrypted; nothing when they are not.
    using AwaySealer = std::function<std::optional<SealedText>(
        QByteArrayView nick, QByteArrayView text, qsizetype room)>;
    void setAwaySealer(AwaySealer sealer) { m_awaySealer = std::move(sealer); }

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
    void quit(const Message& message);
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
    ServerEvents& m_events;
    LineServices m_services;
    AwaySealer m_awaySealer;
    QHash<QByteArray, qint64> m_lastAwayReply;
    std::deque<qint64> m_recentAwayReplies; // at most kAwayRepliesPerMinute, oldest first
};

} // namespace irc

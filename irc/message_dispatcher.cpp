#include "irc/message_dispatcher.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "irc/isupport.h"
#include "irc/message_parts.h"
#include "irc/presence.h"

#include <algorithm>
#include <cstring>

namespace irc {

// In the order the rows were once tested; a line matches one at most.
const MessageDispatcher::Route MessageDispatcher::kRoutes[] = {
    {commandKey("PING"), &MessageDispatcher::ping},
    {commandKey("NOTICE"), &MessageDispatcher::notice},
    {commandKey("PRIVMSG"), &MessageDispatcher::privmsg},
    {commandKey("303"), &MessageDispatcher::isonReply},
    {commandKey("311"), &MessageDispatcher::whois},
    {commandKey("352"), &MessageDispatcher::whoReply},
    {commandKey("005"), &MessageDispatcher::serverSupport},
    {commandKey("730"), &MessageDispatcher::monitorOnline},
    {commandKey("731"), &MessageDispatcher::monitorOffline},
    {commandKey("734"), &MessageDispatcher::monitorFull},
    {commandKey("421"), &MessageDispatcher::unknownCommand},
    // ":bob!u@h AWAY" is bob back; ":irc.x ACK" a delivery (labeled-response).
    {commandKey("AWAY"), &MessageDispatcher::away, true},
    {commandKey("302"), &MessageDispatcher::userhostReply},
    {commandKey("QUIT"), &MessageDispatcher::quit},
    {commandKey("TAGMSG"), &MessageDispatcher::tagMsg},
    {commandKey("ACK"), &MessageDispatcher::ack, true},
    {commandKey("401"), &MessageDispatcher::refusal},
    {commandKey("403"), &MessageDispatcher::refusal},
    {commandKey("404"), &MessageDispatcher::refusal},
    {commandKey("407"), &MessageDispatcher::refusal},
    {commandKey("413"), &MessageDispatcher::refusal},
    {commandKey("414"), &MessageDispatcher::refusal},
    {commandKey("492"), &MessageDispatcher::refusal},
    {commandKey("FAIL"), &MessageDispatcher::refusal},
};

void MessageDispatcher::HandleServerLine(const Message& message)
{
    // Exact and case-sensitive: "privmsg" is not acted on. No row has key 0, which every longer
    // command gets.
    const quint64 command = commandKey(message.command);
    for (const Route& route : kRoutes) {
        if (route.command == command) {
            if (isActedOn(message, m_capabilities, route.endsLine))
                (this->*route.handle)(message);
            return;
        }
    }
}

void MessageDispatcher::notice(const Message& message)
{
    // Only CTCP replies are acted on; any other notice is for the server window alone.
    const std::optional<QByteArrayView> text = message.trailing();
    const std::optional<Ctcp> reply = splitCtcp(text);
    if (reply && reply->code != CtcpCode::None) {
        emit m_events.ctcpReply(GetSenderNick(message), *reply);
        return;
    }
    if (reply && reply->dcc) {
        if (const auto reject = parseDccReject(GetSenderNick(message), reply->arguments))
            emit m_events.dccReject(*reject);
        return;
    }
    // A notice to us alone may carry a key exchange; one to a channel never does.
    if (text && !reply && message.middleCount() >= 1 && !isChannel(message.params[0]))
        emit m_events.privateNotice(GetSenderNick(message), *text);
}

void MessageDispatcher::isonReply(const Message& message)
{
    // The names after the colon, runs of blanks counting as one.
    if (const auto text = message.trailing())
        emit m_events.onlineNames(isonNames(*text));
}

void MessageDispatcher::serverSupport(const Message& message)
{
    emit m_events.serverSupport(isupportTokens(message));
}

void MessageDispatcher::monitorOnline(const Message& message)
{
    if (const auto text = message.trailing())
        emit m_events.monitorOnline(monitorTargets(*text));
}

void MessageDispatcher::monitorOffline(const Message& message)
{
    if (const auto text = message.trailing())
        emit m_events.monitorOffline(monitorTargets(*text));
}

void MessageDispatcher::monitorFull(const Message& message)
{
    // ":server 734 me <limit> <targets> :Monitor list is full."
    if (message.middleCount() >= 3)
        emit m_events.monitorListFull(monitorTargets(message.params[2]));
}

void MessageDispatcher::unknownCommand(const Message& message)
{
    // ":server 421 me <command> :Unknown command"
    if (message.middleCount() >= 2)
        emit m_events.commandRefused(message.params[1].toByteArray());
}

void MessageDispatcher::ping(const Message& message)
{
    // Servers check the token, so it goes back as sent; only a bare PING gets our host name.
    QByteArrayView token;
    if (const auto text = message.trailing()) {
        token = *text;
    } else {
        const QByteArrayView line = lineAfterTags(message, m_capabilities);
        const qsizetype blank = line.indexOf(' ', line.indexOf("PING"));
        if (blank >= 0)
            token = line.sliced(blank + 1).trimmed();
    }
    // The line is a C string to the server: what follows a NUL (or a stray CR or LF, which the
    // framer leaves inside a line) is not part of the token, and must never reach the wire.
    token.truncate(lineSafeLength(token));
    QByteArray host;
    if (token.isEmpty()) {
        host = m_services.localHostName();
        if (host.isEmpty())
            return;
        token = host;
    }
    token = token.first(std::min(token.size(), Command::roomForText("PONG")));
    const auto pong = Command::pong(token);
    if (!pong || !m_services.sendLine(*pong))
        m_services.log(QStringLiteral("send() error - SOCKET_ERROR (PONG response)"));
}

bool MessageDispatcher::awayReplyDue(QByteArrayView sender)
{
    // Two away users would otherwise answer each other for ever and be killed for flooding.
    const qint64 now = m_services.nowMs();
    const QByteArray key = sender.toByteArray();
    const auto last = m_lastAwayReply.constFind(key);
    if (last != m_lastAwayReply.constEnd() && now - *last < kAwayReplyIntervalMs)
        return false;
    while (!m_recentAwayReplies.empty()
           && now - m_recentAwayReplies.front() >= kAwayReplyIntervalMs)
        m_recentAwayReplies.pop_front();
    if (m_recentAwayReplies.size() >= kAwayRepliesPerMinute)
        return false;
    m_recentAwayReplies.push_back(now);
    if (m_lastAwayReply.size() > 1000) {
        for (auto it = m_lastAwayReply.begin(); it != m_lastAwayReply.end();) {
            it = now - *it >= kAwayReplyIntervalMs ? m_lastAwayReply.erase(it) : std::next(it);
        }
    }
    m_lastAwayReply.insert(key, now);
    return true;
}

std::optional<QByteArray> MessageDispatcher::sendAwayReply(QByteArrayView sender)
{
    // A sender that cannot stand as one word of a line gets no reply: it would put its bytes
    // where the server reads a command.
    if (!m_settings.awayset || lineSafeLength(sender) != sender.size() || sender.contains(' ')
        || sender.startsWith(':'))
        return std::nullopt;
    // Servers allow long nicks: the away text is cut to fit the line, and a nick that leaves no
    // room for any of it gets no reply at all rather than a line the server would cut.
    const qsizetype room = Command::roomForText("PRIVMSG", sender);
    if (room < 1 && !m_settings.away.isEmpty())
        return std::nullopt;
    if (room < 0 || !awayReplyDue(sender))
        return std::nullopt;
    // To a contact whose chats are encrypted, the away reply is encrypted too; a sealed line
    // the server cuts no longer opens, so it leaves room for what the server puts before it.
    const qsizetype sealedRoom =
        Command::roomForRelayedText("PRIVMSG", sender, m_services.nickInUse());
    const std::optional<SealedText> sealed =
        m_awaySealer ? m_awaySealer(sender, m_settings.away, sealedRoom) : std::nullopt;
    if (sealed && sealed->withheld)
        return std::nullopt;
    const QByteArray away =
        sealed ? sealed->plain : diag::cutUtf8(m_settings.away, room).toByteArray();
    const auto line = Command::privmsg(sender, sealed ? sealed->wire : away);
    if (!line || !m_services.sendLine(*line))
        return std::nullopt;
    return away;
}

bool MessageDispatcher::dcc(QByteArrayView sender, const Ctcp& ctcp)
{
    // The type is read from the CTCP arguments, never from the sender's nick.
    const std::optional<DccType> type = readDccType(ctcp.arguments);
    if (!type)
        return false;
    if (type->resume) {
        if (const auto resume = parseDccResume(*type->resume, sender, ctcp.arguments))
            emit m_events.dccResume(*resume);
        else
            m_services.log(QStringLiteral("DCC resume dropped: a field is missing"));
        return true;
    }
    if (const auto offer = parseDccOffer(*type->offer, sender, ctcp.arguments, type->secure))
        emit m_events.dccOffer(*offer);
    else
        m_services.log(QStringLiteral("DCC offer dropped: a field is missing"));
    return true;
}

void MessageDispatcher::privmsg(const Message& message)
{
    const QByteArrayView sender = GetSenderNick(message);
    if (sender.isEmpty())
        return;
    std::optional<QByteArrayView> text = message.trailing();
    // A CTCP query or a DCC offer is no one's writing: an answer to it would be an automatic
    // reply to an automatic message, which two away programs would trade. An ACTION is typed.
    const bool automatic = text && text->startsWith('\x01')
                           && !text->startsWith("\x01"
                                                "ACTION");
    const std::optional<QByteArray> awayEcho =
        m_settings.awayset && !automatic ? sendAwayReply(sender) : std::nullopt;

    const std::optional<Ctcp> ctcp = splitCtcp(text);
    if (ctcp && ctcp->code != CtcpCode::None) {
        emit m_events.ctcpQuery(sender, *ctcp);
        return;
    }
    if (ctcp && ctcp->dcc) {
        if (dcc(sender, *ctcp))
            return;
        if (text->endsWith('\x01'))
            text->chop(1); // shown as ordinary text, its closing 0x01 gone
    }
    PrivateText event{sender, text, awayEcho, {}};
    if (text)
        event.stamp = lineStamp(message, m_capabilities);
    emit m_events.privateText(event);
}

void MessageDispatcher::whois(const Message& message)
{
    // ":server 311 me subject user host * :real name"
    const QByteArray me = m_services.nickInUse();
    if (me.isEmpty() || message.params.size() < 2 || message.params[0] != me)
        return;
    emit m_events.whois(message);
}

void MessageDispatcher::whoReply(const Message& message)
{
    // ":server 352 me * user host server nick flags :hops real name"
    const QByteArray me = m_services.nickInUse();
    const QByteArrayView line = lineAfterTags(message, m_capabilities);
    if (me.isEmpty() || !line.contains(me))
        return;
    if (const auto host = whoReplyHost(line); host && !host->isEmpty())
        emit m_events.ownHost(*host);
}

// The IRCv3 extensions: away, typing, echoes and refusals.
bool MessageDispatcher::isOwnEcho(const Message& message) const
{
    if (!m_capabilities.has(Capability::EchoMessage) || !message.hasSource())
        return false;
    const QByteArrayView sender = GetSenderNick(message);
    return !sender.isEmpty() && sender.compare(m_services.nickInUse(), Qt::CaseInsensitive) == 0;
}

void MessageDispatcher::away(const Message& message)
{
    const QByteArrayView sender = GetSenderNick(message);
    if (!sender.isEmpty() && message.hasSource())
        emit m_events.awayChanged(sender.toByteArray(),
                                  message.params.isEmpty()
                                      ? std::nullopt
                                      : std::optional(message.params.back().toByteArray()));
}

void MessageDispatcher::quit(const Message& message)
{
    // ":bob!u@h QUIT :reason"
    const QByteArrayView sender = GetSenderNick(message);
    if (!sender.isEmpty() && message.hasSource())
        emit m_events.userQuit(sender.toByteArray());
}

void MessageDispatcher::userhostReply(const Message& message)
{
    // ":server 302 me :bob=-user@host carol*=+user@host": '-' is away, '*' an operator.
    const std::optional<QByteArrayView> list = message.trailing();
    if (!list)
        return;
    // Each nick's state, as away-notify would say it: away with no text known, or back.
    for (const QByteArray& entry : list->toByteArray().split(' ')) {
        const qsizetype equals = entry.indexOf('=');
        if (equals <= 0 || equals + 1 >= entry.size())
            continue;
        QByteArray nick = entry.left(equals);
        if (nick.endsWith('*'))
            nick.chop(1);
        const char mark = entry.at(equals + 1);
        if (!nick.isEmpty() && (mark == '-' || mark == '+'))
            emit m_events.awayChanged(nick,
                                      mark == '-' ? std::optional(QByteArray()) : std::nullopt);
    }
}

void MessageDispatcher::tagMsg(const Message& message)
{
    // Typing in a channel is not ours to show; only what is sent to us alone.
    if (!message.hasSource() || message.params.isEmpty() || isChannel(message.params[0])
        || isOwnEcho(message))
        return;
    if (const std::optional<TypingState> state = typingState(message))
        emit m_events.typing(GetSenderNick(message).toByteArray(), *state);
}

void MessageDispatcher::ack(const Message& message)
{
    emit m_events.ownLineEchoed(message, lineStamp(message, m_capabilities));
}

void MessageDispatcher::refusal(const Message& message)
{
    emit m_events.lineRefused(message);
}

} // namespace irc

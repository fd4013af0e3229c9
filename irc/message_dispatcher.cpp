#include "irc/message_dispatcher.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "irc/isupport.h"
#include "irc/presence.h"

#include <algorithm>
#include <cstring>

namespace irc {

namespace {

// The bytes before the first that would end an IRC line (CR, LF or NUL).
qsizetype lineSafeLength(QByteArrayView bytes)
{
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' || bytes[i] == '\n' || bytes[i] == '\0')
            return i;
    }
    return bytes.size();
}

// The line as the rules below read it. Once the server has granted an extension it may tag any
// line, so the rules start after the tags and their blank; before that a tagged line is read
// whole, as it always was.
QByteArrayView ruleLine(const Message& message, Capabilities granted)
{
    const QByteArrayView line = message.line;
    if (granted.isEmpty() || !line.startsWith('@'))
        return line;
    const qsizetype blank = line.indexOf(' ');
    return blank < 0 ? QByteArrayView() : line.sliced(blank + 1);
}

// GetCommandWord's rule, read off the parse: the command is the line's first word, or the
// second after a source and one blank, and a blank follows it. Tags (unless granted), a leading
// blank or a doubled one after the source thus leave a line without a command word, as does a
// bare "PING"; such lines are not acted on. A command that says everything alone (`endsLine`)
// may end the line.
bool hasCommandWord(const Message& message, Capabilities granted, bool endsLine)
{
    const QByteArrayView line = ruleLine(message, granted);
    if (line.isEmpty())
        return false;
    const qsizetype start = message.command.data() - line.data();
    const qsizetype end = start + message.command.size();
    const bool alone = endsLine && end == line.size();
    if (!alone && (end >= line.size() || line[end] != ' '))
        return false;
    return line.startsWith(':') ? start == message.source.size() + 2 : start == 0;
}

// The names of an ISON reply's trailing text; runs of blanks count as one.
ServerLineActions::Names isonNames(QByteArrayView text)
{
    ServerLineActions::Names names;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(' ', start);
        if (end < 0)
            end = text.size();
        if (end > start)
            names.append(text.sliced(start, end - start));
        start = end + 1;
    }
    return names;
}

// A 311 answer's fields, one labelled line each. A server that sends the real name without its
// colon, or in several words, still has it shown whole.
// A line break inside a field is shown as its escape, so that no field can make up another.
QByteArray whoisText(const Message::Params& params)
{
    constexpr qsizetype kRealName = 5;
    const auto field = [&](qsizetype i) { return diag::escapeLineBreakBytes(params[i]); };
    QByteArray text = "Nick: " + field(1);
    if (params.size() > 2)
        text += "\nUser: " + field(2);
    if (params.size() > 3)
        text += "\nHost: " + field(3);
    // params[4] is the '*' that once held the server's name for the user.
    if (params.size() > kRealName) {
        text += "\nReal name: ";
        for (qsizetype i = kRealName; i < params.size(); ++i) {
            if (i > kRealName)
                text += ' ';
            text += field(i);
        }
    }
    return text;
}

// The host field of a WHO reply to our own WHO, read from the line as sent: the field after the
// user field, which starts two bytes past the first '*' (the channel field of such a reply).
std::optional<QByteArrayView> whoReplyHost(QByteArrayView line)
{
    const qsizetype star = line.indexOf('*');
    if (star < 0)
        return std::nullopt;
    const qsizetype hostStart = line.indexOf(' ', star + 2);
    if (hostStart < 0)
        return std::nullopt;
    const qsizetype hostEnd = line.indexOf(' ', hostStart + 1);
    if (hostEnd < 0)
        return std::nullopt;
    return line.sliced(hostStart + 1, hostEnd - hostStart - 1);
}

} // namespace

QByteArrayView GetSenderNick(const Message& message)
{
    if (!message.source.isNull()) {
        // splitUserHost's nick, found in one pass: the stop is nearly always a few bytes in.
        const QByteArrayView source = message.source;
        qsizetype end = 0;
        while (end < source.size() && source[end] != '!' && source[end] != '@')
            ++end;
        return source.first(end);
    }
    // "PRIVMSG nick :text" without a prefix: the word after the command, up to the next blank.
    const QByteArrayView line = message.line;
    const qsizetype start = message.commandEnd() + 1;
    if (start > line.size())
        return {};
    qsizetype end = line.indexOf(' ', start);
    if (end < 0)
        end = line.size();
    return line.sliced(start, end - start);
}

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
            if (hasCommandWord(message, m_capabilities, route.endsLine))
                (this->*route.handle)(message);
            return;
        }
    }
}

bool isChannel(QByteArrayView target)
{
    return !target.isEmpty() && QByteArrayView("#&+!").contains(target.front());
}

void MessageDispatcher::notice(const Message& message)
{
    if (isOwnEcho(message)) {
        m_actions.ownLineEchoed(message);
        return;
    }
    // Only CTCP replies are acted on; any other notice is for the server window alone.
    const std::optional<QByteArrayView> text = message.trailing();
    const std::optional<Ctcp> reply = splitCtcp(text);
    if (reply && reply->code != CtcpCode::None) {
        m_actions.ctcpReply(GetSenderNick(message), *reply);
        return;
    }
    // A notice to us alone may carry a key exchange; one to a channel never does.
    if (text && !reply && message.middleCount() >= 1 && !isChannel(message.params[0]))
        m_actions.privateNotice(GetSenderNick(message), *text);
}

void MessageDispatcher::isonReply(const Message& message)
{
    // The names after the colon, runs of blanks counting as one.
    if (const auto text = message.trailing())
        m_actions.presenceReply(isonNames(*text));
}

void MessageDispatcher::serverSupport(const Message& message)
{
    m_actions.serverSupport(isupportTokens(message));
}

void MessageDispatcher::monitorOnline(const Message& message)
{
    if (const auto text = message.trailing())
        m_actions.monitorOnline(monitorTargets(*text));
}

void MessageDispatcher::monitorOffline(const Message& message)
{
    if (const auto text = message.trailing())
        m_actions.monitorOffline(monitorTargets(*text));
}

void MessageDispatcher::monitorFull(const Message& message)
{
    // ":server 734 me <limit> <targets> :Monitor list is full."
    if (message.middleCount() >= 3)
        m_actions.monitorListFull(monitorTargets(message.params[2]));
}

void MessageDispatcher::unknownCommand(const Message& message)
{
    // ":server 421 me <command> :Unknown command"
    if (message.middleCount() >= 2)
        m_actions.commandRefused(message.params[1].toByteArray());
}

void MessageDispatcher::ping(const Message& message)
{
    // Servers check the token, so it goes back as sent; only a bare PING gets our host name.
    QByteArrayView token;
    if (const auto text = message.trailing()) {
        token = *text;
    } else {
        const QByteArrayView line = ruleLine(message, m_capabilities);
        const qsizetype blank = line.indexOf(' ', line.indexOf("PING"));
        if (blank >= 0)
            token = line.sliced(blank + 1).trimmed();
    }
    // The line is a C string to the server: what follows a NUL (or a stray CR or LF, which the
    // framer leaves inside a line) is not part of the token, and must never reach the wire.
    token.truncate(lineSafeLength(token));
    QByteArray host;
    if (token.isEmpty()) {
        host = m_actions.localHostName();
        if (host.isEmpty())
            return;
        token = host;
    }
    token = token.first(std::min(token.size(), Command::roomForText("PONG")));
    const auto pong = Command::pong(token);
    if (!pong || !m_actions.sendLine(*pong))
        m_actions.logStatus(QStringLiteral("send() error - SOCKET_ERROR (PONG response)"));
}

bool MessageDispatcher::awayReplyDue(QByteArrayView sender)
{
    // Two away users would otherwise answer each other for ever and be killed for flooding.
    const qint64 now = m_actions.nowMs();
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
    // To a contact whose chats are encrypted, the away reply is encrypted too.
    const std::optional<ServerLineActions::SealedText> sealed =
        m_actions.sealedAwayText(sender, m_settings.away, room);
    if (sealed && sealed->withheld)
        return std::nullopt;
    const QByteArray away =
        sealed ? sealed->plain : diag::cutUtf8(m_settings.away, room).toByteArray();
    const auto line = Command::privmsg(sender, sealed ? sealed->wire : away);
    if (!line || !m_actions.sendLine(*line))
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
            m_actions.dccResume(*resume);
        else
            m_actions.logStatus(QStringLiteral("DCC resume dropped: a field is missing"));
        return true;
    }
    if (const auto offer = parseDccOffer(*type->offer, sender, ctcp.arguments, type->secure))
        m_actions.dccOffer(*offer);
    else
        m_actions.logStatus(QStringLiteral("DCC offer dropped: a field is missing"));
    return true;
}

void MessageDispatcher::privmsg(const Message& message)
{
    const QByteArrayView sender = GetSenderNick(message);
    if (sender.isEmpty())
        return;
    // Our own offers and queries come back too: never taken as someone else's.
    if (isOwnEcho(message)) {
        m_actions.ownLineEchoed(message);
        return;
    }

    const std::optional<QByteArray> awayEcho =
        m_settings.awayset ? sendAwayReply(sender) : std::nullopt;

    std::optional<QByteArrayView> text = message.trailing();
    const std::optional<Ctcp> ctcp = splitCtcp(text);
    if (ctcp && ctcp->code != CtcpCode::None) {
        m_actions.ctcpQuery(sender, *ctcp);
        return;
    }
    if (ctcp && ctcp->dcc) {
        if (dcc(sender, *ctcp))
            return;
        if (text->endsWith('\x01'))
            text->chop(1); // shown as ordinary text, its closing 0x01 gone
    }
    m_actions.privateText(sender, text, awayEcho);
}

void MessageDispatcher::whois(const Message& message)
{
    // ":server 311 me subject user host * :real name"
    const QByteArray me = m_actions.nickInUse();
    if (me.isEmpty() || message.params.size() < 2 || message.params[0] != me)
        return;
    m_actions.showWhois(whoisText(message.params));
}

void MessageDispatcher::whoReply(const Message& message)
{
    // ":server 352 me * user host server nick flags :hops real name"
    const QByteArray me = m_actions.nickInUse();
    const QByteArrayView line = ruleLine(message, m_capabilities);
    if (me.isEmpty() || !line.contains(me))
        return;
    if (const auto host = whoReplyHost(line); host && !host->isEmpty())
        m_actions.resolveOwnHost(*host);
}

} // namespace irc

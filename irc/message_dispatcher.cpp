#include "irc/message_dispatcher.h"

#include "diag/server_text.h"
#include "irc/ctcp.h"
#include "irc/isupport.h"
#include "irc/line_tools.h"
#include "irc/message.h"
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

// GetCommandWord's word, left in the line: it is only compared, and copying it out for every
// line cost more than everything else the dispatcher does with most lines.
std::optional<QByteArrayView> commandWord(QByteArrayView line)
{
    const auto blankFrom = [&](qsizetype from) -> qsizetype {
        if (from >= line.size())
            return -1;
        const void* blank = std::memchr(line.data() + from, ' ', size_t(line.size() - from));
        return blank ? static_cast<const char*>(blank) - line.data() : -1;
    };
    if (line.isEmpty())
        return std::nullopt;
    if (line.front() == ':') {
        const qsizetype first = blankFrom(0);
        if (first < 0)
            return std::nullopt;
        const qsizetype second = blankFrom(first + 1);
        if (second < 0)
            return std::nullopt;
        return line.sliced(first + 1, second - first - 1);
    }
    const qsizetype blank = blankFrom(0);
    if (blank < 0)
        return std::nullopt;
    return line.first(blank);
}

// Whether the command word is `command`. Every line is tested against several; a comparison
// the compiler can inline keeps that cheap.
template <std::size_t N> bool isCommand(QByteArrayView word, const char (&command)[N])
{
    return word.size() == qsizetype(N - 1) && std::memcmp(word.data(), command, N - 1) == 0;
}

// The names of an ISON reply's trailing text; runs of blanks count as one.
QList<QByteArray> isonNames(QByteArrayView text)
{
    QList<QByteArray> names;
    names.reserve(std::count(text.begin(), text.end(), ' ') + 1);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(' ', start);
        if (end < 0)
            end = text.size();
        if (end > start)
            names.append(text.sliced(start, end - start).toByteArray());
        start = end + 1;
    }
    return names;
}

// GetSenderNick's nick, left in the line.
QByteArrayView senderNick(QByteArrayView line)
{
    if (line.startsWith(':')) {
        // One pass: the stop is nearly always within the first few bytes.
        qsizetype end = 1;
        while (end < line.size() && line[end] != '!' && line[end] != ' ' && line[end] != '@')
            ++end;
        return line.sliced(1, end - 1);
    }
    // "PRIVMSG nick :text" without a prefix: the word after the command.
    const qsizetype start = line.indexOf(' ');
    if (start < 0)
        return {};
    qsizetype end = line.indexOf(' ', start + 1);
    if (end < 0)
        end = line.size();
    return line.sliced(start + 1, end - start - 1);
}

// trailingText's text, left in the line.
std::optional<QByteArrayView> trailingView(QByteArrayView line)
{
    // The colon that opens the trailing text follows a blank: the sender's prefix may hold
    // colons of its own (an IPv6 host, "nick!user@2001:db8::1").
    const qsizetype colon = line.indexOf(" :", 1);
    if (colon < 0)
        return std::nullopt;
    return line.sliced(colon + 2);
}

// A 311 answer's fields, one labelled line each. A server that sends the real name without its
// colon, or in several words, still has it shown whole.
QByteArray whoisText(const QList<QByteArray>& params)
{
    constexpr qsizetype kRealName = 5;
    QByteArray text = "Nick: " + params[1];
    if (params.size() > 2)
        text += "\nUser: " + params[2];
    if (params.size() > 3)
        text += "\nHost: " + params[3];
    // params[4] is the '*' that once held the server's name for the user.
    if (params.size() > kRealName)
        text += "\nReal name: " + params.mid(kRealName).join(' ');
    return text;
}

} // namespace

QByteArray GetSenderNick(QByteArrayView line)
{
    return senderNick(line).toByteArray();
}

std::optional<QByteArray> trailingText(QByteArrayView line)
{
    if (const auto text = trailingView(line))
        return text->toByteArray();
    return std::nullopt;
}

void MessageDispatcher::HandleServerLine(QByteArrayView line)
{
    const std::optional<QByteArrayView> word = commandWord(line);
    if (!word)
        return;
    if (isCommand(*word, "PING")) {
        ping(line);
    } else if (isCommand(*word, "NOTICE")) {
        if (const auto text = trailingView(line))
            m_actions.noticeText(senderNick(line), *text);
    } else if (isCommand(*word, "PRIVMSG")) {
        privmsg(line);
    } else if (isCommand(*word, "303")) {
        // ISON reply: the names after the colon, runs of blanks counting as one.
        if (const auto text = trailingView(line))
            m_actions.presenceReply(isonNames(*text));
    } else if (isCommand(*word, "311")) {
        whois(line);
    } else if (isCommand(*word, "352")) {
        whoReply(line);
    } else if (isCommand(*word, "433")) {
        nickInUse();
    } else if (isCommand(*word, "005")) {
        m_actions.serverSupport(isupportTokens(line));
    } else if (isCommand(*word, "730")) {
        if (const auto text = trailingView(line))
            m_actions.monitorOnline(monitorTargets(*text));
    } else if (isCommand(*word, "731")) {
        if (const auto text = trailingView(line))
            m_actions.monitorOffline(monitorTargets(*text));
    } else if (isCommand(*word, "734")) {
        monitorFull(line);
    } else if (isCommand(*word, "421")) {
        unknownCommand(line);
    }
}

namespace {

// The middle words of a numeric reply after the command word: ":server 734 me 100 a,b :text"
// gives "me", "100", "a,b".
QList<QByteArrayView> numericParams(QByteArrayView line)
{
    QList<QByteArrayView> words;
    qsizetype at = 0;
    if (line.startsWith(':')) {
        at = line.indexOf(' ');
        if (at < 0)
            return {};
    }
    bool command = true;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size() || line[at] == ':')
            break;
        qsizetype end = line.indexOf(' ', at);
        if (end < 0)
            end = line.size();
        if (!command)
            words.append(line.sliced(at, end - at));
        command = false;
        at = end;
    }
    return words;
}

} // namespace

void MessageDispatcher::monitorFull(QByteArrayView line)
{
    // ":server 734 me <limit> <targets> :Monitor list is full."
    const QList<QByteArrayView> params = numericParams(line);
    if (params.size() >= 3)
        m_actions.monitorListFull(monitorTargets(params[2]));
}

void MessageDispatcher::unknownCommand(QByteArrayView line)
{
    // ":server 421 me <command> :Unknown command"
    const QList<QByteArrayView> params = numericParams(line);
    if (params.size() >= 2)
        m_actions.commandRefused(params[1].toByteArray());
}

void MessageDispatcher::ping(QByteArrayView line)
{
    // Servers check the token, so it goes back as sent; only a bare PING gets our host name.
    QByteArrayView token;
    if (const auto text = trailingView(line)) {
        token = *text;
    } else {
        const qsizetype blank = line.indexOf(' ', line.indexOf("PING"));
        if (blank >= 0)
            token = line.sliced(blank + 1).trimmed();
    }
    // The line is a C string to the server: what follows a NUL (or a stray CR or LF, which the
    // framer leaves inside a line) is not part of the token, and must never reach the wire.
    token.truncate(lineSafeLength(token));
    QByteArray pong = "PONG :";
    if (!token.isEmpty()) {
        pong += token;
    } else {
        const QByteArray host = m_actions.localHostName();
        if (host.isEmpty())
            return;
        pong += host;
    }
    pong.truncate(kMaxLineContent);
    if (!m_actions.sendLine(pong))
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
    const QByteArray prefix = "PRIVMSG " + sender.toByteArray() + " :";
    // Servers allow long nicks: the away text is cut to fit the line, and a nick that leaves no
    // room for any of it gets no reply at all rather than a line the server would cut.
    const qsizetype room = kMaxLineContent - prefix.size();
    if (room < 1 && !m_settings.away.isEmpty())
        return std::nullopt;
    if (room < 0 || !awayReplyDue(sender))
        return std::nullopt;
    const QByteArray away = diag::cutUtf8(m_settings.away, room).toByteArray();
    if (!m_actions.sendLine(prefix + away))
        return std::nullopt;
    return away;
}

bool MessageDispatcher::dccOffer(QByteArrayView line, QByteArrayView text)
{
    // "\x01DCC <type> ...": the type is read from the CTCP text, never from the sender's nick.
    const QByteArrayView type = text.size() > 5 ? text.sliced(5) : QByteArrayView();
    std::optional<DccKind> kind;
    bool secure = false;
    std::optional<DccResumeKind> resumeKind;
    if (type.startsWith("SEND"))
        kind = DccKind::Send;
    else if (type.startsWith("CHAT"))
        kind = DccKind::Chat;
    else if (type.startsWith("VOICE"))
        kind = DccKind::Voice;
    else if (type.startsWith("SSEND"))
        kind = DccKind::Send, secure = true;
    else if (type.startsWith("SCHAT"))
        kind = DccKind::Chat, secure = true;
    else if (type.startsWith("RESUME "))
        resumeKind = DccResumeKind::Resume;
    else if (type.startsWith("ACCEPT "))
        resumeKind = DccResumeKind::Accept;
    if (!kind && !resumeKind)
        return false;
    if (line.endsWith('\x01'))
        line.chop(1);
    if (resumeKind) {
        if (const auto resume = parseDccResume(*resumeKind, line))
            m_actions.dccResume(*resume);
        else
            m_actions.logStatus(QStringLiteral("DCC resume dropped: a field is missing"));
        return true;
    }
    if (const auto offer = parseDccOffer(*kind, line, secure))
        m_actions.dccOffer(*offer);
    else
        m_actions.logStatus(QStringLiteral("DCC offer dropped: a field is missing"));
    return true;
}

void MessageDispatcher::privmsg(QByteArrayView line)
{
    const QByteArrayView sender = senderNick(line);
    if (sender.isEmpty())
        return;

    const std::optional<QByteArray> awayEcho = sendAwayReply(sender);

    std::optional<QByteArrayView> text = trailingView(line);
    if (text && m_actions.ctcpQuery(sender, *text))
        return;

    if (text
        && text->startsWith("\x01"
                            "DCC")) {
        if (dccOffer(line, *text))
            return;
        if (text->endsWith('\x01'))
            text->chop(1); // shown as ordinary text, its closing 0x01 gone
    }
    m_actions.privateText(sender, text, awayEcho);
}

void MessageDispatcher::whois(QByteArrayView line)
{
    // ":server 311 me subject user host * :real name"
    const QByteArray me = m_actions.nickInUse();
    if (me.isEmpty())
        return;
    const std::optional<Message> message = parseMessage(line);
    if (!message || message->params.size() < 2 || message->params[0] != me)
        return;
    m_actions.showWhois(whoisText(message->params));
}

void MessageDispatcher::whoReply(QByteArrayView line)
{
    // ":server 352 me * user host server nick flags :hops real name"
    const QByteArray me = m_actions.nickInUse();
    if (me.isEmpty() || !line.contains(me))
        return;
    const qsizetype star = line.indexOf('*');
    if (star < 0)
        return;
    const qsizetype hostStart = line.indexOf(' ', star + 2);
    if (hostStart < 0)
        return;
    const qsizetype hostEnd = line.indexOf(' ', hostStart + 1);
    if (hostEnd < 0)
        return;
    const QByteArrayView host = line.sliced(hostStart + 1, hostEnd - hostStart - 1);
    if (!host.isEmpty())
        m_actions.resolveOwnHost(host);
}

void MessageDispatcher::nickInUse()
{
    QByteArray next =
        m_actions.nickInUse() == m_settings.nick ? m_settings.altnick : m_settings.nick;
    // Without an alternate nick, "NICK " alone would only draw an error from the server.
    if (next.isEmpty())
        next = m_settings.nick + '_';
    m_actions.setTitleNick(next);
    m_actions.sendLine("NICK " + next);
    m_actions.setNickInUse(next);
    m_actions.sendLine("WHO " + next);
}

} // namespace irc

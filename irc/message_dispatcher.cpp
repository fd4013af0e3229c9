#include "irc/message_dispatcher.h"

#include "diag/server_text.h"
#include "irc/ctcp.h"
#include "irc/line_tools.h"

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

} // namespace

QByteArray GetSenderNick(const QByteArray& line)
{
    if (line.startsWith(':')) {
        qsizetype end = line.size();
        for (const char stop : {'!', ' ', '@'}) {
            const qsizetype at = line.indexOf(stop, 1);
            if (at >= 0 && at < end)
                end = at;
        }
        return line.mid(1, end - 1);
    }
    // "PRIVMSG nick :text" without a prefix: the word after the command.
    const qsizetype start = line.indexOf(' ');
    if (start < 0)
        return {};
    qsizetype end = line.indexOf(' ', start + 1);
    if (end < 0)
        end = line.size();
    return line.mid(start + 1, end - start - 1);
}

std::optional<QByteArray> trailingText(const QByteArray& line)
{
    const qsizetype colon = line.indexOf(':', 1);
    if (colon < 0)
        return std::nullopt;
    return line.mid(colon + 1);
}

void MessageDispatcher::HandleServerLine(const QByteArray& line)
{
    const std::optional<QByteArray> word = GetCommandWord(line);
    if (!word)
        return;
    if (*word == "PING") {
        ping(line);
    } else if (*word == "NOTICE") {
        if (const auto text = trailingText(line))
            m_actions.noticeText(GetSenderNick(line), *text);
    } else if (*word == "PRIVMSG") {
        privmsg(line);
    } else if (*word == "303") {
        // ISON reply: the names after the colon, runs of blanks counting as one.
        if (const auto text = trailingText(line)) {
            QList<QByteArray> names = text->split(' ');
            names.removeAll(QByteArray());
            m_actions.presenceReply(names);
        }
    } else if (*word == "311") {
        whois(line);
    } else if (*word == "352") {
        whoReply(line);
    } else if (*word == "433") {
        nickInUse();
    }
}

void MessageDispatcher::ping(const QByteArray& line)
{
    // Servers check the token, so it goes back as sent; only a bare PING gets our host name.
    QByteArray token;
    if (const auto text = trailingText(line)) {
        token = *text;
    } else {
        const qsizetype blank = line.indexOf(' ', line.indexOf("PING"));
        token = blank < 0 ? QByteArray() : line.mid(blank + 1).trimmed();
    }
    // The line is a C string to the server: what follows a NUL (or a stray CR or LF, which the
    // framer leaves inside a line) is not part of the token, and must never reach the wire.
    token.truncate(lineSafeLength(token));
    if (token.isEmpty())
        token = m_actions.localHostName();
    if (token.isEmpty())
        return;
    QByteArray pong = "PONG :" + token;
    pong.truncate(kMaxLineContent);
    if (!m_actions.sendLine(pong))
        m_actions.logStatus(QStringLiteral("send() error - SOCKET_ERROR (PONG response)"));
}

bool MessageDispatcher::awayReplyDue(const QByteArray& sender)
{
    // Two away users would otherwise answer each other for ever and be killed for flooding.
    const qint64 now = m_actions.nowMs();
    const auto last = m_lastAwayReply.constFind(sender);
    if (last != m_lastAwayReply.constEnd() && now - *last < kAwayReplyIntervalMs)
        return false;
    if (m_lastAwayReply.size() > 1000) {
        for (auto it = m_lastAwayReply.begin(); it != m_lastAwayReply.end();) {
            it = now - *it >= kAwayReplyIntervalMs ? m_lastAwayReply.erase(it) : std::next(it);
        }
    }
    m_lastAwayReply.insert(sender, now);
    return true;
}

std::optional<QByteArray> MessageDispatcher::sendAwayReply(const QByteArray& sender)
{
    // A sender that cannot stand as one word of a line gets no reply: it would put its bytes
    // where the server reads a command.
    if (!m_settings.awayset || lineSafeLength(sender) != sender.size() || sender.contains(' ')
        || sender.startsWith(':'))
        return std::nullopt;
    const QByteArray prefix = "PRIVMSG " + sender + " :";
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

bool MessageDispatcher::dccOffer(QByteArray line, const QByteArray& text)
{
    // "\x01DCC <type> ...": the type is read from the CTCP text, never from the sender's nick.
    const QByteArray type = text.mid(5);
    std::optional<DccKind> kind;
    if (type.startsWith("SEND"))
        kind = DccKind::Send;
    else if (type.startsWith("CHAT"))
        kind = DccKind::Chat;
    else if (type.startsWith("VOICE"))
        kind = DccKind::Voice;
    if (!kind)
        return false;
    if (line.endsWith('\x01'))
        line.chop(1);
    if (const auto offer = parseDccOffer(*kind, line))
        m_actions.dccOffer(*offer);
    else
        m_actions.logStatus(QStringLiteral("DCC offer dropped: a field is missing"));
    return true;
}

void MessageDispatcher::privmsg(const QByteArray& line)
{
    const QByteArray sender = GetSenderNick(line);
    if (sender.isEmpty())
        return;

    const std::optional<QByteArray> awayEcho = sendAwayReply(sender);

    std::optional<QByteArray> text = trailingText(line);
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

void MessageDispatcher::whois(const QByteArray& line)
{
    // ":server 311 me subject user host * :real name" — the subject's fields, one per line.
    const QByteArray me = m_actions.nickInUse();
    if (me.isEmpty())
        return;
    const qsizetype command = line.indexOf(" 311 ");
    const qsizetype at = line.indexOf(me, command < 0 ? 0 : command + 5);
    if (at < 0)
        return;
    QByteArray text = line.mid(at + me.size() + 1);
    text.replace(' ', '\n');
    m_actions.showWhois(text);
}

void MessageDispatcher::whoReply(const QByteArray& line)
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
    const QByteArray host = line.mid(hostStart + 1, hostEnd - hostStart - 1);
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

#include "irc/commands.h"

namespace irc {

namespace {

bool isLineSafe(QByteArrayView bytes)
{
    return !bytes.contains('\r') && !bytes.contains('\n') && !bytes.contains('\0');
}

// One middle parameter: anything else would move the words after it, or end the line early.
bool isWord(QByteArrayView word)
{
    return !word.isEmpty() && !word.startsWith(':') && !word.contains(' ') && isLineSafe(word);
}

std::optional<QByteArray> fitting(QByteArray line)
{
    if (line.size() > kMaxLineContent)
        return std::nullopt;
    return line;
}

// <command> <word>
std::optional<QByteArray> withWord(QByteArrayView command, QByteArrayView word)
{
    if (!isWord(word))
        return std::nullopt;
    return fitting(command.toByteArray() + ' ' + word.toByteArray());
}

// <command> <target> :<text>
std::optional<QByteArray> withText(QByteArrayView command, QByteArrayView target,
                                   QByteArrayView text)
{
    if (!isWord(target) || !isLineSafe(text))
        return std::nullopt;
    return fitting(command.toByteArray() + ' ' + target.toByteArray() + " :" + text.toByteArray());
}

QByteArray framed(QByteArrayView body)
{
    return '\x01' + body.toByteArray() + '\x01';
}

// Packs `names` after `head`, as many to a line as fit, `separator` between them.
QList<QByteArray> packed(const QByteArray& head, char separator, const QList<QByteArray>& names)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (const QByteArray& name : names) {
        if (!isWord(name) || head.size() + name.size() > kMaxLineContent)
            continue;
        if (!line.isEmpty() && line.size() + 1 + name.size() > kMaxLineContent) {
            lines.append(line);
            line.clear();
        }
        if (line.isEmpty()) {
            // Room for a whole line up front: a poll of many contacts builds several.
            line.reserve(kMaxLineContent);
            line.append(head).append(name);
        } else {
            line.append(separator).append(name);
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

} // namespace

qsizetype Command::roomForText(QByteArrayView command, QByteArrayView target)
{
    const qsizetype head = command.size() + (target.isEmpty() ? 0 : 1 + target.size()) + 2;
    return kMaxLineContent - head;
}

qsizetype Command::roomForCtcp(QByteArrayView command, QByteArrayView target)
{
    return roomForText(command, target) - 2;
}

std::optional<QByteArray> Command::privmsg(QByteArrayView target, QByteArrayView text)
{
    return withText("PRIVMSG", target, text);
}

std::optional<QByteArray> Command::ctcp(QByteArrayView target, QByteArrayView body)
{
    if (!isLineSafe(body))
        return std::nullopt;
    return privmsg(target, framed(body));
}

std::optional<QByteArray> Command::notice(QByteArrayView target, QByteArrayView text)
{
    return withText("NOTICE", target, text);
}

std::optional<QByteArray> Command::ctcpReply(QByteArrayView target, QByteArrayView body)
{
    if (!isLineSafe(body))
        return std::nullopt;
    return notice(target, framed(body));
}

std::optional<QByteArray> Command::nick(QByteArrayView nick)
{
    return withWord("NICK", nick);
}

std::optional<QByteArray> Command::user(QByteArrayView user, QByteArrayView realname)
{
    if (!isWord(user) || !isLineSafe(realname))
        return std::nullopt;
    return fitting("USER " + user.toByteArray() + " 0 * :" + realname.toByteArray());
}

std::optional<QByteArray> Command::pass(QByteArrayView password)
{
    if (password.isEmpty() || !isLineSafe(password))
        return std::nullopt;
    return fitting("PASS " + password.toByteArray());
}

std::optional<QByteArray> Command::who(QByteArrayView mask)
{
    return withWord("WHO", mask);
}

std::optional<QByteArray> Command::whois(QByteArrayView nick)
{
    return withWord("WHOIS", nick);
}

std::optional<QByteArray> Command::pong(QByteArrayView token)
{
    if (!isLineSafe(token))
        return std::nullopt;
    return fitting("PONG :" + token.toByteArray());
}

QByteArray Command::quit()
{
    return "QUIT";
}

std::optional<QByteArray> Command::quit(QByteArrayView reason)
{
    if (!isLineSafe(reason))
        return std::nullopt;
    return fitting("QUIT :" + reason.toByteArray());
}

QByteArray Command::capList()
{
    return "CAP LS 302";
}

QByteArray Command::capEnd()
{
    return "CAP END";
}

std::optional<QByteArray> Command::capRequest(QByteArrayView capabilities)
{
    if (capabilities.isEmpty() || !isLineSafe(capabilities))
        return std::nullopt;
    return fitting("CAP REQ :" + capabilities.toByteArray());
}

std::optional<QByteArray> Command::authenticate(QByteArrayView word)
{
    return withWord("AUTHENTICATE", word);
}

QList<QByteArray> Command::ison(const QList<QByteArray>& names)
{
    return packed("ISON ", ' ', names);
}

QList<QByteArray> Command::monitor(char op, const QList<QByteArray>& names)
{
    if (op != '+' && op != '-')
        return {};
    return packed(QByteArray("MONITOR ") + op + ' ', ',', names);
}

QByteArray Command::monitorClear()
{
    return "MONITOR C";
}

} // namespace irc

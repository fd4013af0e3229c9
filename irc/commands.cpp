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

bool isKeyNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// [+][vendor/]name: anything else would be read back as a different tag, or end the tags early.
bool isTagKey(QByteArrayView key)
{
    if (key.startsWith('+'))
        key = key.sliced(1);
    const qsizetype slash = key.lastIndexOf('/');
    const QByteArrayView vendor = slash < 0 ? QByteArrayView() : key.first(slash);
    const QByteArrayView name = key.sliced(slash + 1);
    if (name.isEmpty() || (slash >= 0 && vendor.isEmpty()))
        return false;
    for (const char c : name) {
        if (!isKeyNameChar(c))
            return false;
    }
    for (const char c : vendor) {
        if (!isKeyNameChar(c) && c != '.')
            return false;
    }
    return true;
}

QByteArray escapedTagValue(QByteArrayView value)
{
    QByteArray out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case ';':
            out.append("\\:");
            break;
        case ' ':
            out.append("\\s");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\n':
            out.append("\\n");
            break;
        default:
            out.append(c);
            break;
        }
    }
    return out;
}

// The tags between '@' and the blank, or nothing when they cannot be sent.
std::optional<QByteArray> tagData(const QList<Tag>& tags)
{
    if (tags.isEmpty())
        return std::nullopt;
    QByteArray data;
    for (const Tag& tag : tags) {
        // CR and LF in a value travel escaped; a NUL has no escape and would end the line in C.
        if (!isTagKey(tag.key) || tag.value.contains('\0'))
            return std::nullopt;
        if (!data.isEmpty())
            data.append(';');
        data.append(tag.key);
        if (!tag.value.isEmpty())
            data.append('=').append(escapedTagValue(tag.value));
        // Checked as it grows: a hostile value of megabytes is refused without being copied.
        if (data.size() > kMaxTagData)
            return std::nullopt;
    }
    return data;
}

std::optional<QByteArray> chatHistory(QByteArrayView subcommand, QByteArrayView target,
                                      QByteArrayView reference, int limit)
{
    if (!isWord(target) || !isWord(reference) || limit <= 0)
        return std::nullopt;
    return fitting("CHATHISTORY " + subcommand.toByteArray() + ' ' + target.toByteArray() + ' '
                   + reference.toByteArray() + ' ' + QByteArray::number(limit));
}

} // namespace

qsizetype Command::roomForText(QByteArrayView command, QByteArrayView target)
{
    const qsizetype head = command.size() + (target.isEmpty() ? 0 : 1 + target.size()) + 2;
    return kMaxLineContent - head;
}

qsizetype Command::roomForRelayedText(QByteArrayView command, QByteArrayView target,
                                      QByteArrayView ownNick)
{
    constexpr qsizetype kUserAndHost = 10 + 63;
    // ':' nick '!' user '@' host ' '
    return roomForText(command, target) - (ownNick.size() + kUserAndHost + 4);
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

std::optional<QByteArray> Command::away(QByteArrayView text)
{
    if (text.isEmpty() || !isLineSafe(text))
        return std::nullopt;
    return fitting("AWAY :" + text.toByteArray());
}

QByteArray Command::back()
{
    return "AWAY";
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

QList<QByteArray> Command::userhost(const QList<QByteArray>& names)
{
    QList<QByteArray> lines;
    QList<QByteArray> five;
    for (const QByteArray& name : names) {
        if (name.isEmpty() || name.contains(' ') || !isLineSafe(name) || name.startsWith(':'))
            continue;
        five << name;
        if (five.size() == 5) {
            lines << "USERHOST " + five.join(' ');
            five.clear();
        }
    }
    if (!five.isEmpty())
        lines << "USERHOST " + five.join(' ');
    return lines;
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

std::optional<QByteArray> Command::tagged(const QList<Tag>& tags, QByteArrayView line)
{
    if (line.isEmpty() || line.startsWith('@') || line.startsWith(' ') || !isLineSafe(line)
        || line.size() > kMaxLineContent)
        return std::nullopt;
    const std::optional<QByteArray> data = tagData(tags);
    if (!data)
        return std::nullopt;
    return '@' + *data + ' ' + line.toByteArray();
}

std::optional<QByteArray> Command::tagMsg(QByteArrayView target, const QList<Tag>& tags)
{
    const std::optional<QByteArray> line = withWord("TAGMSG", target);
    if (!line)
        return std::nullopt;
    return tagged(tags, *line);
}

std::optional<QByteArray> Command::chatHistoryLatest(QByteArrayView target,
                                                     QByteArrayView reference, int limit)
{
    return chatHistory("LATEST", target, reference, limit);
}

std::optional<QByteArray> Command::chatHistoryAfter(QByteArrayView target, QByteArrayView reference,
                                                    int limit)
{
    if (reference == "*")
        return std::nullopt;
    return chatHistory("AFTER", target, reference, limit);
}

} // namespace irc

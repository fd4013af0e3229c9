#include "irc/message_parts.h"

#include "diag/control_escape.h"

namespace irc {

namespace {

// GetCommandWord's rule, read off the parse: the command is the line's first word, or the
// second after a source and one blank, and a blank follows it. Tags (unless granted), a leading
// blank or a doubled one after the source thus leave a line without a command word, as does a
// bare "PING"; such lines are not acted on. A command that says everything alone (`endsLine`)
// may end the line.
bool hasCommandWord(const Message& message, Capabilities granted, bool endsLine)
{
    const QByteArrayView line = lineAfterTags(message, granted);
    if (line.isEmpty())
        return false;
    const qsizetype start = message.command.data() - line.data();
    const qsizetype end = start + message.command.size();
    const bool alone = endsLine && end == line.size();
    if (!alone && (end >= line.size() || line[end] != ' '))
        return false;
    return line.startsWith(':') ? start == message.source.size() + 2 : start == 0;
}

} // namespace

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
QByteArrayView lineAfterTags(const Message& message, Capabilities granted)
{
    const QByteArrayView line = message.line;
    if (granted.isEmpty() || !line.startsWith('@'))
        return line;
    const qsizetype blank = line.indexOf(' ');
    return blank < 0 ? QByteArrayView() : line.sliced(blank + 1);
}

// The names of an ISON reply's trailing text; runs of blanks count as one.
QVarLengthArray<QByteArrayView, 32> isonNames(QByteArrayView text)
{
    QVarLengthArray<QByteArrayView, 32> names;
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

bool isActedOn(const Message& message, Capabilities granted, bool endsLine)
{
    return hasCommandWord(message, granted, endsLine);
}

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

bool isChannel(QByteArrayView target)
{
    return !target.isEmpty() && QByteArrayView("#&+!").contains(target.front());
}

} // namespace irc

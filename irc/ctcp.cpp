#include "irc/ctcp.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "irc/texts.h"

#include <algorithm>
#include <array>
#include <limits>

namespace irc {

namespace {

// In code order: the code of a keyword is its index plus one.
constexpr std::array<const char*, 9> kKeywords = {
    "FINGER", "VERSION", "SOURCE", "USERINFO", "CLIENTINFO", "ERRMSG", "PING", "TIME", "ENCRYPT",
};

QByteArrayView keyword(CtcpCode code)
{
    const int value = static_cast<int>(code);
    if (value < 1 || value > static_cast<int>(kKeywords.size()))
        return {};
    return QByteArrayView(kKeywords[static_cast<std::size_t>(value - 1)]);
}

bool holdsLineBreak(QByteArrayView bytes)
{
    return bytes.contains('\r') || bytes.contains('\n') || bytes.contains('\0');
}

// Peer text is a C string to the rest of IRC: nothing after a NUL is part of it.
QByteArrayView upToNul(QByteArrayView text)
{
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.first(nul);
}

// "\x01PING <argument>\x01": the argument runs to the next 0x01 or the end. A keyword that
// goes on with more letters ("\x01PINGS") has no argument.
QByteArrayView pingArgument(QByteArrayView text)
{
    const qsizetype start = 1 + keyword(CtcpCode::Ping).size();
    if (text.size() <= start || text[start] != ' ')
        return {};
    QByteArrayView argument = text.sliced(start + 1);
    const qsizetype close = argument.indexOf('\x01');
    return close < 0 ? argument : argument.first(close);
}

// The body of the answer to a PING from `sender`, "PING <echo or our clock>".
std::optional<QByteArray> pingAnswer(QByteArrayView sender, QByteArrayView text, qint64 nowSeconds)
{
    const QByteArrayView argument = pingArgument(text);
    if (holdsLineBreak(argument))
        return std::nullopt;
    const QByteArray start = "PING ";
    if (argument.isEmpty())
        return start + QByteArray::number(nowSeconds);
    // Cut the echo rather than the frame, so the asker still reads a whole CTCP reply.
    const qsizetype room = Command::roomForCtcp("NOTICE", sender) - start.size();
    if (room < 0)
        return std::nullopt;
    return start + argument.first(std::min(room, argument.size())).toByteArray();
}

// Cuts at kMaxReplyTextBytes without splitting a UTF-8 sequence, which would make the whole
// text fall back to Latin-1 on display. At most three continuation bytes are given up, so
// Latin-1 text loses no more than that.
QByteArrayView cutReplyText(QByteArrayView text)
{
    return diag::cutUtf8(text, kMaxReplyTextBytes);
}

// As the C library reads a number: leading white space, an optional sign, then digits up to
// the first non-digit; no digits give 0. Saturates instead of overflowing.
qint64 leadingNumber(QByteArrayView text)
{
    constexpr qint64 kLimit = std::numeric_limits<qint64>::max() / 4;
    qsizetype at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    qint64 value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const int digit = text[at] - '0';
        value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
    }
    return negative ? -value : value;
}

} // namespace

QString ctcpQueryName(CtcpCode code)
{
    switch (code) {
    case CtcpCode::Finger:
        return QString::fromLatin1(text::kCtcpFinger);
    case CtcpCode::Version:
        return QString::fromLatin1(text::kCtcpVersion);
    case CtcpCode::Ping:
        return QString::fromLatin1(text::kCtcpPing);
    case CtcpCode::Time:
        return QString::fromLatin1(text::kCtcpTime);
    case CtcpCode::Source:
        return QString::fromLatin1(text::kCtcpSource);
    default:
        return {};
    }
}

// "Finger Reply" and so on: the box of each query kind is titled after it.
QString ctcpReplyTitle(CtcpCode code)
{
    const QString name = ctcpQueryName(code);
    return name.isEmpty() ? name : name + QString::fromLatin1(text::kCtcpReplySuffix);
}

int ClassifyCtcp(std::optional<QByteArrayView> text)
{
    if (!text || !text->startsWith('\x01'))
        return 0;
    const QByteArrayView rest = text->sliced(1);
    for (std::size_t i = 0; i < kKeywords.size(); ++i) {
        if (rest.startsWith(QByteArrayView(kKeywords[i])))
            return static_cast<int>(i) + 1;
    }
    return 0;
}

std::optional<Ctcp> splitCtcpFrame(QByteArrayView text)
{
    Ctcp ctcp;
    ctcp.code = ctcpCode(text);
    qsizetype keywordSize = keyword(ctcp.code).size();
    if (ctcp.code == CtcpCode::None) {
        if (!text.startsWith("\x01"
                             "DCC"))
            return std::nullopt;
        ctcp.dcc = true;
        keywordSize = 3;
    }
    ctcp.text = text;
    // The byte after the keyword is skipped whatever it is: the blank of a well-formed message.
    ctcp.arguments = text.sliced(std::min(text.size(), 1 + keywordSize + 1));
    if (ctcp.arguments.endsWith('\x01'))
        ctcp.arguments.chop(1);
    return ctcp;
}

bool isLineWord(QByteArrayView word)
{
    return !word.isEmpty() && !word.startsWith(':') && !word.contains(' ') && !holdsLineBreak(word);
}

std::optional<QByteArray> answerCtcpQuery(QByteArrayView sender, QByteArrayView text, CtcpCode code,
                                          const CtcpLocalTime& local)
{
    if (!isLineWord(sender))
        return std::nullopt;
    std::optional<QByteArray> body;
    switch (code) {
    // Framed as CTCP replies: a plain notice is only text, and no client shows it as the answer
    // to its query.
    case CtcpCode::Version:
        body = QByteArray("VERSION Kivvo Version 2.0 ") + kHomePage;
        break;
    case CtcpCode::Source:
        body = QByteArray("SOURCE ") + kDownloadPage;
        break;
    case CtcpCode::Ping:
        body = pingAnswer(sender, text, local.nowSeconds);
        break;
    case CtcpCode::Time:
        body = "TIME " + local.date + ' ' + local.time;
        break;
    default:
        // FINGER, USERINFO, CLIENTINFO and ERRMSG go unanswered; ENCRYPT only means something
        // on a direct chat link.
        return std::nullopt;
    }
    // The last guard for every answer: one line, within the server's limit.
    if (!body)
        return std::nullopt;
    return Command::ctcpReply(sender, *body);
}

CtcpAnswerVerdict CtcpAnswerLimit::admit(qint64 nowMs)
{
    // Answers stamped in the future mean the clock went back; forgetting them keeps a clock
    // step from silencing us until the old time comes round again.
    const auto stale = [nowMs](qint64 at) { return at > nowMs || nowMs - at >= kWindowMs; };
    m_answeredAt.erase(std::remove_if(m_answeredAt.begin(), m_answeredAt.end(), stale),
                       m_answeredAt.end());

    if (static_cast<int>(m_answeredAt.size()) < kMaxAnswers) {
        m_answeredAt.push_back(nowMs);
        m_burstNoted = false;
        return CtcpAnswerVerdict::Answered;
    }
    if (m_burstNoted)
        return CtcpAnswerVerdict::Dropped;
    m_burstNoted = true;
    return CtcpAnswerVerdict::DroppedFirst;
}

std::optional<CtcpReplyBox> readCtcpReply(QByteArrayView text, CtcpCode code, qint64 nowSeconds)
{
    QString title = ctcpReplyTitle(code);
    if (title.isEmpty())
        return std::nullopt;
    text = upToNul(text);
    const QByteArrayView word = keyword(code);
    const qsizetype at = text.indexOf(word);
    if (at < 0)
        return std::nullopt;
    // One past the keyword is the blank before the reply text; a keyword followed directly
    // by its closing 0x01 thus leaves nothing to show.
    const qsizetype start = at + word.size() + 1;
    if (start > text.size())
        return std::nullopt;
    const QByteArrayView rest = text.sliced(start);
    const qsizetype close = rest.indexOf('\x01');
    if (close < 0)
        return std::nullopt;
    const QByteArrayView reply = cutReplyText(rest.first(close));

    if (code == CtcpCode::Ping) {
        const qint64 delay = nowSeconds - leadingNumber(reply);
        return CtcpReplyBox{title, QString::fromLatin1(text::kPingReplySeconds).arg(delay)};
    }
    // Shown in a box under a line of our own: it may not add lines that look like ours.
    return CtcpReplyBox{title, diag::escapeControls(diag::decodeServerText(reply))};
}

std::optional<QByteArray> buildCtcpQuery(ContactQuery query, QByteArrayView nick, qint64 nowSeconds)
{
    if (!isLineWord(nick))
        return std::nullopt;
    switch (query) {
    case ContactQuery::Ping:
        return Command::ctcp(nick, "PING " + QByteArray::number(nowSeconds));
    case ContactQuery::Whois:
        return Command::whois(nick);
    case ContactQuery::Version:
        return Command::ctcp(nick, "VERSION");
    case ContactQuery::Finger:
        return Command::ctcp(nick, "FINGER");
    case ContactQuery::Time:
        return Command::ctcp(nick, "TIME");
    case ContactQuery::Source:
        return Command::ctcp(nick, "SOURCE");
    }
    return std::nullopt;
}

} // namespace irc

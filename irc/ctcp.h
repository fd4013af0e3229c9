#pragma once

#include "irc/line_limits.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <deque>
#include <optional>

namespace irc {

// The product's own addresses, named in the VERSION and SOURCE answers.
inline constexpr char kHomePage[] = "https://kivvo.example.org/";
inline constexpr char kDownloadPage[] = "https://kivvo.example.org/download/";

// Noted once per burst in the debug window when answers are being dropped.
inline constexpr char kCtcpAnswersDropped[] =
    "Too many CTCP queries: automatic answers dropped for a while";

// The CTCP keyword table; a code is the keyword's position in it, counting from 1. The direct
// chat reader relies on these numbers (9 starts the key exchange), so they never change.
enum class CtcpCode {
    None = 0,
    Finger = 1,
    Version = 2,
    Source = 3,
    UserInfo = 4,
    ClientInfo = 5,
    ErrMsg = 6,
    Ping = 7,
    Time = 8,
    Encrypt = 9,
};

// 0x01 and an upper-case keyword at the very start of `text`, compared byte for byte: a prefix
// test, so "\x01PINGS" is a PING and "\x01ping" is nothing. An absent text gives 0.
int ClassifyCtcp(std::optional<QByteArrayView> text);
inline CtcpCode ctcpCode(std::optional<QByteArrayView> text)
{
    return static_cast<CtcpCode>(ClassifyCtcp(text));
}

// A CTCP message split once from a trailing parameter: 0x01, a keyword of the table (or DCC, whose
// offers are read in dcc_parse), then the arguments. Views the text.
struct Ctcp
{
    CtcpCode code = CtcpCode::None; // None for DCC
    bool dcc = false;
    QByteArrayView text;      // the whole trailing text, its 0x01 bytes included
    QByteArrayView arguments; // from one byte past the keyword on, a closing 0x01 left off
};

// The CTCP message in `text` by ClassifyCtcp's prefix rule, "\x01DCC" included; nothing for any
// other text, which is shown as it is (ACTION among it).
std::optional<Ctcp> splitCtcpFrame(QByteArrayView text);
// Nearly every text is no CTCP message at all, which its first byte tells.
inline std::optional<Ctcp> splitCtcp(std::optional<QByteArrayView> text)
{
    if (!text || !text->startsWith('\x01'))
        return std::nullopt;
    return splitCtcpFrame(*text);
}

// A nick or target that can stand as one word of an IRC line: not empty, no CR, LF, NUL or
// blank, and no leading ':' (which would turn it into the trailing text).
bool isLineWord(QByteArrayView word);

// What an answer needs from the host: the clock in seconds since 1970 and the local date and
// time, already formatted in the system locale's short date and default time formats.
struct CtcpLocalTime
{
    qint64 nowSeconds = 0;
    QByteArray date;
    QByteArray time;

    bool operator==(const CtcpLocalTime& other) const
    {
        return nowSeconds == other.nowSeconds && date == other.date && time == other.time;
    }
};

// The automatic answer to a CTCP query from `sender` whose trailing text is `text`, as one line
// without CR LF. Only VERSION, SOURCE, PING and TIME are answered. Nothing when the sender is
// not a usable nick, when peer bytes would put CR, LF or NUL on the wire, or when the line
// would not fit kMaxLineContent. A PING's own argument is echoed (cut to fit) so that the asker
// can measure its round trip; a bare PING gets our clock.
std::optional<QByteArray> answerCtcpQuery(QByteArrayView sender, QByteArrayView text, CtcpCode code,
                                          const CtcpLocalTime& local);

enum class CtcpAnswerVerdict {
    Answered,
    DroppedFirst, // the first dropped in this burst: the caller notes it once
    Dropped,
};

// At most kMaxAnswers automatic answers in any kWindowMs, so that a flood of queries cannot get
// us disconnected for excess flood. Fed a monotonic clock; ask it only for queries that have an
// answer.
class CtcpAnswerLimit
{
public:
    static constexpr int kMaxAnswers = 3;
    static constexpr qint64 kWindowMs = 5000;

    CtcpAnswerVerdict admit(qint64 nowMs);

private:
    std::deque<qint64> m_answeredAt;
    bool m_burstNoted = false;
};

// A CTCP reply as the main window shows it, in a box with this title.
struct CtcpReplyBox
{
    QString title;
    QString text;

    bool operator==(const CtcpReplyBox& other) const
    {
        return title == other.title && text == other.text;
    }
};

// The longest reply text shown; the rest of a longer reply is cut off, at a character
// boundary when the text is UTF-8.
inline constexpr qsizetype kMaxReplyTextBytes = 255;

// The title of the box that shows a reply of `code`; empty for a kind that is never shown.
QString ctcpReplyTitle(CtcpCode code);
// The name of the query that asks for a reply of `code`, as the contact menu calls it.
QString ctcpQueryName(CtcpCode code);

// The box for a CTCP reply in a NOTICE's trailing text: FINGER, VERSION, SOURCE, PING and TIME
// replies are shown, others not. The reply text starts one byte past the keyword and ends at the
// next 0x01; without that closing 0x01 nothing is shown. A PING reply shows our clock minus the
// number it carries.
std::optional<CtcpReplyBox> readCtcpReply(QByteArrayView text, CtcpCode code, qint64 nowSeconds);

// At most one open reply box per kind, so that a flood of replies cannot stack up boxes.
class CtcpReplyBoxes
{
public:
    bool canShow(CtcpCode code) const { return (m_open & bit(code)) == 0; }
    void markOpen(CtcpCode code) { m_open |= bit(code); }
    void markClosed(CtcpCode code) { m_open &= ~bit(code); }

private:
    // A value outside the table maps to no bit, so it never blocks a box.
    static unsigned bit(CtcpCode code)
    {
        const auto value = static_cast<unsigned>(code);
        return value <= static_cast<unsigned>(CtcpCode::Encrypt) ? 1u << value : 0u;
    }

    unsigned m_open = 0;
};

// The queries a user can put to a contact: WHOIS and five CTCP queries.
enum class ContactQuery { Whois, Ping, Version, Finger, Time, Source };
inline constexpr ContactQuery kContactQueries[] = {ContactQuery::Whois,   ContactQuery::Ping,
                                                   ContactQuery::Version, ContactQuery::Finger,
                                                   ContactQuery::Time,    ContactQuery::Source};

// The line that `query` sends to `nick`, without CR LF; nothing for a nick that cannot stand in
// a line (see isLineWord).
std::optional<QByteArray> buildCtcpQuery(ContactQuery query, QByteArrayView nick,
                                         qint64 nowSeconds);

} // namespace irc

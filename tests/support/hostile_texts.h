// What a nick, a peer or a server may put inside one line to make it look like two: every
// character that a text view, an editor or a terminal takes as the end of a line, and the visible
// escape that stands for it wherever the line is shown or written down. The suites of the chat
// view, the chat log, the debug panes and the notices all read this one table.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>

namespace test {

struct LineBreak
{
    const char* name;
    QByteArray bytes;   // as it arrives, UTF-8
    QByteArray escaped; // as it is shown and logged
};

inline const std::array<LineBreak, 8> kLineBreaks = {{
    {"paragraph separator", "\xE2\x80\xA9", "\\u2029"},
    {"line separator", "\xE2\x80\xA8", "\\u2028"},
    {"lone CR", "\r", "\\x0d"},
    {"bare LF", "\n", "\\x0a"},
    {"CR LF", "\r\n", "\\x0d\\x0a"},
    {"next line", "\xC2\x85", "\\x85"},
    {"vertical tab", "\x0b", "\\x0b"},
    {"form feed", "\x0c", "\\x0c"},
}};

// A line that, split at its break, would put words into the user's mouth.
inline QByteArray forgedLine(const LineBreak& brk)
{
    return "ok" + brk.bytes + "<alice> yes, I will pay 500 EUR";
}

// The same line as it must be shown: one line, its break visible.
inline QByteArray shownLine(const LineBreak& brk)
{
    return "ok" + brk.escaped + "<alice> yes, I will pay 500 EUR";
}

inline QString shownText(const LineBreak& brk)
{
    return QString::fromUtf8(shownLine(brk));
}

} // namespace test

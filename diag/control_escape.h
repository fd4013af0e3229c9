#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace diag {

// Text from others as it may be stored where a terminal or an editor will show it again: the
// controls that could move the cursor, clear a screen, retitle a terminal or reorder what is
// read (ESC and the other C0 and C1 controls, DEL, and the bidi embeddings, overrides and
// isolates U+202A-U+202E, U+2066-U+2069), and every character that ends a line (CR, LF, VT, FF,
// U+0085, U+2028, U+2029), are written as "\x1b", "\x0a" or "\u2029". A text from others is
// one line, whatever it holds: the caller adds the line end of its own. The IRC formatting codes
// (bold, colour, reset, reverse, italic, underline) and tabs pass as they are, so logs keep their
// formatting.
QByteArray escapeControlBytes(QByteArrayView text);
QString escapeControls(const QString& text);

// Only the characters that end a line, escaped as above: what a view shows of a text from others
// is one line, while the rest of it is shown as it came.
QByteArray escapeLineBreakBytes(QByteArrayView text);
QString escapeLineBreaks(const QString& text);

// `text` for a place that renders what looks like markup (tooltips, a tray's tip): unchanged
// when it holds no '<' and so reads as plain text anyway, else escaped inside an explicit rich-text
// frame, so that what it says is shown exactly, tags included.
QString plainTip(const QString& text);

} // namespace diag

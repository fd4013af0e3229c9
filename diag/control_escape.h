#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace diag {

// Text from others as it may be stored where a terminal or an editor will show it again: the
// controls that could move the cursor, clear a screen, retitle a terminal or reorder what is
// read (ESC and the other C0 and C1 controls, a CR not followed by LF, DEL, and the bidi
// embeddings, overrides and isolates U+202A-U+202E, U+2066-U+2069) are written as "\x1b" or
// "\u202e". The IRC formatting codes (bold, colour, reset, reverse, italic, underline), tabs
// and CR LF line ends pass as they are, so logs keep their formatting.
QByteArray escapeControlBytes(QByteArrayView text);
QString escapeControls(const QString& text);

} // namespace diag

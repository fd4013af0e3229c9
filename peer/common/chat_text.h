#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace peer {

// The bytes of a line the user typed: UTF-8, with CR, LF and NUL turned into blanks, since any
// of them would end or cut the line it travels in.
QByteArray wireText(const QString& typed);

// `line` as one line of the chat view and the log: every line break before its closing CR LF
// shown as its escape ("\x0a", "\u2029"), and a CR LF at its end.
QByteArray oneShownLine(QByteArrayView line);

// The two forms of a chat's lines, built here alone: what someone said ("<nick> text") and a
// note of the program ("*note*"), each ending in CR LF. Neither escapes anything:
// oneShownLine() makes a shown line of them.
QByteArray saidLine(const QByteArray& who, const QByteArray& text);
// Our away reply as we show and log it: said by us, but marked as sent by itself.
QByteArray autoReplyLine(const QByteArray& who, const QByteArray& text);
QByteArray noteLine(QByteArrayView note);

// `text` cut into pieces of at most `maxBytes` bytes: after the last blank that fits, or where
// no blank does, at the last UTF-8 character boundary. Nothing is dropped: the pieces joined are
// `text`, a blank at a cut ending the piece before it. One empty piece for an empty text.
QList<QByteArray> splitAtWords(const QByteArray& text, int maxBytes);

} // namespace peer

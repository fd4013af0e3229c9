#pragma once

#include "irc/capabilities.h"
#include "irc/message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QVarLengthArray>

#include <optional>

namespace irc {

// The typed parts of a parsed line as the rules that act on it read them. All view the line.

// Whether `message` has the command word the rules read: the line's first word, or the second
// after a source and one blank, followed by a blank. Tags (read past only once something was
// granted), a leading blank or a doubled one after the source thus leave a line without one, as
// does a bare "PING"; such lines are not acted on. `endsLine`: a command that says everything
// alone may end the line.
bool isActedOn(const Message& message, Capabilities granted, bool endsLine = false);

// The line as the rules read it: past its tags once something was granted, else whole.
QByteArrayView lineAfterTags(const Message& message, Capabilities granted);

// The sender of a line: the nick of its source; without a source, the word after the command
// (as in "PRIVMSG nick :text").
QByteArrayView GetSenderNick(const Message& message);
// Whether a PRIVMSG or NOTICE target names a channel rather than us.
bool isChannel(QByteArrayView target);

// The bytes before the first that would end an IRC line (CR, LF or NUL).
qsizetype lineSafeLength(QByteArrayView bytes);

// The names of an ISON reply's trailing text; runs of blanks count as one.
QVarLengthArray<QByteArrayView, 32> isonNames(QByteArrayView text);
// A 311 answer's fields, one labelled line each, line breaks inside a field escaped.
QByteArray whoisText(const Message::Params& params);
// The host field of a WHO reply to our own WHO, read from the line as sent.
std::optional<QByteArrayView> whoReplyHost(QByteArrayView line);

} // namespace irc

#pragma once

#include "irc/message.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <optional>

namespace irc {

// When the server says a line happened, from its "time" tag. Only the one form the server-time
// extension allows is read (2011-10-19T16:40:51.620Z): a looser reading would place a hostile or
// broken stamp somewhere in the log instead of falling back to the time of receipt.
std::optional<QDateTime> serverTime(const Message& message);
std::optional<QDateTime> parseServerTime(QByteArrayView value);

// The same form, in UTC; empty for a time that it cannot hold (invalid, or a year outside
// 1..9999).
QByteArray formatServerTime(const QDateTime& time);

} // namespace irc

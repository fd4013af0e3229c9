#pragma once

#include <QByteArray>

#include <functional>

namespace diag {

// How the diagnostic windows reach the server: hands the bytes to the server connection as they
// are and returns false when there is no connection to take them.
using LineSender = std::function<bool(const QByteArray& bytes)>;

// An IRC line holds at most 512 bytes with its CR LF; every line we build without the CR LF
// must fit in the rest. Servers cut longer lines, and what is cut is lost or, worse, read as
// something else. Kept here, below the irc module, because the windows' typed lines obey it too.
inline constexpr qsizetype kMaxLineBytes = 512;
inline constexpr qsizetype kMaxLineContent = kMaxLineBytes - 2;

} // namespace diag

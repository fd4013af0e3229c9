#pragma once

#include <QtGlobal>

namespace irc {

// An IRC line holds at most 512 bytes with its CR LF; every line we build without the CR LF
// must fit in the rest. Servers cut longer lines, and what is cut is lost or, worse, read as
// something else.
inline constexpr qsizetype kMaxLineBytes = 512;
inline constexpr qsizetype kMaxLineContent = kMaxLineBytes - 2;
// What a client may send of message tags, between the '@' and the blank after them; that
// prefix does not count against kMaxLineContent.
inline constexpr qsizetype kMaxTagData = 4094;

} // namespace irc

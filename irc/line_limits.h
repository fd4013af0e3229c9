#pragma once

#include "diag/line_sender.h"

#include <QtGlobal>

namespace irc {

// The 512 bytes of an IRC line with its CR LF, and the 510 every line we build without the CR LF
// must fit in; defined with the diagnostic windows, whose typed lines obey them too.
inline constexpr qsizetype kMaxLineBytes = diag::kMaxLineBytes;
inline constexpr qsizetype kMaxLineContent = diag::kMaxLineContent;
// What a client may send of message tags, between the '@' and the blank after them; that
// prefix does not count against kMaxLineContent.
inline constexpr qsizetype kMaxTagData = 4094;

} // namespace irc

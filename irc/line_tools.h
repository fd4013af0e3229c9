#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// The complete CR LF lines of `data`, without their CR LF, and how many bytes they took. Every
// pair ends a line, so two pairs in a row give an empty line; the bytes after the last pair are
// not consumed and belong to the next read.
struct SplitResult
{
    QList<QByteArray> lines;
    qsizetype consumed = 0;
};
SplitResult SplitLines(QByteArrayView data);

// Cuts `text` at its last CR LF pair and returns the position of the cut; returns 0 and leaves
// the text alone when no pair is found at position 1 or later (a pair at 0 is not examined).
qsizetype CutAtLastCrLf(QByteArray& text);

// The command word of an IRC line: after a ':' prefix, the text between the first and second
// blank; otherwise the text before the first blank. Nothing when the line lacks those blanks.
std::optional<QByteArray> GetCommandWord(QByteArrayView line);

} // namespace irc

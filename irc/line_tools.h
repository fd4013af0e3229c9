#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// Where the first CR LF pair at or after `from` starts, or -1.
qsizetype findCrLf(QByteArrayView data, qsizetype from = 0);

// Hands every complete CR LF line of `data` to `onLine`, without its CR LF and as a view of
// `data`, and returns how many bytes those lines took. Every pair ends a line, so two pairs in a
// row give an empty line; the bytes after the last pair are not consumed and belong to the next
// read (the line framer carries them over).
template <typename OnLine> qsizetype SplitLines(QByteArrayView data, OnLine&& onLine)
{
    qsizetype start = 0;
    for (qsizetype cr = findCrLf(data, start); cr >= 0; cr = findCrLf(data, start)) {
        onLine(data.sliced(start, cr - start));
        start = cr + 2;
    }
    return start;
}

// Cuts `text` at its last CR LF pair and returns the position of the cut; returns 0 and leaves
// the text alone when no pair is found at position 1 or later (a pair at 0 is not examined).
qsizetype CutAtLastCrLf(QByteArray& text);

// The command word of an IRC line: after a ':' prefix, the text between the first and second
// blank; otherwise the text before the first blank. Nothing when the line lacks those blanks.
std::optional<QByteArray> GetCommandWord(QByteArrayView line);

} // namespace irc

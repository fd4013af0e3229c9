#pragma once

#include "peer/chat/format_runs.h"

#include <QByteArrayView>
#include <QString>
#include <QTextCharFormat>

#include <vector>

class QPalette;
class QTextCursor;
class QTextDocument;
class QTextEdit;

namespace peer {

// Turns one shown chat line into display text and character formats for a rich text view,
// and appends it to a document without touching what the document already holds.

// One formatted range of the display text, in QString (UTF-16) positions. The format holds
// only the attribute of its run, so that merging it leaves the others alone.
struct FormatSpan
{
    int start = 0;
    int length = 0;
    QTextCharFormat format;

    friend bool operator==(const FormatSpan& a, const FormatSpan& b)
    {
        return a.start == b.start && a.length == b.length && a.format == b.format;
    }
    friend bool operator!=(const FormatSpan& a, const FormatSpan& b) { return !(a == b); }
};

struct RenderedLine
{
    QString text;                  // codes removed, CR LF as one line break
    std::vector<FormatSpan> spans; // in run order: later ones win on the same attribute

    friend bool operator==(const RenderedLine& a, const RenderedLine& b)
    {
        return a.text == b.text && a.spans == b.spans;
    }
    friend bool operator!=(const RenderedLine& a, const RenderedLine& b) { return !(a == b); }
};

// The attribute a run sets: bold weight, underline, italic, strikethrough, a fixed-pitch face,
// the application's text colours swapped (reverse), or foreground (and background) colour; an
// empty format for a colour number without a colour.
QTextCharFormat formatForRun(const FormatRun& run);

// The display text of the raw bytes `line` (UTF-8, else Latin-1) and its formats, placed on
// the right characters even where multi-byte characters come before them.
RenderedLine renderFormattedLine(QByteArrayView line);

// Merges each span, shifted by `offset`, into the document of `cursor`, which it moves.
void ApplyFormatRuns(QTextCursor& cursor, int offset, const std::vector<FormatSpan>& spans);

// Appends `line` at the end of the document and formats it. The work depends on the line
// only, not on how much the document already holds.
void appendFormattedLine(QTextDocument* document, QByteArrayView line);
void appendFormattedLine(QTextEdit* view, QByteArrayView line);

// The property that tells a line not protected by its chat's encryption, on every character.
inline constexpr int kUnprotectedLine = QTextFormat::UserProperty + 1;
// How such a line looks: slanted, on a tinted background, with a wavy underline in a warning
// colour, all made from `palette` so that a dark theme keeps it readable.
QTextCharFormat unprotectedLineFormat(const QPalette& palette);
// Merges `format` over the whole of the newest line of `document` (the block before the empty
// last one), after the line's own formats: nothing the line holds can take it off a part of it.
void formatNewestLine(QTextDocument* document, const QTextCharFormat& format);

} // namespace peer

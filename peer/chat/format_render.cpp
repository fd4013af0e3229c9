#include "peer/chat/format_render.h"

#include "diag/server_text.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

namespace peer {

namespace {

QColor toColor(const Rgb& rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

// UTF-16 units that byte `b` of valid UTF-8 adds: a sequence counts at its lead byte, two
// units for the four-byte sequences that become surrogate pairs.
int utf16Units(char b)
{
    const auto byte = static_cast<unsigned char>(b);
    if ((byte & 0xC0) == 0x80)
        return 0;
    if ((byte & 0xF8) == 0xF0)
        return 2;
    return 1;
}

// For every byte boundary of `bytes`, its position in the display text. A CR before LF
// counts nothing, since the display shows CR LF as one break (a text document would
// otherwise turn the pair into a single block break and shift everything after it).
std::vector<int> displayPositions(QByteArrayView bytes, bool utf8)
{
    std::vector<int> positions(std::size_t(bytes.size()) + 1, 0);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const bool crBeforeLf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        const int units = crBeforeLf ? 0 : utf8 ? utf16Units(bytes[i]) : 1;
        positions[std::size_t(i) + 1] = positions[std::size_t(i)] + units;
    }
    return positions;
}

// Frame markers would be taken by the document as structure, not text; they keep their place
// as replacement characters.
void replaceFrameMarkers(QString& text)
{
    for (QChar& ch : text) {
        if (ch == QChar(0xFDD0) || ch == QChar(0xFDD1))
            ch = QChar::ReplacementCharacter;
    }
}

} // namespace

QTextCharFormat formatForRun(const FormatRun& run)
{
    QTextCharFormat format;
    if (run.code == kBoldCode) {
        format.setFontWeight(QFont::Bold);
    } else if (run.code == kUnderlineCode) {
        format.setFontUnderline(true);
    } else if (run.code == kItalicCode) {
        format.setFontItalic(true);
    } else if (run.code == kStrikeCode) {
        format.setFontStrikeOut(true);
    } else if (run.code == kMonospaceCode) {
        format.setFontFamilies(QStringList{QStringLiteral("monospace")});
        format.setFontFixedPitch(true);
    } else if (run.code == kReverseCode) {
        // The view's own colours swapped; a colour code in the range still wins over them.
        const QPalette palette = QGuiApplication::palette();
        format.setForeground(palette.color(QPalette::Base));
        format.setBackground(palette.color(QPalette::Text));
    } else if (run.code == kColourCode) {
        if (const auto colour = formatColour(run.colour))
            format.setForeground(toColor(*colour));
        if (const auto background = formatColour(run.background))
            format.setBackground(toColor(*background));
    }
    return format;
}

RenderedLine renderFormattedLine(QByteArrayView line)
{
    const QByteArray stripped = StripFormatCodes(line);
    RenderedLine rendered;
    rendered.text = diag::decodeServerText(stripped);
    // The decoder falls back to Latin-1, one unit per byte, exactly when the text is not
    // UTF-8; valid UTF-8 of the same length is ASCII, where both counts agree anyway.
    const bool utf8 = rendered.text.size() != stripped.size();
    rendered.text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    replaceFrameMarkers(rendered.text);
    const std::vector<int> positions = displayPositions(stripped, utf8);

    for (const FormatRun& run : BuildFormatRuns(line)) {
        const QTextCharFormat format = formatForRun(run);
        const qsizetype last = stripped.size();
        const int start = positions[std::size_t(std::clamp<qsizetype>(run.start, 0, last))];
        const int end = positions[std::size_t(std::clamp<qsizetype>(run.end, 0, last))];
        if (end > start && !format.properties().isEmpty())
            rendered.spans.push_back({start, end - start, format});
    }
    return rendered;
}

void ApplyFormatRuns(QTextCursor& cursor, int offset, const std::vector<FormatSpan>& spans)
{
    for (const FormatSpan& span : spans) {
        cursor.setPosition(offset + span.start);
        cursor.setPosition(offset + span.start + span.length, QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(span.format);
    }
}

void appendFormattedLine(QTextDocument* document, QByteArrayView line)
{
    if (document == nullptr)
        return;
    const RenderedLine rendered = renderFormattedLine(line);
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    const int offset = cursor.position();
    // A plain format, so that the new text never inherits the last character's bold or colour.
    cursor.insertText(rendered.text, QTextCharFormat());
    ApplyFormatRuns(cursor, offset, rendered.spans);
    cursor.endEditBlock();
}

void appendFormattedLine(QTextEdit* view, QByteArrayView line)
{
    if (view != nullptr)
        appendFormattedLine(view->document(), line);
}

QTextCharFormat unprotectedLineFormat(const QPalette& palette)
{
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    // Between the text and red, so that it reads as a warning on light and dark themes alike.
    const QColor warning((text.red() + 255) / 2, text.green() / 2, text.blue() / 2);
    QTextCharFormat format;
    format.setFontItalic(true);
    format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    format.setUnderlineColor(warning);
    format.setBackground(
        QColor((base.red() * 7 + 255) / 8, (base.green() * 7 + 160) / 8, base.blue() * 7 / 8));
    format.setProperty(kUnprotectedLine, true);
    return format;
}

void formatNewestLine(QTextDocument* document, const QTextCharFormat& format)
{
    if (document == nullptr)
        return;
    const QTextBlock block = document->lastBlock().previous();
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.mergeCharFormat(format);
}

} // namespace peer

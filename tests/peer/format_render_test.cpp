#include "peer/chat/format_render.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace peer;

// Codes are written in octal, which ends after three digits: "\0034red" is colour 4 on "red",
// where "\x034red" would read as one escape.
namespace {

// The format of the character at `position`.
QTextCharFormat formatAt(QTextDocument& document, int position)
{
    QTextCursor cursor(&document);
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

bool isBold(const QTextCharFormat& format)
{
    return format.fontWeight() == QFont::Bold;
}

std::optional<QColor> foreground(const QTextCharFormat& format)
{
    if (!format.hasProperty(QTextFormat::ForegroundBrush))
        return std::nullopt;
    return format.foreground().color();
}

QTextCharFormat boldFormat()
{
    QTextCharFormat format;
    format.setFontWeight(QFont::Bold);
    return format;
}

QTextCharFormat colourFormat(const QColor& colour)
{
    QTextCharFormat format;
    format.setForeground(colour);
    return format;
}

} // namespace

TEST(RenderFormattedLine, MapsBytePositionsToUtf16Spans)
{
    struct Case
    {
        QByteArray line;
        QString text;
        std::vector<std::pair<int, int>> spans; // start, length
    };
    const std::vector<Case> cases{
        // é and ü take two bytes, € three, 😀 four bytes and two UTF-16 units.
        {"é\002üé€😀\002x\r\n", QString::fromUtf8("éüé€😀x\n"), {{1, 5}, {6, 1}}},
        {"😀😀\037a\r\n", QString::fromUtf8("😀😀a\n"), {{4, 1}}},
        // Not UTF-8: every byte is one Latin-1 character.
        {"\xE9\002\xFCx\r\n", QString::fromLatin1("\xE9\xFCx\n"), {{1, 2}}},
        // Embedded CR LF shows as one break, so what follows keeps its place.
        {"a\r\n\002b\r\n", "a\nb\n", {{2, 1}}},
        {"\002a\rb\r\n", "a\rb\n", {{0, 3}}},
        // A code splitting a UTF-8 sequence: the stripped bytes decode whole.
        {"\xC3\002\xA9z\r\n", QString::fromUtf8("éz\n"), {{1, 1}}},
        // Colours without a colour and empty ranges give no span.
        {"\00399x\r\n", "x\n", {}},
        {"\002\002\r\n", "\n", {}},
        {"\002unfinished", "unfinished", {}},
        {QByteArray(), QString(), {}},
    };
    for (const Case& c : cases) {
        const RenderedLine line = renderFormattedLine(c.line);
        EXPECT_EQ(line.text, c.text) << c.line.toHex().toStdString();
        std::vector<std::pair<int, int>> spans;
        for (const FormatSpan& span : line.spans)
            spans.emplace_back(span.start, span.length);
        EXPECT_EQ(spans, c.spans) << c.line.toHex().toStdString();
    }
}

TEST(FormatForRun, SetsOnlyItsOwnAttribute)
{
    const QTextCharFormat bold = formatForRun({kBoldCode, 0, 0, 1, kNoColour});
    EXPECT_TRUE(isBold(bold));
    EXPECT_FALSE(bold.hasProperty(QTextFormat::ForegroundBrush));
    EXPECT_FALSE(bold.hasProperty(QTextFormat::TextUnderlineStyle));

    const QTextCharFormat underline = formatForRun({kUnderlineCode, 0, 0, 1, kNoColour});
    EXPECT_TRUE(underline.fontUnderline());
    EXPECT_FALSE(underline.hasProperty(QTextFormat::FontWeight));

    EXPECT_EQ(foreground(formatForRun({kColourCode, 0, 0, 1, kNoColour})), QColor(Qt::white));
    EXPECT_EQ(foreground(formatForRun({kColourCode, 16, 0, 1, kNoColour})), QColor(0x47, 0, 0));
    EXPECT_EQ(foreground(formatForRun({kColourCode, 99, 0, 1, kNoColour})), std::nullopt);
    const QTextCharFormat withBackground = formatForRun({kColourCode, 1, 0, 1, 8});
    EXPECT_EQ(withBackground.background().color(), QColor(255, 255, 0));
    EXPECT_FALSE(
        formatForRun({kColourCode, 1, 0, 1, kNoColour}).hasProperty(QTextFormat::BackgroundBrush));
}

TEST(AppendFormattedLine, FormatsReadBackFromTheDocument)
{
    QTextDocument document;
    appendFormattedLine(&document, "<a> \0034red \002bold\037u\r\n");
    appendFormattedLine(&document, "plain é\00312,8blue\r\n");
    ASSERT_EQ(document.toPlainText(), QString::fromUtf8("<a> red boldu\nplain éblue\n"));

    const QTextCharFormat prefix = formatAt(document, 0);
    EXPECT_FALSE(isBold(prefix));
    EXPECT_FALSE(prefix.fontUnderline());
    EXPECT_EQ(foreground(prefix), std::nullopt);

    const QTextCharFormat red = formatAt(document, 4); // r
    EXPECT_EQ(foreground(red), QColor(255, 0, 0));
    EXPECT_FALSE(isBold(red));

    const QTextCharFormat bold = formatAt(document, 8); // b of bold: red and bold
    EXPECT_EQ(foreground(bold), QColor(255, 0, 0));
    EXPECT_TRUE(isBold(bold));
    EXPECT_FALSE(bold.fontUnderline());

    const QTextCharFormat all = formatAt(document, 12); // u: red, bold and underlined
    EXPECT_EQ(foreground(all), QColor(255, 0, 0));
    EXPECT_TRUE(isBold(all));
    EXPECT_TRUE(all.fontUnderline());

    const int second = 14; // the second line's block starts after "<a> red boldu\n"
    EXPECT_EQ(foreground(formatAt(document, second + 6)), std::nullopt); // é
    const QTextCharFormat blue = formatAt(document, second + 7);
    EXPECT_EQ(foreground(blue), QColor(0, 0, 252));
    EXPECT_EQ(blue.background().color(), QColor(255, 255, 0));
    EXPECT_FALSE(isBold(blue));
    EXPECT_EQ(foreground(formatAt(document, second + 10)), QColor(0, 0, 252)); // e
}

// A bare 0x03 used to colour what followed it white (colour 0), invisible on the white view.
TEST(AppendFormattedLine, TextAfterABareColourCodeIsNotWhiteOnWhite)
{
    struct Case
    {
        QByteArray line;
        int from; // the display positions that must keep the view's own colours
        int to;
    };
    const std::vector<Case> cases{
        {"\003hello\r\n", 0, 5},
        {"\003,5x\r\n", 0, 3},
        {"\0034,8red\003 back\r\n", 3, 8},
        {"\0034red\003,5 back\r\n", 3, 10},
    };
    for (const Case& c : cases) {
        QTextDocument document;
        appendFormattedLine(&document, c.line);
        for (int at = c.from; at < c.to; ++at) {
            const QTextCharFormat format = formatAt(document, at);
            EXPECT_EQ(foreground(format), std::nullopt)
                << c.line.toHex().toStdString() << " @" << at;
            EXPECT_FALSE(format.hasProperty(QTextFormat::BackgroundBrush))
                << c.line.toHex().toStdString() << " @" << at;
        }
        if (c.from > 0) {
            EXPECT_EQ(foreground(formatAt(document, 0)), QColor(255, 0, 0));
        }
    }
}

TEST(AppendFormattedLine, NewTextNeverInheritsTheFormatAtTheEndOfADocumentOrView)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    cursor.insertText("old", boldFormat());
    appendFormattedLine(&document, "new\r\n");
    EXPECT_TRUE(isBold(formatAt(document, 2)));
    EXPECT_FALSE(isBold(formatAt(document, 3)));
    EXPECT_EQ(document.toPlainText(), "oldnew\n");

    // It works on a view, and ignores null.
    QTextEdit view;
    appendFormattedLine(&view, "\037hi\r\n");
    EXPECT_EQ(view.toPlainText(), "hi\n");
    EXPECT_TRUE(formatAt(*view.document(), 1).fontUnderline());
    appendFormattedLine(static_cast<QTextEdit*>(nullptr), "x\r\n");
    appendFormattedLine(static_cast<QTextDocument*>(nullptr), "x\r\n");
}

TEST(ApplyFormatRuns, LaterSpansWinOnTheirAttributeOnly)
{
    QTextDocument document;
    document.setPlainText("abcd");
    QTextCursor cursor(&document);
    ApplyFormatRuns(
        cursor, 0,
        {{0, 4, colourFormat(Qt::red)}, {0, 3, boldFormat()}, {2, 2, colourFormat(Qt::blue)}});
    EXPECT_EQ(foreground(formatAt(document, 1)), QColor(Qt::red));
    EXPECT_EQ(foreground(formatAt(document, 2)), QColor(Qt::blue));
    EXPECT_TRUE(isBold(formatAt(document, 2)));
    EXPECT_FALSE(isBold(formatAt(document, 3)));
}

TEST(AppendFormattedLine, TenThousandCodesInOneLine)
{
    QByteArray line;
    for (int i = 0; i < 10000; ++i)
        line += (i % 2 ? "\002" : "\003" + QByteArray::number(i % 100)) + QByteArray("z");
    QTextDocument document;
    appendFormattedLine(&document, line + "\r\n");
    EXPECT_EQ(document.characterCount(), 10000 + 2); // text, the break and the final block end
    EXPECT_TRUE(isBold(formatAt(document, 9999)));
}

// Other clients' styles are drawn, their plain code ends every style, and none shows as a box.
TEST(AppendFormattedLine, DrawsTheStylesOtherClientsWrite)
{
    QTextDocument document;
    appendFormattedLine(&document,
                        "\035i\035\036s\036\021m\021\026r\026\002\0034\035b\017n\004ff00ffh\r\n");
    ASSERT_EQ(document.toPlainText(), "ismrbnh\n");

    EXPECT_TRUE(formatAt(document, 0).fontItalic());
    EXPECT_FALSE(formatAt(document, 1).fontItalic());
    EXPECT_TRUE(formatAt(document, 1).fontStrikeOut());
    EXPECT_FALSE(formatAt(document, 2).fontStrikeOut());
    EXPECT_TRUE(formatAt(document, 2).fontFixedPitch());
    EXPECT_FALSE(formatAt(document, 3).fontFixedPitch());
    const QPalette palette = QGuiApplication::palette();
    const QTextCharFormat reverse = formatAt(document, 3);
    EXPECT_EQ(reverse.foreground().color(), palette.color(QPalette::Base));
    EXPECT_EQ(reverse.background().color(), palette.color(QPalette::Text));
    EXPECT_FALSE(formatAt(document, 4).hasProperty(QTextFormat::BackgroundBrush));

    const QTextCharFormat all = formatAt(document, 4); // b: bold, red, italic
    EXPECT_TRUE(isBold(all));
    EXPECT_EQ(foreground(all), QColor(255, 0, 0));
    EXPECT_TRUE(all.fontItalic());
    for (int at : {5, 6}) { // after the plain code: nothing, and the hex colour is not drawn
        const QTextCharFormat plain = formatAt(document, at);
        EXPECT_FALSE(isBold(plain)) << at;
        EXPECT_FALSE(plain.fontItalic()) << at;
        EXPECT_EQ(foreground(plain), std::nullopt) << at;
    }
}

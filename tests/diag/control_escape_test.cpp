#include "diag/control_escape.h"
#include "diag/debug_log.h"
#include "peer/chat/chat_log.h"
#include "tests/support/hostile_texts.h"

#include <QDateTime>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <rapidcheck/gtest.h>

namespace {

// What a peer can put in a line that a terminal showing the log would act on, and what must
// survive untouched for the log to keep its formatting.
struct Case
{
    QByteArray in;
    QByteArray stored;
};

const Case kCases[] = {
    {"plain text", "plain text"},
    {"\x1b]0;owned\x07title", "\\x1b]0;owned\\x07title"},
    {"\x1b[2J\x1b[Hclean", "\\x1b[2J\\x1b[Hclean"},
    // A lone CR returns the cursor and overwrites what went before; CR LF would start a line
    // that the writer of the text made up. The caller ends the line.
    {"I owe you\rI owe you nothing", "I owe you\\x0dI owe you nothing"},
    {"line\r\n", "line\\x0d\\x0a"},
    {"a\r", "a\\x0d"},
    {"\x02"
     "bold\x02 \x03"
     "4,1red\x03 \x1funder\x1f \x0f\x16\x1d",
     "\x02"
     "bold\x02 \x03"
     "4,1red\x03 \x1funder\x1f \x0f\x16\x1d"},
    {"tab\there", "tab\there"},
    {QByteArray("nul\0bel\x07"
                "del\x7f",
                12),
     "nul\\x00bel\\x07del\\x7f"},
    // C1 controls, in UTF-8 and as raw bytes; Latin-1 letters stay.
    {"\xc2\x9b"
     "2J",
     "\\x9b2J"},
    {"\x9b"
     "2J caf\xe9",
     "\\x9b2J caf\xe9"},
    // Bidi overrides and isolates reorder what is read; other marks and letters stay.
    {"evil\xe2\x80\xae"
     "gpj.exe",
     "evil\\u202egpj.exe"},
    {"\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad", "\\u202a\\u202b\\u202c\\u202d"},
    {"\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},
    {"\xe2\x80\x8f rtl mark, caf\xc3\xa9, \xe2\x82\xac",
     "\xe2\x80\x8f rtl mark, caf\xc3\xa9, \xe2\x82\xac"},
    // A broken sequence keeps its bytes, but a stray one in the C1 range is a control to an
    // eight-bit terminal.
    {"cut \xe2\x80", "cut \xe2\\x80"},
    {"cut \xe2\xa0", "cut \xe2\xa0"},
};

TEST(ControlEscape, StoresOnlyHarmlessBytesAndKeepsFormatting)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.in.toStdString());
        EXPECT_EQ(diag::escapeControlBytes(c.in), c.stored);
        // The same text held as characters is stored alike.
        if (QByteArrayView(c.in).isValidUtf8()) {
            EXPECT_EQ(diag::escapeControls(QString::fromUtf8(c.in)), QString::fromUtf8(c.stored));
        }
    }
}

TEST(ControlEscape, ChatLogLinesAndDebugPanesAreStoredEscaped)
{
    const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    EXPECT_EQ(peer::ChatLog::stampedLine(when, "<bob> \x1b[2Jhi\x02!\x02\r\n"),
              "[2/1/2026 3:4:5] <bob> \\x1b[2Jhi\x02!\x02\r\n");
    EXPECT_EQ(peer::ChatLog::startedText("b\x1b"
                                         "ob"),
              "\r\n*Started chat with b\\x1bob*\r\n");

    diag::DebugPanes::instance().clear();
    diag::DebugLog(QStringLiteral("from bob: \x1b[31m\u202Etxt.exe"), 2);
    EXPECT_EQ(diag::DebugPanes::instance().text(diag::Pane::Info),
              QStringLiteral("from bob: \\x1b[31m\\u202etxt.exe\r\n"));
}

// Whatever a peer puts inside a line, it stays one line in the log and the debug panes, with the
// break shown the way the other controls are.
TEST(ControlEscape, ALineBreakFromOthersIsStoredAsItsEscape)
{
    const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC);
    for (const test::LineBreak& brk : test::kLineBreaks) {
        SCOPED_TRACE(brk.name);
        const QByteArray forged = test::forgedLine(brk);
        EXPECT_EQ(diag::escapeControlBytes(forged), test::shownLine(brk));
        EXPECT_EQ(diag::escapeControls(QString::fromUtf8(forged)), test::shownText(brk));
        EXPECT_EQ(diag::escapeLineBreakBytes(forged), test::shownLine(brk));
        EXPECT_EQ(diag::escapeLineBreaks(QString::fromUtf8(forged)), test::shownText(brk));

        EXPECT_EQ(peer::ChatLog::stampedLine(when, "<mallory> " + forged + "\r\n"),
                  "[2/1/2026 3:4:5] <mallory> " + test::shownLine(brk) + "\r\n");
        EXPECT_EQ(peer::ChatLog::startedText("mal" + brk.bytes + "lory"),
                  "\r\n*Started chat with mal" + brk.escaped + "lory*\r\n");

        diag::DebugPanes::instance().clear();
        diag::DebugLog("from mallory: " + QString::fromUtf8(forged), 2);
        EXPECT_EQ(diag::DebugPanes::instance().text(diag::Pane::Info),
                  "from mallory: " + test::shownText(brk) + "\r\n");
    }
    // The other marks a view shows as they are stay so where only the breaks are escaped.
    EXPECT_EQ(diag::escapeLineBreakBytes("\x1b\x02\t\xe2\x80\xae"), "\x1b\x02\t\xe2\x80\xae");
}

// Whatever a nick or an away text holds, a tip shows exactly it: never a tag, an image or a link.
RC_GTEST_PROP(PlainTip, ShowsTheTextExactlyWhereMarkupWouldBeRendered, ())
{
    const auto pieces = *rc::gen::container<std::vector<std::string>>(rc::gen::element<std::string>(
        "a", " ", "<b>", "</b>", "<img src=x>", "&amp;", "&", "<", ">", "<qt>", "\xc3\xa9"));
    QString text;
    for (const std::string& piece : pieces)
        text += QString::fromStdString(piece);
    const QString tip = diag::plainTip(text);
    QTextDocument shown;
    if (Qt::mightBeRichText(tip))
        shown.setHtml(tip);
    else
        shown.setPlainText(tip);
    // Markup rendering folds runs of blanks; every other character stays as it was.
    RC_ASSERT(shown.toPlainText().remove(QLatin1Char(' '))
              == QString(text).remove(QLatin1Char(' ')));
}

} // namespace

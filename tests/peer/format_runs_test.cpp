#include "peer/chat/format_runs.h"

#include <gtest/gtest.h>

using namespace peer;

namespace peer {

void PrintTo(const FormatRun& run, std::ostream* os)
{
    *os << "{code " << int(run.code) << " colour " << run.colour << " [" << run.start << ","
        << run.end << ") bg " << run.background << "}";
}

} // namespace peer

// Codes are written in octal, which ends after three digits: "\0034red" is colour 4 on "red",
// where "\x034red" would read as one escape.
namespace {

FormatRun bold(qsizetype start, qsizetype end)
{
    return {kBoldCode, 0, start, end, kNoColour};
}

FormatRun underline(qsizetype start, qsizetype end)
{
    return {kUnderlineCode, 0, start, end, kNoColour};
}

FormatRun colour(int number, qsizetype start, qsizetype end, int background = kNoColour)
{
    return {kColourCode, number, start, end, background};
}

struct StripCase
{
    QByteArray text;
    QByteArray stripped;
    FormatRunList runs;
};

// The builder and the stripper must agree on every byte a code takes, so each row holds both.
void expectStrippedAndRuns(const std::vector<StripCase>& cases)
{
    for (const StripCase& c : cases) {
        SCOPED_TRACE(c.text.toHex().toStdString());
        EXPECT_EQ(StripFormatCodes(c.text), c.stripped);
        EXPECT_EQ(BuildFormatRuns(c.text), c.runs);
    }
}

} // namespace

TEST(FormatCodes, OnlyBoldColourAndUnderlineAreCodesAndCommandsAreClassified)
{
    for (int byte = 0; byte < 256; ++byte) {
        const bool expected = byte == 0x02 || byte == 0x03 || byte == 0x1F;
        EXPECT_EQ(IsFormatCode(char(byte)), expected) << byte;
    }
    // The menu commands: none, a style, or a colour.
    const std::vector<std::pair<int, FormatCommandKind>> cases{
        {0, FormatCommandKind::None},       {-40038, FormatCommandKind::None},
        {40034, FormatCommandKind::None},   {40035, FormatCommandKind::Style},
        {40036, FormatCommandKind::Style},  {40037, FormatCommandKind::Style},
        {40038, FormatCommandKind::Colour}, {40045, FormatCommandKind::Colour},
        {40053, FormatCommandKind::Colour}, {40054, FormatCommandKind::None},
    };
    for (const auto& [id, kind] : cases)
        EXPECT_EQ(ClassifyFormatCommand(id), kind) << id;
}

TEST(FormatCodes, ColourMenuListsDarkGreyBeforeGreyAndNumbersNeverReachPastATable)
{
    EXPECT_EQ(kColourMenuItems[14].id, 40053);
    EXPECT_STREQ(kColourMenuItems[14].text, "Dark Grey");
    EXPECT_EQ(kColourMenuItems[15].id, 40052);
    EXPECT_STREQ(kColourMenuItems[15].text, "Grey");
    for (const FormatMenuItem& item : kColourMenuItems)
        EXPECT_EQ(ClassifyFormatCommand(item.id), FormatCommandKind::Colour) << item.text;
    for (const FormatMenuItem& item : kStyleMenuItems)
        EXPECT_FALSE(formatCodeForCommand(item.id).isEmpty()) << item.text;
    // Colour numbers never reach past a table.
    EXPECT_EQ(formatColour(4), (Rgb{255, 0, 0}));
    EXPECT_EQ(formatColour(15), (Rgb{210, 210, 210}));
    EXPECT_EQ(formatColour(16), (Rgb{0x47, 0, 0}));
    EXPECT_EQ(formatColour(52), (Rgb{0xff, 0, 0}));
    EXPECT_EQ(formatColour(98), (Rgb{0xff, 0xff, 0xff}));
    for (int number : {99, 100, -1, 65535})
        EXPECT_EQ(formatColour(number), std::nullopt) << number;
    for (int number = 16; number < 99; ++number)
        EXPECT_TRUE(formatColour(number).has_value()) << number;
}

TEST(InsertFormatCode, PutsTheCodeBeforeTheSelectionAndKeepsTheSelectionOnItsText)
{
    struct Case
    {
        QString text;
        int start;
        int end;
        int id;
        FormatInsertion expected;
    };
    const std::vector<Case> cases{
        {"hello", 0, 0, 40042, {"\0034hello", 2, 2}},  // Red
        {"hello", 0, 0, 40053, {"\00315hello", 3, 3}}, // Dark Grey
        {"say hello", 4, 9, 40035, {"say \002hello", 5, 10}},
        {"say hello", 9, 4, 40037, {"say \037hello", 5, 10}}, // reversed selection
        {"hi", -3, 99, 40035, {"\002hi", 1, 3}},              // clamped
        {"", 0, 0, 40038, {"\0030", 2, 2}},
        {QString::fromUtf8("é€"), 1, 2, 40051, {QString::fromUtf8("é\00313€"), 4, 5}},
        {QString::fromUtf8("😀!"), 1, 1, 40035, {QString::fromUtf8("\002😀!"), 1, 1}},
        {"hello", 2, 2, 40036, {"hello", 2, 2}}, // inserts nothing
        {"hello", 2, 2, 1, {"hello", 2, 2}},
        // A digit after a one-digit colour would be read as the colour's second digit.
        {"12 apples", 0, 0, 40042, {"\0030412 apples", 3, 3}},
        {"12 apples", 0, 0, 40050, {"\0031212 apples", 3, 3}},
        {"12 apples", 0, 0, 40035, {"\00212 apples", 1, 1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InsertFormatCode(c.text, c.start, c.end, c.id), c.expected)
            << c.text.toStdString() << " " << c.id;
}

TEST(BuildFormatRuns, EdgeCases)
{
    expectStrippedAndRuns({
        {"", "", {}},
        {"<bob> \0034red\r\n", "<bob> red\r\n", {colour(4, 6, 9)}},
        {"\002a\002b\r\n", "ab\r\n", {bold(0, 1), bold(1, 2)}},
        {"\00304x\r\n", "x\r\n", {colour(4, 0, 1)}},
        {"\0034x\r\n", "x\r\n", {colour(4, 0, 1)}},
        {"\002abc", "abc", {}},
        {"\002a\r\nb\002", "a\r\nb", {bold(0, 1)}},
        {"\002a\nb\rc\r\n", "a\nb\rc\r\n", {bold(0, 5)}}, // lone LF or CR ends nothing
        {"\003", "", {}},
        {"abc\003", "abc", {}},
        {"\0031", "", {}},
        {"\002\002\r\n", "\r\n", {bold(0, 0), bold(0, 0)}},
        // Codes of another kind inside a range do not push its end past the text.
        {"\002a\037b\002c\r\n", "abc\r\n", {bold(0, 2), underline(1, 3), bold(2, 3)}},
        {"\0034a\002b\0039c\r\n", "abc\r\n", {colour(4, 0, 2), bold(1, 3), colour(9, 2, 3)}},
        {QByteArray("a\0\002b\0\r\n", 7), QByteArray("a\0b\0\r\n", 6), {bold(2, 4)}},
    });
}

TEST(BuildFormatRuns, DigitsAndCommasTakenByCodesAgreeWithTheStripper)
{
    expectStrippedAndRuns({
        // A colour takes at most two digits; a third one is text.
        {"\003123x\r\n", "3x\r\n", {colour(12, 0, 2)}},
        {"\00399x\r\n", "x\r\n", {colour(99, 0, 1)}},
        {"\00300012\r\n", "012\r\n", {colour(0, 0, 3)}},
        // Bold and underline take no digits.
        {"\00212\r\n", "12\r\n", {bold(0, 2)}},
        {"\0377 up\r\n", "7 up\r\n", {underline(0, 4)}},
        {"\002\003555\r\n", "5\r\n", {bold(0, 1), colour(55, 0, 1)}},
        // The background part: a comma and up to two digits after a first number.
        {"\0034,5x\r\n", "x\r\n", {colour(4, 0, 1, 5)}},
        {"\00399,99x\r\n", "x\r\n", {colour(99, 0, 1, 99)}},
        {"\0034,123\r\n", "3\r\n", {colour(4, 0, 1, 12)}},
        {"\0034,x\r\n", ",x\r\n", {colour(4, 0, 2)}}, // a comma without a digit is text
        {"\0034,\r\n", ",\r\n", {colour(4, 0, 1)}},
        {"\0034,", ",", {}},
    });
}

// A bare 0x03 used to open a run of colour 0, so the text after it went white on the white
// view. Other clients send it to end colouring, so it opens a run of no colour, and a comma
// after it stays text for the builder and the stripper alike.
TEST(BuildFormatRuns, BareColourCodeEndsColouringInsteadOfTurningTheTextWhite)
{
    expectStrippedAndRuns({
        {"\003hello\r\n", "hello\r\n", {colour(kNoColour, 0, 5)}},
        {"\003,5x\r\n", ",5x\r\n", {colour(kNoColour, 0, 3)}},
        {"\003,\r\n", ",\r\n", {colour(kNoColour, 0, 1)}},
        {"\0034red\003 plain\r\n", "red plain\r\n", {colour(4, 0, 3), colour(kNoColour, 3, 9)}},
        {"\0034,8red\003,5x\r\n", "red,5x\r\n", {colour(4, 0, 3, 8), colour(kNoColour, 3, 6)}},
        {"\003\0034x\r\n", "x\r\n", {colour(kNoColour, 0, 0), colour(4, 0, 1)}},
        // Bold and underline go on through it.
        {"\002\0034b\003c\002\r\n",
         "bc\r\n",
         {bold(0, 2), colour(4, 0, 1), colour(kNoColour, 1, 2), bold(2, 2)}},
        // Unfinished, it still ends the colour before it.
        {"\0034red\003", "red", {colour(4, 0, 3)}},
    });
}

TEST(BuildFormatRuns, EveryColourNumberUpTo99)
{
    for (int number = 0; number <= 99; ++number) {
        const QByteArray text = "\003" + QByteArray::number(number) + "x\r\n";
        EXPECT_EQ(BuildFormatRuns(text), FormatRunList{colour(number, 0, 1)}) << number;
        EXPECT_EQ(StripFormatCodes(text), "x\r\n") << number;
    }
}

TEST(FormatCodeLength, CountsTheRunOfCodesAtAPosition)
{
    struct Case
    {
        QByteArray text;
        qsizetype position;
        qsizetype length;
    };
    const std::vector<Case> cases{
        {"", 0, 0},           {"a\002", 0, 0},          {"a\002", 1, 1},  {"a\002", 2, 0},
        {"a\002", -1, 0},     {"a\002", 99, 0},         {"\00212", 0, 1}, {"\003123", 0, 3},
        {"\00312,34x", 0, 6}, {"\002\0034\0375", 0, 4}, {"\003", 0, 1},   {"\003,5", 0, 1},
        {"\003\003,5", 0, 2}, {"\0034\003,5", 0, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatCodeLength(c.text, c.position), c.length)
            << c.text.toHex().toStdString() << " @" << c.position;
}

// Every menu item, inserted at every position of a text holding digits, commas without
// digits and multi-byte characters, comes back out unchanged: the stripper gives the text
// back and the one run starts where the code went and lasts to the line's end.
TEST(FormatRoundTrip, InserterOutputStripsBackAndOpensOneRun)
{
    const QString base = QString::fromUtf8("a1 22, é€😀 9x");
    std::vector<int> ids{kBoldCommand, kUnderlineCommand};
    for (int id = kFirstColourCommand; id <= kLastColourCommand; ++id)
        ids.push_back(id);
    for (int id : ids) {
        for (int position = 0; position <= base.size(); ++position) {
            if (position < base.size() && base.at(position).isLowSurrogate())
                continue; // the input line puts no caret inside a character
            const FormatInsertion inserted = InsertFormatCode(base, position, position, id);
            const QByteArray line = inserted.text.toUtf8() + "\r\n";
            const QByteArray plain = base.toUtf8() + "\r\n";
            const qsizetype at = base.left(position).toUtf8().size();
            const char code = formatCodeForCommand(id).at(0);
            const int number = code == kColourCode ? id - kFirstColourCommand : 0;
            EXPECT_EQ(StripFormatCodes(line), plain) << id << " @" << position;
            EXPECT_EQ(BuildFormatRuns(line),
                      (FormatRunList{{code, number, at, plain.size() - 2, kNoColour}}))
                << id << " @" << position;
        }
    }
}

// A comma and digit right after a colour code read as its background, as every client that
// knows backgrounds reads them; this is the one text the menu cannot colour unchanged.
TEST(FormatRoundTrip, ColourBeforeCommaAndDigitReadsAsBackground)
{
    const FormatInsertion inserted = InsertFormatCode(",5 apples", 0, 0, 40042);
    EXPECT_EQ(StripFormatCodes(inserted.text.toUtf8()), " apples");
}

TEST(BuildFormatRuns, OneLineAtATimeGivesTheSameRunsAsTheWholeTranscript)
{
    const std::vector<QByteArray> lines{
        "<me> \002bold \0034red\r\n",      "<you> plain\r\n",
        "<you> \037open and \037shut\r\n", "\r\n",
        "<me> \00312,8é\002x\003\r\n",     "<me> \002unfinished",
    };
    QByteArray transcript;
    FormatRunList perLine;
    qsizetype offset = 0;
    for (const QByteArray& line : lines) {
        transcript += line;
        for (FormatRun run : BuildFormatRuns(line)) {
            run.start += offset;
            run.end += offset;
            perLine.push_back(run);
        }
        offset += StripFormatCodes(line).size();
    }
    EXPECT_EQ(BuildFormatRuns(transcript), perLine);
    EXPECT_EQ(perLine.size(), 7u);
}

TEST(BuildFormatRuns, TenThousandCodesInOneLine)
{
    const QByteArray line = QByteArray(10000, kBoldCode) + "x\r\n";
    const FormatRunList runs = BuildFormatRuns(line);
    ASSERT_EQ(runs.size(), 10000u);
    EXPECT_EQ(runs.front(), bold(0, 0));
    EXPECT_EQ(runs.back(), bold(0, 1));
    EXPECT_EQ(StripFormatCodes(line), "x\r\n");

    QByteArray colours;
    for (int i = 0; i < 10000; ++i)
        colours += "\003" + QByteArray::number(i % 100) + "y";
    EXPECT_EQ(BuildFormatRuns(colours + "\r\n").size(), 10000u);
    EXPECT_EQ(StripFormatCodes(colours), QByteArray(10000, 'y'));
}

// What other clients write: plain (^O) ends every range; italic (^]), reverse (^V),
// strikethrough (^^) and monospace (^Q) switch on and off; a hex colour (^D) goes with its
// digits. None of them is left in the text to show as a box.
TEST(BuildFormatRuns, OtherClientsCodesAreReadNotShown)
{
    const auto style = [](char code, qsizetype start, qsizetype end) {
        return FormatRun{code, 0, start, end, kNoColour};
    };
    expectStrippedAndRuns({
        {"a\017b\r\n", "ab\r\n", {}},
        {"\002a\017b\002c\r\n", "abc\r\n", {bold(0, 1), bold(2, 3)}},
        {"\0034red\017 plain\r\n", "red plain\r\n", {colour(4, 0, 3)}},
        {"\037\002\0033u\017x\r\n", "ux\r\n", {underline(0, 1), bold(0, 1), colour(3, 0, 1)}},
        {"\035it\035 no\r\n", "it no\r\n", {style('\035', 0, 2)}},
        {"\035it\r\nnext", "it\r\nnext", {style('\035', 0, 2)}},
        {"\035it", "it", {style('\035', 0, 2)}},
        {"\026rev\026", "rev", {style('\026', 0, 3)}},
        {"\036s\021m\017x\r\n", "smx\r\n", {style('\036', 0, 2), style('\021', 1, 2)}},
        {"\002b\035i\002\r\n", "bi\r\n", {bold(0, 2), style('\035', 1, 2), bold(2, 2)}},
        {"\004ff0000red\r\n", "red\r\n", {}},
        {"\004FF00aa,00ff00x\r\n", "x\r\n", {}},
        {"\004abc xyz", " xyz", {}},
        {"\004,12", ",12", {}},
        {"\0041234567", "7", {}},
        {"\004ff0000,x", ",x", {}},
        {"\004\0034red\r\n", "red\r\n", {colour(4, 0, 3)}},
    });
}

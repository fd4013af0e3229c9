#include "irc/line_tools.h"

#include <gtest/gtest.h>

#include <optional>

using irc::CutAtLastCrLf;
using irc::GetCommandWord;
using irc::SplitLines;

TEST(SplitLines, CutsEveryPairAndLeavesTheTail)
{
    struct Case
    {
        QByteArray data;
        QList<QByteArray> lines;
        qsizetype consumed;
    };
    const Case cases[] = {
        {"PING :a\r\n:irc 001 bob :hi\r\n", {"PING :a", ":irc 001 bob :hi"}, 27},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}, 8},
        {"a\r\nfragm", {"a"}, 3},
        {"no pair", {}, 0},
        {"\r\n", {""}, 2},
        {"a\rb\nc\r\n", {"a\rb\nc"}, 7},
        {"", {}, 0},
        {QByteArray("a\0b\r\n", 5), {QByteArray("a\0b", 3)}, 5}, // NUL stays inside the line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.toPercentEncoding().toStdString());
        QList<QByteArray> lines;
        const qsizetype consumed =
            SplitLines(c.data, [&lines](QByteArrayView line) { lines.append(line.toByteArray()); });
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST(CutAtLastCrLf, CutsAtTheLastPairOnly)
{
    struct Case
    {
        QByteArray text;
        qsizetype position;
        QByteArray after;
    };
    const Case cases[] = {
        {"a\r\nb\r\n", 4, "a\r\nb"}, {"\r\nabc", 0, "\r\nabc"}, {"", 0, ""},
        {"abc", 0, "abc"},           {"x\r\n", 1, "x"},         {"\r\n\r\n", 2, "\r\n"},
    };
    for (const Case& c : cases) {
        QByteArray text = c.text;
        EXPECT_EQ(CutAtLastCrLf(text), c.position) << c.text.toStdString();
        EXPECT_EQ(text, c.after);
    }
}

TEST(GetCommandWord, TakesTheWordAfterAnyPrefix)
{
    struct Case
    {
        const char* line;
        std::optional<QByteArray> word;
    };
    const Case cases[] = {
        {":irc.x 303 bob :alice", QByteArray("303")},
        {"PING :irc.x", QByteArray("PING")},
        {":irc.x NOTICE", std::nullopt},
        {":irc.x NOTICE ", QByteArray("NOTICE")},
        {"PING", std::nullopt},
        {"", std::nullopt},
        {":", std::nullopt},
        {": a b", QByteArray("a")},
        {" PING", QByteArray("")},
        {":p  x", QByteArray("")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(GetCommandWord(c.line), c.word) << c.line;
}

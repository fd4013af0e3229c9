#include "diag/received_dump.h"
#include "diag/server_text.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace {

using diag::ReceivedDump;

class ReceivedDumpTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("out.txt")); }

    QTemporaryDir m_dir;
};

struct WordCase
{
    const char* name;
    QByteArray line;
    const char* trailer; // what follows " EOL\n" for the line
};

class ReceivedDumpWord : public ReceivedDumpTest, public ::testing::WithParamInterface<WordCase>
{};

TEST_P(ReceivedDumpWord, NamesTheCommandWordWhenTheLineHasOne)
{
    const WordCase& c = GetParam();
    ReceivedDump dump(path(), true);
    dump.DumpReceivedLines({c.line});
    EXPECT_EQ(test::readFile(path()),
              "Messages Received:1\nMessage 0: " + c.line + "\r\n EOL\n" + QByteArray(c.trailer));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReceivedDumpWord,
    ::testing::Values(WordCase{"Ping", "PING :irc.x", "Command: PING\n"},
                      WordCase{"Prefixed", ":nick!u@h PRIVMSG bob :hi there", "Command: PRIVMSG\n"},
                      WordCase{"NoParameters", "PING", "\n"},
                      WordCase{"PrefixedNoParameters", ":irc.x NOTICE", "\n"},
                      WordCase{"PrefixOnly", ":irc.x", "\n"}, WordCase{"Empty", "", "\n"},
                      WordCase{"FormatDirectivesAsCommand", "%s%n%d :x", "Command: %s%n%d\n"},
                      WordCase{"FormatDirectivesAndRawBytes",
                               QByteArray(":a!b@c PRIVMSG bob :%s%n\xe9\xff") + '\0' + "tail",
                               "Command: PRIVMSG\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct KeepCase
{
    const char* name;
    bool enabled;
    std::optional<QByteArray> before; // the file as an earlier run left it, if there is one
    QList<QList<QByteArray>> batches;
    QByteArray after; // "<missing>" when no file may exist
};

void PrintTo(const KeepCase& c, std::ostream* os)
{
    *os << c.name;
}

class ReceivedDumpKeeps : public ReceivedDumpTest, public ::testing::WithParamInterface<KeepCase>
{};

// A run without "DEBUG" used to open the file with truncation and so emptied the dump of the
// run before it.
TEST_P(ReceivedDumpKeeps, StartingWithoutDebugKeepsAnEarlierRunsDump)
{
    const KeepCase& c = GetParam();
    if (c.before) {
        ASSERT_TRUE(test::writeTo(path(), *c.before));
    }
    ReceivedDump dump(path(), c.enabled);
    for (const QList<QByteArray>& batch : c.batches)
        dump.DumpReceivedLines(QList<QByteArrayView>(batch.begin(), batch.end()));
    EXPECT_EQ(test::readFile(path()), c.after);
}

const QByteArray kEarlierDump("Messages Received:1\nMessage 0: PING :irc.x\r\n EOL\n"
                              "Command: PING\n");

INSTANTIATE_TEST_SUITE_P(
    Runs, ReceivedDumpKeeps,
    ::testing::Values(
        KeepCase{
            "DisabledKeepsAnEarlierDump", false, kEarlierDump, {{"PING :irc.y"}}, kEarlierDump},
        KeepCase{"DisabledKeepsItOverManyBatches",
                 false,
                 QByteArray("marker"),
                 {{"A b"}, {}, {"C d", "E f"}},
                 "marker"},
        KeepCase{"DisabledCreatesAMissingFileEmpty",
                 false,
                 std::nullopt,
                 {{"PING :irc.x"}},
                 QByteArray()},
        KeepCase{"DisabledWithoutABatchCreatesNothing", false, std::nullopt, {}, "<missing>"},
        KeepCase{"EnabledAppendsToAnEarlierDump",
                 true,
                 QByteArray("earlier run\n"),
                 {{"A b"}, {}},
                 "earlier run\n"
                 "Messages Received:1\nMessage 0: A b\r\n EOL\nCommand: A\n"
                 "Messages Received:0\n"},
        KeepCase{"EnabledCreatesAMissingFileAndNumbersTheBatch",
                 true,
                 std::nullopt,
                 {{"PING :irc.x", ":irc.x 001 bob :Welcome"}},
                 "Messages Received:2\n"
                 "Message 0: PING :irc.x\r\n EOL\nCommand: PING\n"
                 "Message 1: :irc.x 001 bob :Welcome\r\n EOL\nCommand: 001\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReceivedDumpTest, DisabledMakesTheFileAgainWhenItIsRemovedBetweenBatches)
{
    ReceivedDump dump(path(), false);
    dump.DumpReceivedLines({"PING :irc.x"});
    ASSERT_TRUE(QFile::remove(path()));
    dump.DumpReceivedLines({"PING :irc.x"});
    EXPECT_EQ(test::readFile(path()), QByteArray());
}

TEST_F(ReceivedDumpTest, AnUnopenableFileIsSkippedQuietly)
{
    const QString folder = m_dir.filePath(QStringLiteral("a-folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const bool enabled : {true, false}) {
        ReceivedDump dump(folder, enabled);
        dump.DumpReceivedLines({"PING :irc.x"});
        dump.DumpReceivedLines({"PING :irc.x"});
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

struct DecodeCase
{
    const char* name;
    QByteArray bytes;
    QString expected;
};

class DecodeServerText : public ::testing::TestWithParam<DecodeCase>
{};

TEST_P(DecodeServerText, ShowsUtf8AsUtf8AndAnythingElseAsLatin1)
{
    EXPECT_EQ(diag::decodeServerText(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DecodeServerText,
    ::testing::Values(
        DecodeCase{"Empty", QByteArray(), QString()},
        DecodeCase{"Ascii", "PRIVMSG #a :hi", QStringLiteral("PRIVMSG #a :hi")},
        DecodeCase{"Utf8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
                   QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80")},
        DecodeCase{"Latin1", "caf\xe9", QString::fromLatin1("caf\xe9")},
        DecodeCase{"SequenceCutAtTheEnd", "ab\xe2\x82", QString::fromLatin1("ab\xe2\x82")},
        DecodeCase{"LeadByteAlone", "a\xc3 b", QString::fromLatin1("a\xc3 b")},
        DecodeCase{"StrayContinuation", "a\x80z", QString::fromLatin1("a\x80z")},
        DecodeCase{"Overlong", "\xc0\xaf", QString::fromLatin1("\xc0\xaf")},
        DecodeCase{"Surrogate", "\xed\xa0\x80", QString::fromLatin1("\xed\xa0\x80")},
        DecodeCase{"ValidThenInvalid", "\xc3\xa9\xff", QString::fromLatin1("\xc3\xa9\xff")},
        DecodeCase{"LeadingBomKept", "\xef\xbb\xbfhi", QString(QChar(0xfeff)) + "hi"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

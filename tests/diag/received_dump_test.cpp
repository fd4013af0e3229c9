#include "diag/received_dump.h"
#include "diag/server_text.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

namespace {

using diag::ReceivedDump;

class ReceivedDumpTest : public ::testing::Test
{
protected:
    QString path() const { return m_dir.filePath(QStringLiteral("out.txt")); }

    QTemporaryDir m_dir;
};

TEST_F(ReceivedDumpTest, NamesTheCommandWordWhenTheLineHasOne)
{
    const std::pair<QByteArray, const char*> cases[] = {
        {"PING :irc.x", "Command: PING\n"},
        {":nick!u@h PRIVMSG bob :hi there", "Command: PRIVMSG\n"},
        {"PING", "\n"},
        {":irc.x NOTICE", "\n"},
        {":irc.x", "\n"},
        {"", "\n"},
        {"%s%n%d :x", "Command: %s%n%d\n"},
        {QByteArray(":a!b@c PRIVMSG bob :%s%n\xe9\xff") + '\0' + "tail", "Command: PRIVMSG\n"},
    };
    for (const auto& [line, trailer] : cases) {
        SCOPED_TRACE(line.toStdString());
        QFile::remove(path());
        ReceivedDump(path(), true).DumpReceivedLines({line});
        EXPECT_EQ(test::readFile(path()),
                  "Messages Received:1\nMessage 0: " + line + "\r\n EOL\n" + QByteArray(trailer));
    }
}

// A run without "DEBUG" used to open the file with truncation and so emptied the dump of the
// run before it.
TEST_F(ReceivedDumpTest, StartingWithoutDebugKeepsAnEarlierRunsDump)
{
    const QByteArray earlier("Messages Received:1\nMessage 0: PING :irc.x\r\n EOL\n"
                             "Command: PING\n");
    const struct
    {
        const char* name;
        bool enabled;
        std::optional<QByteArray> before; // the file as an earlier run left it, if there is one
        QList<QList<QByteArray>> batches;
        QByteArray after; // "<missing>" when no file may exist
    } cases[] = {
        {"disabled keeps an earlier dump", false, earlier, {{"PING :irc.y"}}, earlier},
        {"disabled keeps it over many batches",
         false,
         QByteArray("marker"),
         {{"A b"}, {}, {"C d", "E f"}},
         "marker"},
        {"disabled creates a missing file empty",
         false,
         std::nullopt,
         {{"PING :irc.x"}},
         QByteArray()},
        {"disabled without a batch creates nothing", false, std::nullopt, {}, "<missing>"},
        {"enabled appends to an earlier dump",
         true,
         QByteArray("earlier run\n"),
         {{"A b"}, {}},
         "earlier run\nMessages Received:1\nMessage 0: A b\r\n EOL\nCommand: A\n"
         "Messages Received:0\n"},
        {"enabled creates a missing file and numbers the batch",
         true,
         std::nullopt,
         {{"PING :irc.x", ":irc.x 001 bob :Welcome"}},
         "Messages Received:2\nMessage 0: PING :irc.x\r\n EOL\nCommand: PING\n"
         "Message 1: :irc.x 001 bob :Welcome\r\n EOL\nCommand: 001\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        if (c.before) {
            ASSERT_TRUE(test::writeTo(path(), *c.before));
        }
        ReceivedDump dump(path(), c.enabled);
        for (const QList<QByteArray>& batch : c.batches)
            dump.DumpReceivedLines(QList<QByteArrayView>(batch.begin(), batch.end()));
        EXPECT_EQ(test::readFile(path()), c.after);
    }
}

TEST_F(ReceivedDumpTest, DisabledMakesARemovedFileAgainAndAnUnopenableOneIsSkippedQuietly)
{
    ReceivedDump dump(path(), false);
    dump.DumpReceivedLines({"PING :irc.x"});
    ASSERT_TRUE(QFile::remove(path()));
    dump.DumpReceivedLines({"PING :irc.x"});
    EXPECT_EQ(test::readFile(path()), QByteArray());

    // An unopenable file is skipped quietly.
    const QString folder = m_dir.filePath(QStringLiteral("a-folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const bool enabled : {true, false}) {
        ReceivedDump dump(folder, enabled);
        dump.DumpReceivedLines({"PING :irc.x"});
        dump.DumpReceivedLines({"PING :irc.x"});
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST(DecodeServerText, ShowsUtf8AsUtf8AndAnythingElseAsLatin1)
{
    const QByteArray utf8 = "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";
    EXPECT_EQ(diag::decodeServerText(QByteArray()), QString());
    EXPECT_EQ(diag::decodeServerText("PRIVMSG #a :hi"), QStringLiteral("PRIVMSG #a :hi"));
    EXPECT_EQ(diag::decodeServerText(utf8), QString::fromUtf8(utf8));
    EXPECT_EQ(diag::decodeServerText("\xef\xbb\xbfhi"), QString(QChar(0xfeff)) + "hi");
    // Latin-1, a sequence cut at the end, a lead byte alone, a stray continuation, an overlong
    // form, a surrogate, valid then invalid.
    for (const QByteArray& latin1 :
         {QByteArray("caf\xe9"), QByteArray("ab\xe2\x82"), QByteArray("a\xc3 b"),
          QByteArray("a\x80z"), QByteArray("\xc0\xaf"), QByteArray("\xed\xa0\x80"),
          QByteArray("\xc3\xa9\xff")})
        EXPECT_EQ(diag::decodeServerText(latin1), QString::fromLatin1(latin1))
            << latin1.toHex().constData();
}

} // namespace

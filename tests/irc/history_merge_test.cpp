#include "irc/commands.h"
#include "irc/history_batches.h"
#include "irc/history_merge.h"
#include "irc/message.h"

#include <gtest/gtest.h>

namespace {

using irc::HistoryLine;

QDateTime at(int second)
{
    return QDateTime(QDate(2024, 5, 1), QTime(12, 0, 0), Qt::UTC).addSecs(second);
}

HistoryLine line(const char* msgId, int second, const char* text)
{
    return HistoryLine{msgId, at(second), "alice", text};
}

QList<QByteArray> texts(const QList<HistoryLine>& lines)
{
    QList<QByteArray> out;
    for (const HistoryLine& l : lines)
        out.append(l.text);
    return out;
}

struct MergeCase
{
    const char* name;
    QList<HistoryLine> batch;
    irc::LoggedHistory logged;
    QList<QByteArray> expected;
};

TEST(MergeHistory, KeepsOnlyNewLinesInTimeOrder)
{
    const MergeCase cases[] = {
        {"nothing logged", {line("a", 1, "one"), line("b", 2, "two")}, {}, {"one", "two"}},
        {"sorted by time",
         {line("b", 5, "late"), line("a", 1, "early"), line("c", 3, "mid")},
         {},
         {"early", "mid", "late"}},
        {"one time keeps batch order",
         {line("a", 1, "x"), line("b", 1, "y"), line("c", 1, "z")},
         {},
         {"x", "y", "z"}},
        {"known msgid dropped",
         {line("a", 1, "old"), line("b", 2, "new")},
         {{"a"}, at(1)},
         {"new"}},
        {"repeated msgid in batch kept once",
         {line("a", 1, "first"), line("a", 1, "again")},
         {},
         {"first"}},
        {"a known msgid is dropped even when newer", {line("z", 9, "seen")}, {{"z"}, at(1)}, {}},
        {"an unknown msgid older than the log is kept",
         {line("q", 0, "gap")},
         {{"a"}, at(5)},
         {"gap"}},
        {"no msgid, not newer: dropped",
         {line("", 4, "before"), line("", 5, "same"), line("", 6, "after")},
         {{}, at(5)},
         {"after"}},
        {"no msgid, nothing logged: kept", {line("", 4, "x")}, {}, {"x"}},
        {"invalid time dropped", {HistoryLine{"a", QDateTime(), "alice", "t"}}, {}, {}},
        {"empty batch", {}, {{"a"}, at(1)}, {}},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(texts(irc::mergeHistory(c.batch, c.logged)), c.expected);
    }
}

TEST(MergeHistory, HandlesALargeRepetitiveBatch)
{
    QList<HistoryLine> batch;
    for (int i = 0; i < 20000; ++i)
        batch.append(line(QByteArray::number(i % 100).constData(), i % 100, "t"));
    EXPECT_EQ(irc::mergeHistory(batch, {}).size(), 100);
}

TEST(HistoryLine, ComesFromAMessageInABatch)
{
    const QByteArray raw = "@batch=1;msgid=abc;time=2024-05-01T12:00:03.000Z :alice!u@h PRIVMSG "
                           "#c :hello there";
    const std::optional<HistoryLine> got = irc::historyLine(*irc::parseMessage(raw));
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, (HistoryLine{"abc", at(3), "alice", "hello there"}));

    for (const char* bad : {":alice PRIVMSG #c :no time", "@time=bad :alice PRIVMSG #c :bad time",
                            "@time=2024-05-01T12:00:03.000Z :alice JOIN #c",
                            "@time=2024-05-01T12:00:03.000Z :alice PRIVMSG #c"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(irc::historyLine(*irc::parseMessage(bad)), std::nullopt);
    }
    const QByteArray noId = "@time=2024-05-01T12:00:03.000Z :bob NOTICE #c :n";
    EXPECT_EQ(irc::historyLine(*irc::parseMessage(noId)), (HistoryLine{"", at(3), "bob", "n"}));
}

TEST(HistoryReference, PrefersTheMsgidThenTheTime)
{
    EXPECT_EQ(irc::historyReference("abc", at(0)), "msgid=abc");
    EXPECT_EQ(irc::historyReference("", at(0)), "timestamp=2024-05-01T12:00:00.000Z");
    EXPECT_EQ(irc::historyReference("", std::nullopt), "*");
    EXPECT_EQ(irc::historyReference("", QDateTime()), "*");
    EXPECT_EQ(irc::Command::chatHistoryAfter("#c", irc::historyReference("", at(1)), 100),
              "CHATHISTORY AFTER #c timestamp=2024-05-01T12:00:01.000Z 100");
}

} // namespace

namespace {

// Feeds `lines` to `batches`; the batches that ended, in order.
QList<irc::HistoryBatches::Finished> feed(irc::HistoryBatches& batches,
                                          const QList<QByteArray>& lines)
{
    QList<irc::HistoryBatches::Finished> finished;
    for (const QByteArray& raw : lines) {
        const std::optional<irc::Message> message = irc::parseMessage(raw);
        EXPECT_TRUE(message) << raw.constData();
        const irc::HistoryBatches::Taken taken = batches.take(*message);
        EXPECT_TRUE(taken.kept) << raw.constData();
        if (taken.finished)
            finished.append(*taken.finished);
    }
    return finished;
}

QByteArray historyOf(const char* batch, const QByteArray& text)
{
    return QByteArray("@batch=") + batch
           + ";time=2024-05-01T12:00:03.000Z :bob!b@h PRIVMSG alice :" + text;
}

} // namespace

// A server answers as it likes: a batch for a conversation we did not ask for is dropped line
// by line as it comes, and one we asked for holds no more than its bound in bytes.
TEST(HistoryBatches, HoldOnlyWhatWasAskedForWithinBounds)
{
    irc::HistoryBatches batches;
    batches.setWanted([](const QByteArray& target) { return target == "bob"; });

    const QByteArray big(8000, 'x');
    QList<QByteArray> unasked{":irc BATCH +m chathistory mallory"};
    for (int i = 0; i < 500; ++i)
        unasked.append(historyOf("m", big));
    EXPECT_TRUE(feed(batches, unasked).isEmpty());
    EXPECT_EQ(batches.heldBytes(), 0);
    EXPECT_TRUE(feed(batches, {":irc BATCH -m"}).isEmpty());

    QList<QByteArray> asked{":irc BATCH +b chathistory bob", historyOf("b", "first")};
    for (int i = 0; i < 200; ++i)
        asked.append(historyOf("b", big));
    asked.append(historyOf("b", "after the bound"));
    EXPECT_TRUE(feed(batches, asked).isEmpty());
    EXPECT_LE(batches.heldBytes(), irc::HistoryBatches::kMaxBytes);
    const QList<irc::HistoryBatches::Finished> done = feed(batches, {":irc BATCH -b"});
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done.front().target, "bob");
    EXPECT_EQ(done.front().lines.front().text, "first");
    EXPECT_LT(done.front().lines.size(), 200);
    // Cut at the bound, not thinned: nothing after the first line left out.
    EXPECT_NE(done.front().lines.back().text, "after the bound");
    EXPECT_EQ(batches.heldBytes(), 0);
}

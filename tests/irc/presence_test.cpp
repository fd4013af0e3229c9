#include "irc/presence.h"

#include <gtest/gtest.h>

TEST(BuildIsonLines, SplitsAtTheLineLimit)
{
    EXPECT_EQ(irc::BuildIsonLines({"alice", "bob"}), QList<QByteArray>{"ISON alice bob"});
    EXPECT_TRUE(irc::BuildIsonLines({}).isEmpty());

    QList<QByteArray> contacts;
    for (int i = 0; i < 256; ++i)
        contacts << QByteArray("nick") + QByteArray::number(i).rightJustified(5, '0');
    const QList<QByteArray> lines = irc::BuildIsonLines(contacts);
    ASSERT_GT(lines.size(), 1);
    QList<QByteArray> named;
    for (const QByteArray& line : lines) {
        EXPECT_LE(line.size() + 2, irc::kMaxLineBytes);
        ASSERT_TRUE(line.startsWith("ISON "));
        named += line.mid(5).split(' ');
    }
    EXPECT_EQ(named, contacts); // every contact once, in order
}

TEST(PresenceMerge, MergesTheRepliesOfOnePoll)
{
    irc::PresenceMerge merge;
    merge.startPoll(2);
    EXPECT_FALSE(merge.takeReply({"bob"}));
    EXPECT_EQ(merge.takeReply({"carol"}), (QList<QByteArray>{"bob", "carol"}));
    // A reply that no poll waits for stands alone.
    EXPECT_EQ(merge.takeReply({"dave"}), QList<QByteArray>{"dave"});
    merge.startPoll(2);
    merge.takeReply({"x"});
    merge.startPoll(1); // a new poll forgets the unfinished one
    EXPECT_EQ(merge.takeReply({}), QList<QByteArray>{});
}

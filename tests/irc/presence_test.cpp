#include "irc/presence.h"

#include <gtest/gtest.h>

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

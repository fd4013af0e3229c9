// The pass over the server list and its back-off, on a fake clock.
#include "irc/server_rotation.h"

#include <gtest/gtest.h>

#include <rapidcheck/gtest.h>

using irc::ServerRotation;

namespace {

const QDateTime kNow(QDate(2026, 1, 5), QTime(10, 42, 17));

// Runs the pass over a list of `count` that fails every entry; returns whether it starts again.
bool failWholePass(ServerRotation& rotation, int count, bool reconnect = true)
{
    while (rotation.current(count))
        rotation.attemptFailed(count);
    return rotation.passEnded(reconnect);
}

} // namespace

// Whichever entry dropped us, the pass tries every other entry at once, around the end of the
// list, and waits only after all have failed; the one that dropped us comes after the wait.
RC_GTEST_PROP(ServerRotation, APassAfterALostLinkTriesEveryEntryOnceBeforeItWaits, ())
{
    const int count = *rc::gen::inRange(1, 8);
    const int lost = *rc::gen::inRange(0, count);
    ServerRotation rotation;
    rotation.setIndex(lost);
    rotation.linkLost(count);
    QList<int> tried;
    while (const std::optional<int> index = rotation.current(count)) {
        RC_ASSERT(tried.size() < count);
        tried << *index;
        rotation.attemptFailed(count);
    }
    QList<int> expected;
    for (int step = 1; step < count; ++step)
        expected << (lost + step) % count;
    RC_ASSERT(tried == expected);
    RC_ASSERT(rotation.passEnded(true));
}

TEST(ServerRotation, APassAfterALostLinkStartsAgainLongerEachTimeUntilLetOn)
{
    ServerRotation rotation;
    EXPECT_EQ(rotation.current(3), 0);
    rotation.linkLost(3); // dropped by server 0: server 1 next
    EXPECT_EQ(rotation.current(3), 1);
    ASSERT_TRUE(failWholePass(rotation, 3));
    EXPECT_EQ(rotation.index(), 0);
    const ServerRotation::Retry first = rotation.nextRetry(kNow, 0.0);
    EXPECT_EQ(first.waitMs, 15'000);
    EXPECT_EQ(first.at, kNow.addSecs(15));
    QList<qint64> waits;
    for (int pass = 0; pass < 6; ++pass) {
        ASSERT_TRUE(failWholePass(rotation, 3)) << pass;
        waits << rotation.nextRetry(kNow, 0.0).waitMs;
    }
    EXPECT_EQ(waits, (QList<qint64>{30'000, 60'000, 120'000, 240'000, 300'000, 300'000}));

    // Let on: the next outage waits the shortest time again.
    rotation.welcomed();
    rotation.linkLost(3);
    ASSERT_TRUE(failWholePass(rotation, 3));
    EXPECT_EQ(rotation.nextRetry(kNow, 0.0).waitMs, 15'000);
}

TEST(ServerRotation, TheSpreadMovesEachWaitByUpToATenth)
{
    ServerRotation rotation;
    rotation.linkLost(1);
    ASSERT_TRUE(failWholePass(rotation, 1));
    const ServerRotation::Retry early = rotation.nextRetry(kNow, -1.0);
    EXPECT_EQ(early.waitMs, 13'500);
    EXPECT_EQ(early.at.time(), QTime(10, 42, 30, 500));
    ASSERT_TRUE(failWholePass(rotation, 1));
    EXPECT_EQ(rotation.nextRetry(kNow, 1.0).waitMs, 33'000);
    ASSERT_TRUE(failWholePass(rotation, 1));
    EXPECT_EQ(rotation.nextRetry(kNow, 5.0).waitMs, 66'000); // clamped to the spread
}

TEST(ServerRotation, OnlyAPassAfterALostLinkWithReconnectionOnStartsAgain)
{
    ServerRotation byUser;
    EXPECT_FALSE(failWholePass(byUser, 2)); // the user's pass ends as it always did
    EXPECT_EQ(byUser.index(), 0);

    ServerRotation flagOff;
    flagOff.linkLost(2);
    EXPECT_FALSE(failWholePass(flagOff, 2, false));

    ServerRotation takenOver;
    takenOver.linkLost(2);
    takenOver.userTakesOver();
    EXPECT_FALSE(failWholePass(takenOver, 2));

    // A changed certificate ends the pass for good, back at the top of the list.
    ServerRotation stopped;
    stopped.linkLost(2);
    stopped.stop();
    EXPECT_EQ(stopped.index(), 0);
    EXPECT_FALSE(stopped.recovering());

    // An index the user set past the end of a shorter list ends the pass at once.
    ServerRotation past;
    past.setIndex(5);
    EXPECT_EQ(past.current(2), std::nullopt);
    past.setIndex(-1);
    EXPECT_EQ(past.current(2), std::nullopt);
}

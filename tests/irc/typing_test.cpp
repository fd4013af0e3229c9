#include "irc/message.h"
#include "irc/typing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using irc::TypingState;
using State = std::optional<TypingState>;
constexpr auto kActive = TypingState::Active;
constexpr auto kPaused = TypingState::Paused;
constexpr auto kDone = TypingState::Done;

// One step of the user at the input line, and what must go out.
struct Step
{
    enum Kind { Edit, Idle, Sent } kind;
    qint64 atMs;
    const char* text;
    State expected;
};

struct SenderCase
{
    const char* name;
    std::vector<Step> steps;
};

TEST(TypingSender, AnnouncesTypingAsTheTypingTagAdvises)
{
    const SenderCase cases[] = {
        {"active at once, then at most every 3 s",
         {{Step::Edit, 0, "h", kActive},
          {Step::Edit, 1000, "he", std::nullopt},
          {Step::Edit, 2999, "hel", std::nullopt},
          {Step::Edit, 3000, "hell", kActive},
          {Step::Edit, 5000, "hello", std::nullopt},
          {Step::Edit, 6000, "hello!", kActive}}},
        {"sent ends it",
         {{Step::Edit, 0, "hi", kActive},
          {Step::Sent, 500, "", kDone},
          {Step::Sent, 600, "", std::nullopt}}},
        {"nothing announced, nothing to end",
         {{Step::Sent, 0, "", std::nullopt},
          {Step::Edit, 10, "", std::nullopt},
          {Step::Idle, 99999, "", std::nullopt}}},
        {"cleared input ends it",
         {{Step::Edit, 0, "hi", kActive},
          {Step::Edit, 100, "", kDone},
          {Step::Edit, 200, "", std::nullopt},
          {Step::Edit, 300, "a", kActive}}},
        {"a command is not typing",
         {{Step::Edit, 0, "/", std::nullopt},
          {Step::Edit, 100, "/join #c", std::nullopt},
          {Step::Sent, 200, "", std::nullopt}}},
        {"turning a message into a command ends it",
         {{Step::Edit, 0, "me", kActive}, {Step::Edit, 100, "/me", kDone}}},
        {"a slash later in the text is typing", {{Step::Edit, 0, "a/b", kActive}}},
        {"paused after 6 s without edits, once",
         {{Step::Edit, 0, "hi", kActive},
          {Step::Idle, 5999, "", std::nullopt},
          {Step::Idle, 6000, "", kPaused},
          {Step::Idle, 9000, "", std::nullopt},
          {Step::Sent, 9500, "", kDone}}},
        {"the pause counts from the last edit, not the last active",
         {{Step::Edit, 0, "h", kActive},
          {Step::Edit, 2000, "hi", std::nullopt},
          {Step::Idle, 6000, "", std::nullopt},
          {Step::Idle, 8000, "", kPaused}}},
        {"typing again after a pause is active at once",
         {{Step::Edit, 0, "h", kActive},
          {Step::Idle, 6000, "", kPaused},
          {Step::Edit, 6100, "hi", kActive},
          {Step::Edit, 6200, "hi!", std::nullopt}}},
        {"a paused line cleared is done",
         {{Step::Edit, 0, "h", kActive},
          {Step::Idle, 7000, "", kPaused},
          {Step::Edit, 7100, "", kDone}}},
        {"after done the next keystroke is active again",
         {{Step::Edit, 0, "a", kActive},
          {Step::Sent, 100, "", kDone},
          {Step::Edit, 200, "b", kActive}}},
    };
    for (const SenderCase& c : cases) {
        SCOPED_TRACE(c.name);
        irc::TypingSender sender;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.atMs);
            State got;
            if (step.kind == Step::Edit)
                got = sender.edited(QString::fromUtf8(step.text), step.atMs);
            else if (step.kind == Step::Idle)
                got = sender.idle(step.atMs);
            else
                got = sender.sent();
            EXPECT_EQ(got, step.expected);
        }
    }
}

TEST(TypingSender, SendsNothingWhenTurnedOff)
{
    irc::TypingSender sender(false);
    EXPECT_EQ(sender.edited("hello", 0), std::nullopt);
    EXPECT_EQ(sender.edited("hello world", 5000), std::nullopt);
    EXPECT_EQ(sender.idle(20000), std::nullopt);
    EXPECT_EQ(sender.edited("", 21000), std::nullopt);
    EXPECT_EQ(sender.sent(), std::nullopt);
}

TEST(TypingSender, TurnedOffWhileAnnouncedEndsWithDone)
{
    irc::TypingSender sender;
    EXPECT_EQ(sender.edited("hi", 0), kActive);
    EXPECT_EQ(sender.setEnabled(false), kDone);
    EXPECT_EQ(sender.edited("hi!", 4000), std::nullopt);
    EXPECT_EQ(sender.sent(), std::nullopt);
    EXPECT_EQ(sender.setEnabled(true), std::nullopt);
    EXPECT_EQ(sender.edited("hi!!", 4100), kActive);
    EXPECT_EQ(irc::TypingSender().setEnabled(false), std::nullopt);
}

TEST(TypingTag, ReadsTheStateFromALine)
{
    struct Case
    {
        const char* line;
        State expected;
    };
    const Case cases[] = {
        {"@+typing=active :n!u@h TAGMSG #c", kActive},
        {"@+typing=paused :n!u@h TAGMSG #c", kPaused},
        {"@+typing=done :n!u@h TAGMSG #c", kDone},
        {"@msgid=1;+typing=active :n TAGMSG me", kActive},
        {"@+typing=ACTIVE :n TAGMSG #c", std::nullopt},
        {"@+typing=typing :n TAGMSG #c", std::nullopt},
        {"@+typing :n TAGMSG #c", std::nullopt},
        {"@typing=active :n TAGMSG #c", std::nullopt},
        {"@+draft/typing=active :n TAGMSG #c", std::nullopt},
        {":n TAGMSG #c", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<irc::Message> message = irc::parseMessage(c.line);
        ASSERT_TRUE(message);
        EXPECT_EQ(irc::typingState(*message), c.expected);
    }
}

using Typists = QList<irc::TypingWatch::Typist>;

TEST(TypingWatch, ShowsActiveForSixSeconds)
{
    irc::TypingWatch watch;
    watch.received("alice", kActive, 1000);
    EXPECT_EQ(watch.typingNow(1000), (Typists{{"alice", false}}));
    EXPECT_EQ(watch.typingNow(6999), (Typists{{"alice", false}}));
    EXPECT_EQ(watch.typingNow(7000), Typists{});
    watch.received("alice", kActive, 8000);
    watch.received("alice", kActive, 11000); // repeated: shown on
    EXPECT_EQ(watch.typingNow(16999), (Typists{{"alice", false}}));
    EXPECT_EQ(watch.typingNow(17000), Typists{});
}

// Paused is shown as paused, for up to 30 s, as the typing tag advises.
TEST(TypingWatch, ShowsPausedAsPausedForThirtySeconds)
{
    irc::TypingWatch watch;
    watch.received("alice", kActive, 0);
    watch.received("alice", kPaused, 2000);
    EXPECT_EQ(watch.typingNow(10000), (Typists{{"alice", true}}));
    EXPECT_EQ(watch.typingNow(31999), (Typists{{"alice", true}}));
    EXPECT_EQ(watch.typingNow(32000), Typists{});
    watch.received("alice", kPaused, 40000);
    watch.received("alice", kActive, 41000);
    EXPECT_EQ(watch.typingNow(41000), (Typists{{"alice", false}}));
    EXPECT_EQ(watch.typingNow(47000), Typists{});
}

TEST(TypingWatch, HidesOnDoneAndOnAMessage)
{
    irc::TypingWatch watch;
    watch.received("alice", kActive, 0);
    watch.received("bob", kActive, 100);
    watch.received("carol", kPaused, 200);
    EXPECT_EQ(watch.typingNow(300), (Typists{{"alice", false}, {"bob", false}, {"carol", true}}));
    watch.received("alice", kDone, 400);
    EXPECT_EQ(watch.typingNow(500), (Typists{{"bob", false}, {"carol", true}}));
    watch.messageFrom("carol");
    EXPECT_EQ(watch.typingNow(600), (Typists{{"bob", false}}));
    watch.messageFrom("nobody");
    watch.received("nobody", kDone, 700);
    EXPECT_EQ(watch.typingNow(800), (Typists{{"bob", false}}));
    // Bob repeating keeps his place in the order.
    watch.received("alice", kActive, 900);
    watch.received("bob", kActive, 1000);
    EXPECT_EQ(watch.typingNow(1100), (Typists{{"bob", false}, {"alice", false}}));
}

TEST(TypingWatch, StaysBoundedUnderAFlood)
{
    irc::TypingWatch watch;
    for (int i = 0; i < 10000; ++i)
        watch.received("n" + QByteArray::number(i), kActive, i);
    const Typists shown = watch.typingNow(10000);
    ASSERT_EQ(shown.size(), irc::TypingWatch::kMaxTypists);
    EXPECT_EQ(shown.back().nick, "n9999");
    EXPECT_EQ(shown.front().nick, "n" + QByteArray::number(10000 - shown.size()));
}

} // namespace

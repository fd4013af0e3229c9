// Replies to the user's queries as the main window shows them: who replied, the ping's round
// trip, a query that drew no reply, and the whois answer.
#include "diag/debug_log.h"
#include "tests/support/connected_program.h"
#include "tests/support/fake_retry_timer.h"

#include <QMessageBox>

using app::Command;
using test::waitFor;

namespace {

// A connected program whose reply waits run on a clock that only the test moves.
class RepliesTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        connect();
        auto fake = std::make_unique<test::FakeRetryTimer>();
        timer = fake.get();
        core->program->ctcp().setReplyClock([this] { return nowMs; }, std::move(fake));
    }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const QMessageBox* box : boxes())
            texts << box->windowTitle() + '|' + box->text();
        texts.sort();
        return texts;
    }

    qint64 nowMs = 1000;
    test::FakeRetryTimer* timer = nullptr;
};

} // namespace

TEST_F(RepliesTest, SaysSoWhereTheReplyWouldHaveShownWhenNoneCameInTime)
{
    ASSERT_TRUE(ask(Command::Finger, "PRIVMSG bob :\x01"
                                     "FINGER\x01\r\n"));
    nowMs = 6000;
    ASSERT_TRUE(ask(Command::Version, "PRIVMSG bob :\x01VERSION\x01\r\n"));
    ASSERT_TRUE(timer->pending());
    EXPECT_EQ(timer->delays.last(), 10000) << "woken when the first query's wait is over";

    nowMs = 16000;
    timer->elapse();
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 1; }));
    EXPECT_EQ(boxTexts(), QStringList{"Finger Reply|No reply from bob to Finger."});
    EXPECT_EQ(boxes().front()->icon(), QMessageBox::Information);
    ASSERT_TRUE(timer->pending());
    EXPECT_EQ(timer->delays.last(), 5000) << "then at the end of the second's";
    boxes().front()->accept();
    ASSERT_TRUE(waitFor([&] { return boxes().isEmpty(); }));

    // The finger reply comes late: it opens no box, and waits in the debug window.
    diag::DebugPanes::instance().clear();
    server.send(":bob!b@h NOTICE alice :\x01"
                "FINGER bob (Bob) Idle 20\x01\r\n");
    ASSERT_TRUE(linesRead("after.late"));
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("Finger Reply from bob, not asked for: bob (Bob) Idle 20"));

    // The version reply is in time: shown, and nothing is left to wait for.
    nowMs = 20999;
    server.send(":bob!b@h NOTICE alice :\x01VERSION Kivvo Version 2.0\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 1; }));
    EXPECT_EQ(boxTexts(), QStringList{"Version Reply|From bob\nKivvo Version 2.0"});
    EXPECT_FALSE(timer->pending());
}

TEST_F(RepliesTest, AReplyWhileItsKindsBoxIsOpenIsNotedOnOneLine)
{
    ASSERT_TRUE(ask(Command::Time, "PRIVMSG bob :\x01TIME\x01\r\n"));
    ASSERT_TRUE(ask(Command::Time, "PRIVMSG bob :\x01TIME\x01\r\n"));
    diag::DebugPanes::instance().clear();
    server.send(":bob!b@h NOTICE alice :\x01TIME noon\x01\r\n"
                ":bob!b@h NOTICE alice :\x01TIME one past noon\x01\r\n");
    ASSERT_TRUE(linesRead("after.replies"));
    EXPECT_EQ(boxTexts(), QStringList{"Time Reply|From bob\nnoon"});
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("Time Reply (another is still open): From bob: one past noon\r\n"));
}

TEST_F(RepliesTest, ShowsThePingRoundTripMeasuredHere)
{
    ASSERT_TRUE(ask(Command::Ping, "PRIVMSG bob :\x01PING "));
    // Whatever number comes back, the round trip is what our own clock saw.
    nowMs += 123;
    server.send(":bob!b@h NOTICE alice :\x01PING 1\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 1; }));
    EXPECT_EQ(boxTexts(), QStringList{"Ping Reply|From bob\nPing Reply - 123 ms"});
    EXPECT_FALSE(timer->pending());
}

TEST_F(RepliesTest, ShowsAWhoisAnswerOneLabelledFieldALine)
{
    server.send(":irc 311 alice bob ~b host.example * :Bob <i>the</i> Builder\r\n");
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 1 && boxes().front()->isVisible(); }));
    EXPECT_EQ(boxTexts(), QStringList{"Whois Reply|Nick: bob\nUser: ~b\nHost: host.example\n"
                                      "Real name: Bob <i>the</i> Builder"});
    EXPECT_EQ(boxes().front()->textFormat(), Qt::PlainText);
}

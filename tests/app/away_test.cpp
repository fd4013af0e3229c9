// Our own away status as the server and the chats see it: told to the server with the IRCv3
// option on, its automatic reply marked as such, and never drawn by an automatic message.
#include "app/program.h"
#include "tests/support/connected_program.h"

using test::waitFor;

namespace {

class AwayTest : public test::ConnectedProgramTest
{
protected:
    void goAway(const QByteArray& text, bool away = true)
    {
        config::Settings settings = core->program->settings();
        settings.awayset = away;
        settings.away = text;
        core->program->applySettings(settings);
    }
};

} // namespace

// Two users of this program never saw each other away: only the automatic reply told.
TEST_F(AwayTest, TheServerIsToldWhenWeGoAwayAndComeBack)
{
    connect();
    goAway("gone home");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("\r\nAWAY :gone home\r\n"); }));
    goAway("back at two");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("\r\nAWAY :back at two\r\n"); }));
    // The automatic reply goes out as before.
    server.send(":bob!b@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("PRIVMSG bob :back at two\r\n"); }));
    goAway("back at two", false);
    ASSERT_TRUE(waitFor([&] { return server.received().contains("\r\nAWAY\r\n"); }));

    // A new link's server is told again, after its welcome.
    goAway("gone home");
    ASSERT_TRUE(waitFor([&] { return server.received().count("AWAY :gone home\r\n") == 2; }));
    core->run(app::Command::Disconnect);
    core->run(app::Command::ConnectCurrent);
    ASSERT_TRUE(waitFor([&] { return server.received(1).contains("AWAY :gone home\r\n"); }));
    EXPECT_GT(server.received(1).indexOf("AWAY :gone home"), server.received(1).indexOf("WHO "));
}

TEST_F(AwayTest, WithoutTheIrcv3OptionTheServerIsNotTold)
{
    test::CoreOptions options;
    options.ircv3 = false;
    connect(options);
    goAway("gone home");
    ASSERT_TRUE(linesRead("told"));
    EXPECT_FALSE(server.received().contains("AWAY"));
}

// The reply looked typed in our own window and log.
TEST_F(AwayTest, TheAutomaticReplyShowsAsAutomatic)
{
    test::CoreOptions options;
    options.contacts = {"bob"};
    connect(options);
    goAway("gone home");
    server.send(":bob!b@h PRIVMSG alice :are you there?\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
    peer::ChatWindow* chat = core->chat(0);
    ASSERT_TRUE(waitFor([&] {
        return chat->transcript().contains("<alice> (auto-reply) gone home\r\n");
    })) << chat->transcript().toStdString();
    EXPECT_TRUE(chat->transcript().contains("<bob> are you there?\r\n"));
    EXPECT_FALSE(chat->transcript().contains("<alice> gone home"));
}

// Two away programs traded automatic answers to each other's automatic messages.
TEST_F(AwayTest, ACtcpQueryOrAnOfferDrawsNoAwayReply)
{
    connect();
    core->prompter->answers = {false};
    goAway("gone home");
    server.send(":bob!b@h PRIVMSG alice :\x01VERSION\x01\r\n"
                ":bob!b@h PRIVMSG alice :\x01PING 123\x01\r\n"
                ":bob!b@h PRIVMSG alice :\x01"
                "DCC CHAT chat 16909060 4000\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return !core->prompter->questions.empty(); }));
    ASSERT_TRUE(linesRead("queried"));
    EXPECT_FALSE(server.received().contains("PRIVMSG bob :gone home"));
    // What a person writes, an action among it, still gets it.
    server.send(":bob!b@h PRIVMSG alice :\x01"
                "ACTION waves\x01\r\n");
    EXPECT_TRUE(waitFor([&] { return server.received().contains("PRIVMSG bob :gone home\r\n"); }));
}

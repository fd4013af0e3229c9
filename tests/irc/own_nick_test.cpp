// The nick the server knows us by, learnt from its lines, and the answers to a refused nick.
#include "irc/own_nick.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Step
{
    const char* line;
    const char* nick; // ours after the line
    std::optional<QByteArray> askFor = std::nullopt;
    bool renamed = false;
    bool gaveUp = false;
    // What is reported: "<nick>: <reason>".
    std::optional<QByteArray> refusal = std::nullopt;
};

// Feeds `steps` in order to a registration that asked for "alice" (alternate "alice_2").
void follow(const char* name, const std::vector<Step>& steps, irc::OwnNick own = {})
{
    if (own.nick().isEmpty())
        own.start("alice", "alice_2");
    for (const Step& step : steps) {
        const std::optional<irc::Message> message = irc::parseMessage(step.line);
        ASSERT_TRUE(message) << step.line;
        const irc::OwnNick::Reply reply = own.take(*message);
        EXPECT_EQ(own.nick(), step.nick) << name << ": " << step.line;
        EXPECT_EQ(reply.askFor, step.askFor) << name << ": " << step.line;
        EXPECT_EQ(reply.renamed, step.renamed) << name << ": " << step.line;
        EXPECT_EQ(reply.gaveUp, step.gaveUp) << name << ": " << step.line;
        const std::optional<QByteArray> refusal =
            reply.refusal ? std::optional(reply.refusal->nick + ": " + reply.refusal->reason)
                          : std::nullopt;
        EXPECT_EQ(refusal, step.refusal) << name << ": " << step.line;
    }
}

const char* const kTaken = ":irc 433 * alice :Nickname is already in use";
const char* const kAltTaken = ":irc 433 * alice_2 :Nickname is already in use";

} // namespace

TEST(OwnNick, IsTheNickTheServerSays)
{
    follow("the welcome names a cut nick", {{":irc 001 alicelongn :Welcome", "alicelongn"},
                                            {":alicelongn!a@h PRIVMSG bob :hi", "alicelongn"}});
    follow("services rename us, then an operator does",
           {{":irc 001 alice :Welcome", "alice"},
            {":alice!a@h NICK :Guest4711", "Guest4711", std::nullopt, true},
            {":GUEST4711!a@h NICK alice2", "alice2", std::nullopt, true}});
    follow("someone else's change is not ours", {{":irc 001 alice :Welcome", "alice"},
                                                 {":bob!b@h NICK :alice_", "alice"},
                                                 {":alice_!b@h NICK :carol", "alice"},
                                                 {"NICK :mallory", "alice"}});
    follow("a nick that cannot stand as a word is not taken",
           {{":irc 001 alice :Welcome", "alice"},
            {":alice!a@h NICK :two words", "alice"},
            {":alice!a@h NICK ::colon", "alice"},
            {":alice!a@h NICK :bell\x07", "alice"}});
    follow("a refused nick is not ours before the welcome names it",
           {{kTaken, "alice", "alice_2"}, {":irc 001 alice_2 :Welcome", "alice_2"}});
}

// Three rounds of the nick and the alternate, then nothing more is asked for, said once.
TEST(OwnNick, StopsAskingWhenBothNicksStayTaken)
{
    follow("both taken", {{kTaken, "alice", "alice_2"},
                          {kAltTaken, "alice", "alice"},
                          {kTaken, "alice", "alice_2"},
                          {kAltTaken, "alice", "alice"},
                          {kTaken, "alice", "alice_2"},
                          {kAltTaken, "alice", "alice"},
                          {kTaken, "alice", std::nullopt, false, true},
                          {kAltTaken, "alice"},
                          {kTaken, "alice"}});
    // Without an alternate, the nick with a '_'.
    irc::OwnNick noAlternate;
    noAlternate.start("alice", "");
    follow("no alternate", {{kTaken, "alice", "alice_"}, {":irc 001 alice_ :Welcome", "alice_"}},
           noAlternate);
}

// A nick the server does not allow is tried no more than a taken one while registering, and is
// reported; once registered, a refused change is reported and the nick we hold stays ours.
TEST(OwnNick, ReportsARefusedNickWithTheServersReason)
{
    follow("not allowed while registering", {{":irc 432 * alice :Erroneous Nickname", "alice",
                                              "alice_2", false, false, "alice: Erroneous Nickname"},
                                             {":irc 001 alice_2 :Welcome", "alice_2"}});
    follow("a change refused once registered",
           {{":irc 001 alice :Welcome", "alice"},
            {":irc 433 alice bob :Nickname is already in use", "alice", std::nullopt, false, false,
             "bob: Nickname is already in use"},
            {":irc 432 alice b@d :Erroneous Nickname", "alice", std::nullopt, false, false,
             "b@d: Erroneous Nickname"}});
}

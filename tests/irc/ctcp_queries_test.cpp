// The queries we wait on, and what their reply boxes say.
#include "irc/ctcp_queries.h"

#include <gtest/gtest.h>

#include <vector>

using irc::CtcpCode;
using irc::CtcpReplyBox;

TEST(CtcpQueries, ShowsOnlyTheFirstReplyToAQueryWithinItsWait)
{
    using irc::CtcpQueries;
    struct Step
    {
        const char* what;
        QByteArray nick;
        CtcpCode code;
        qint64 atMs;
        bool shown;
    };
    // bob was asked for his VERSION at 1000 and his TIME at 2000.
    const std::vector<Step> steps = {
        {"a reply from someone not asked", "mallory", CtcpCode::Version, 1500, false},
        {"a reply of a kind not asked for", "bob", CtcpCode::Ping, 1500, false},
        {"the reply, by the server's case folding", "BOB", CtcpCode::Version, 1600, true},
        {"a second reply to the same query", "bob", CtcpCode::Version, 1700, false},
        {"a reply when the wait is over", "bob", CtcpCode::Time, 2000 + 15000, false},
    };
    CtcpQueries queries;
    queries.asked("bob", CtcpCode::Version, 1000);
    queries.asked("bob", CtcpCode::Time, 2000);
    for (const Step& step : steps) {
        EXPECT_EQ(queries.takeReply(step.nick, step.code, step.atMs).has_value(), step.shown)
            << step.what;
    }

    // Asked twice, shown twice; folded as the server says ('~' is '^' only in RFC 1459).
    queries.setCaseMapping(irc::CaseMapping::Ascii);
    queries.asked("x^y", CtcpCode::Ping, 100000);
    queries.asked("x^y", CtcpCode::Ping, 100001);
    EXPECT_FALSE(queries.takeReply("x~y", CtcpCode::Ping, 100002));
    EXPECT_EQ(queries.takeReply("X^Y", CtcpCode::Ping, 100002),
              (CtcpQueries::Query{"x^y", CtcpCode::Ping, 100000}));
    EXPECT_EQ(queries.takeReply("x^y", CtcpCode::Ping, 100003),
              (CtcpQueries::Query{"x^y", CtcpCode::Ping, 100001}));
    EXPECT_FALSE(queries.takeReply("x^y", CtcpCode::Ping, 100004));
}

TEST(CtcpQueries, GivesUpEachUnansweredQueryOnceItsWaitIsOver)
{
    using irc::CtcpQueries;
    using Query = CtcpQueries::Query;
    CtcpQueries queries;
    EXPECT_EQ(queries.nextDeadlineMs(), std::nullopt);
    queries.asked("bob", CtcpCode::Finger, 1000);
    queries.asked("Carol", CtcpCode::Version, 4000);
    queries.asked("dave", CtcpCode::Ping, 9000);
    EXPECT_EQ(queries.nextDeadlineMs(), 16000);

    EXPECT_TRUE(queries.takeExpired(15999).empty());
    EXPECT_TRUE(queries.takeReply("dave", CtcpCode::Ping, 10000)); // answered in time
    // Late at the timer, both waits that ran out are reported, oldest first, and only once.
    EXPECT_EQ(queries.takeExpired(19000), (std::vector<Query>{{"bob", CtcpCode::Finger, 1000},
                                                              {"Carol", CtcpCode::Version, 4000}}));
    EXPECT_TRUE(queries.takeExpired(30000).empty());
    EXPECT_EQ(queries.nextDeadlineMs(), std::nullopt);
    EXPECT_FALSE(queries.takeReply("bob", CtcpCode::Finger, 19001)) << "too late";

    // A reply that comes after the wait but before the timer shows nothing, and the query is
    // still reported as unanswered.
    queries.asked("erin", CtcpCode::Time, 50000);
    EXPECT_FALSE(queries.takeReply("erin", CtcpCode::Time, 65000));
    EXPECT_EQ(queries.takeExpired(65001), (std::vector<Query>{{"erin", CtcpCode::Time, 50000}}));

    queries.asked("frank", CtcpCode::Source, 70000);
    queries.clear();
    EXPECT_EQ(queries.nextDeadlineMs(), std::nullopt);
}

TEST(CtcpQueries, KeepsABoundedNumberWaiting)
{
    irc::CtcpQueries queries;
    for (int i = 0; i <= irc::CtcpQueries::kMaxWaiting; ++i)
        queries.asked("n" + QByteArray::number(i), CtcpCode::Version, i);
    EXPECT_FALSE(queries.takeReply("n0", CtcpCode::Version, 100)) << "the oldest made room";
    EXPECT_TRUE(queries.takeReply("n1", CtcpCode::Version, 100));
    EXPECT_TRUE(queries.takeReply("n" + QByteArray::number(irc::CtcpQueries::kMaxWaiting),
                                  CtcpCode::Version, 100));
}

TEST(CtcpReplyBoxText, NamesWhoRepliedAndMeasuresThePingRoundTrip)
{
    struct Case
    {
        QString title;
        QString read;
        QByteArray sender;
        QByteArray asked; // the nick as we asked it
        CtcpCode code;
        qint64 askedMs;
        qint64 nowMs;
        QString shown;
    };
    const std::vector<Case> cases = {
        {"Version Reply", "Kivvo Version 2.0", "Bob", "bob", CtcpCode::Version, 100, 900,
         "From Bob\nKivvo Version 2.0"},
        {"Time Reply", "noon", "carol", "carol", CtcpCode::Time, 0, 1, "From carol\nnoon"},
        // The peer's number says nothing about the round trip; our own clock does.
        {"Ping Reply", "Ping Reply - 3600 seconds", "bob", "bob", CtcpCode::Ping, 5000, 5123,
         "From bob\nPing Reply - 123 ms"},
        {"Ping Reply", "Ping Reply - 0 seconds", "bob", "bob", CtcpCode::Ping, 5000, 5000,
         "From bob\nPing Reply - 0 ms"},
        // Peer text is never a format, nor markup.
        {"Finger Reply", "%1 <b>%2</b>", "x%1", "X%1", CtcpCode::Finger, 0, 1,
         "From x%1\n%1 <b>%2</b>"},
        // Nor a second line.
        {"Version Reply", "v1", "bob\xE2\x80\xA8Kivvo", "bob\xE2\x80\xA8Kivvo", CtcpCode::Version,
         0, 1, "From bob\\u2028Kivvo\nv1"},
    };
    for (const Case& c : cases) {
        const irc::CtcpQueries::Query query{c.asked, c.code, c.askedMs};
        EXPECT_EQ(irc::answeredReplyBox({c.title, c.read}, c.sender, query, c.nowMs),
                  (CtcpReplyBox{c.title, c.shown}))
            << c.shown.toStdString();
    }
}

TEST(CtcpReplyBoxText, SaysWhichQueryGotNoReply)
{
    using Query = irc::CtcpQueries::Query;
    struct Case
    {
        Query query;
        CtcpReplyBox shown;
    };
    const std::vector<Case> cases = {
        {{"bob", CtcpCode::Finger, 0}, {"Finger Reply", "No reply from bob to Finger."}},
        {{"Bob", CtcpCode::Version, 0}, {"Version Reply", "No reply from Bob to Version."}},
        {{"bob", CtcpCode::Ping, 0}, {"Ping Reply", "No reply from bob to Ping."}},
        {{"bob", CtcpCode::Time, 0}, {"Time Reply", "No reply from bob to Time."}},
        {{"bob", CtcpCode::Source, 0}, {"Source Reply", "No reply from bob to Source."}},
        {{"caf\xc3\xa9%2", CtcpCode::Time, 0},
         {"Time Reply", QString::fromUtf8("No reply from caf\xc3\xa9%2 to Time.")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(irc::noReplyBox(c.query), c.shown) << c.shown.text.toStdString();
}

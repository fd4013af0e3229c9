#include "irc/ctcp.h"
#include "irc/ctcp_queries.h"
#include "tests/support/hostile_texts.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using irc::CtcpAnswerLimit;
using irc::CtcpAnswerVerdict;
using irc::CtcpCode;
using irc::CtcpReplyBox;

namespace {

std::string show(const std::optional<QByteArray>& bytes)
{
    return bytes ? bytes->toPercentEncoding(" :").toStdString() : std::string("(none)");
}

const irc::CtcpLocalTime kLocal{1700000000, "11/14/2023", "10:13:20 PM"};

} // namespace

// The keyword table matched as a prefix, and a trailing text split once: the keyword's code (or
// DCC) and the arguments after it, which the DCC offers are read from. Text that is neither is
// not a CTCP message of ours.
TEST(ClassifyCtcp, MatchesTheKeywordTableAsAPrefixAndSplitsOnce)
{
    struct Case
    {
        std::optional<QByteArray> text;
        int code;
        bool dcc = false;
        QByteArray arguments = {};
    };
    const Case cases[] = {
        {"\001FINGER\001", 1},
        {"\001VERSION\001", 2},
        {"\001SOURCE\001", 3},
        {"\001USERINFO\001", 4},
        {"\001CLIENTINFO\001", 5},
        {"\001ERRMSG\001", 6},
        {"\001PING 12345\001", 7, false, "12345"},
        {"\001TIME\001", 8},
        {"\001TIME", 8},
        {"\001ENCRYPT key", 9, false, "key"},
        {"\001PING", 7},
        {"\001PINGS", 7},
        // The byte after the keyword is skipped, whatever it is; one closing 0x01 goes.
        {"\001PINGS x\001", 7, false, " x"},
        {"\001TIME x\001\001", 8, false, "x\001"},
        {"\001ping", 0},
        {"\001version\001", 0},
        {"PING", 0},
        {" \001PING", 0},
        {"\001PIN", 0},
        {"\001", 0},
        {"", 0},
        {"hello", 0},
        {QByteArray(), 0},
        {std::nullopt, 0},
        {"\001ACTION waves\001", 0},
        {"\001DCC CHAT chat 1 2\001", 0, true, "CHAT chat 1 2"},
        {"\001DCC SEND f 1 2 3\001", 0, true, "SEND f 1 2 3"},
        {"\001DCC CHAT chat 1 2", 0, true, "CHAT chat 1 2"},
        {"\001DCC", 0, true},
        {"\001DCCX\001", 0, true},
        {QByteArray("\001PI\0NG", 6), 0},
        {QByteArray("\001PING\0", 6), 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(show(c.text));
        EXPECT_EQ(irc::ClassifyCtcp(c.text), c.code);
        EXPECT_EQ(irc::ctcpCode(c.text), static_cast<CtcpCode>(c.code));
        const std::optional<irc::Ctcp> ctcp =
            irc::splitCtcp(c.text ? std::optional<QByteArrayView>(*c.text) : std::nullopt);
        ASSERT_EQ(ctcp.has_value(), c.code != 0 || c.dcc);
        if (!ctcp)
            continue;
        EXPECT_EQ(ctcp->code, static_cast<CtcpCode>(c.code));
        EXPECT_EQ(ctcp->dcc, c.dcc);
        EXPECT_EQ(ctcp->arguments, c.arguments);
        EXPECT_EQ(ctcp->text, *c.text);
    }
}

TEST(AnswerCtcpQuery, AnswersByteForByte)
{
    const QByteArray overLong(505, 'n');
    struct Case
    {
        QByteArray sender;
        QByteArray text;
        CtcpCode code;
        std::optional<QByteArray> answer;
    };
    const std::vector<Case> cases = {
        {"bob", "\001VERSION\001", CtcpCode::Version,
         "NOTICE bob :\001VERSION Kivvo Version 2.0 https://kivvo.example.org/\001"},
        {"bob", "\001SOURCE\001", CtcpCode::Source,
         "NOTICE bob :\001SOURCE https://kivvo.example.org/download/\001"},
        {"bob", "\001TIME\001", CtcpCode::Time, "NOTICE bob :\001TIME 11/14/2023 10:13:20 PM\001"},
        // The asker's own number comes back, so that it can measure its round trip.
        {"bob", "\001PING 12345\001", CtcpCode::Ping, "NOTICE bob :\001PING 12345\001"},
        {"bob", "\001PING 1 2 3\001", CtcpCode::Ping, "NOTICE bob :\001PING 1 2 3\001"},
        {"bob", "\001PING 77", CtcpCode::Ping, "NOTICE bob :\001PING 77\001"},
        {"bob", "\001PING 5\001junk", CtcpCode::Ping, "NOTICE bob :\001PING 5\001"},
        {"bob", QByteArray("\001PING 5\001\0", 9), CtcpCode::Ping, "NOTICE bob :\001PING 5\001"},
        // Without an argument there is nothing to echo: our clock instead.
        {"bob", "\001PING\001", CtcpCode::Ping, "NOTICE bob :\001PING 1700000000\001"},
        {"bob", "\001PING", CtcpCode::Ping, "NOTICE bob :\001PING 1700000000\001"},
        {"bob", "\001PING \001", CtcpCode::Ping, "NOTICE bob :\001PING 1700000000\001"},
        {"bob", "\001PINGS 99\001", CtcpCode::Ping, "NOTICE bob :\001PING 1700000000\001"},
        // Peer text is never a format.
        {"bob", "\001PING %s%n%x\001", CtcpCode::Ping, "NOTICE bob :\001PING %s%n%x\001"},
        {"%s%n%x", "\001VERSION\001", CtcpCode::Version,
         "NOTICE %s%n%x :\001VERSION Kivvo Version 2.0 https://kivvo.example.org/\001"},
        {"bob", "\001FINGER\001", CtcpCode::Finger, std::nullopt},
        {"bob", "\001USERINFO\001", CtcpCode::UserInfo, std::nullopt},
        {"bob", "\001CLIENTINFO\001", CtcpCode::ClientInfo, std::nullopt},
        {"bob", "\001ERRMSG x\001", CtcpCode::ErrMsg, std::nullopt},
        {"bob", "\001ENCRYPT k\001", CtcpCode::Encrypt, std::nullopt},
        {"bob", "hello", CtcpCode::None, std::nullopt},
        // Peers' bytes must never break the line, and an answer that cannot fit one line is not
        // sent.
        {"", "\001VERSION\001", CtcpCode::Version, std::nullopt},
        {"bo b", "\001VERSION\001", CtcpCode::Version, std::nullopt},
        {":bob", "\001VERSION\001", CtcpCode::Version, std::nullopt},
        {"bob\r\nQUIT", "\001VERSION\001", CtcpCode::Version, std::nullopt},
        {"bob\n", "\001SOURCE\001", CtcpCode::Source, std::nullopt},
        {"bob\r", "\001TIME\001", CtcpCode::Time, std::nullopt},
        {QByteArray("bo\0b", 4), "\001PING\001", CtcpCode::Ping, std::nullopt},
        {"bob", "\001PING 1\r\nQUIT :bye\001", CtcpCode::Ping, std::nullopt},
        {"bob", "\001PING 1\nJOIN #x\001", CtcpCode::Ping, std::nullopt},
        {"bob", "\001PING 1\r\001", CtcpCode::Ping, std::nullopt},
        {"bob", QByteArray("\001PING 1\0 2\001", 11), CtcpCode::Ping, std::nullopt},
        {overLong, "\001PING 1\001", CtcpCode::Version, std::nullopt},
        {overLong, "\001PING 1\001", CtcpCode::Source, std::nullopt},
        {overLong, "\001PING 1\001", CtcpCode::Time, std::nullopt},
        {overLong, "\001PING 1\001", CtcpCode::Ping, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<QByteArray> answer =
            irc::answerCtcpQuery(c.sender, c.text, c.code, kLocal);
        EXPECT_EQ(answer, c.answer) << show(c.sender) << " " << show(c.text) << " " << int(c.code)
                                    << " -> " << show(answer);
    }
    // A broken locale text is caught by the same last guard.
    const irc::CtcpLocalTime broken{1, "1/1\r\n", "1:00"};
    EXPECT_EQ(irc::answerCtcpQuery("bob", "\001TIME\001", CtcpCode::Time, broken), std::nullopt);
}

TEST(AnswerCtcpQuery, CutsALongPingEchoToOneLineKeepingTheFrame)
{
    const QByteArray sender = "somebody9";
    for (const int length : {450, 600, 5000}) {
        const QByteArray argument(length, '7');
        const auto answer =
            irc::answerCtcpQuery(sender, "\001PING " + argument + '\x01', CtcpCode::Ping, kLocal);
        ASSERT_TRUE(answer) << length;
        EXPECT_LE(answer->size() + 2, 512) << length;
        EXPECT_TRUE(answer->startsWith("NOTICE somebody9 :\001PING 777")) << length;
        EXPECT_TRUE(answer->endsWith("7\001")) << length;
        const qsizetype prefix = QByteArray("NOTICE somebody9 :\001PING ").size();
        const qsizetype echoed = answer->size() - prefix - 1;
        EXPECT_EQ(echoed, std::min<qsizetype>(length, 510 - prefix - 1)) << length;
    }
}

TEST(CtcpAnswerLimit, TwentyPerSecondForThreeSecondsThenRecovers)
{
    CtcpAnswerLimit limit;
    std::vector<qint64> answeredAt;
    int firstDrops = 0;
    int drops = 0;
    const auto feed = [&](qint64 now) {
        switch (limit.admit(now)) {
        case CtcpAnswerVerdict::Answered:
            answeredAt.push_back(now);
            break;
        case CtcpAnswerVerdict::DroppedFirst:
            ++firstDrops;
            break;
        case CtcpAnswerVerdict::Dropped:
            ++drops;
            break;
        }
    };
    for (qint64 now = 0; now < 3000; now += 50)
        feed(now);
    EXPECT_EQ(answeredAt, (std::vector<qint64>{0, 50, 100}));
    EXPECT_EQ(firstDrops, 1);
    EXPECT_EQ(drops, 56);

    // Five seconds after the first answer the window has room again; a new burst is noted anew.
    for (qint64 now = 4950; now <= 5150; now += 50)
        feed(now);
    EXPECT_EQ(answeredAt, (std::vector<qint64>{0, 50, 100, 5000, 5050, 5100}));
    EXPECT_EQ(firstDrops, 2);
}

TEST(CtcpAnswerLimit, NeverMoreThanThreeInAnyFiveSeconds)
{
    CtcpAnswerLimit limit;
    std::vector<qint64> answeredAt;
    for (qint64 now = 0; now < 30'000; now += 37) {
        if (limit.admit(now) == CtcpAnswerVerdict::Answered)
            answeredAt.push_back(now);
    }
    ASSERT_GE(answeredAt.size(), 15u);
    for (std::size_t i = 3; i < answeredAt.size(); ++i)
        EXPECT_GE(answeredAt[i] - answeredAt[i - 3], CtcpAnswerLimit::kWindowMs) << i;
}

TEST(CtcpAnswerLimit, AClockStepBackDoesNotSilenceAnswers)
{
    CtcpAnswerLimit limit;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(limit.admit(3'600'000), CtcpAnswerVerdict::Answered);
    EXPECT_EQ(limit.admit(3'600'001), CtcpAnswerVerdict::DroppedFirst);
    EXPECT_EQ(limit.admit(1000), CtcpAnswerVerdict::Answered);
}

TEST(ReadCtcpReply, ShowsTheFiveReplyKinds)
{
    struct Case
    {
        QByteArray text;
        CtcpCode code;
        std::optional<CtcpReplyBox> box;
    };
    const auto box = [](const char* title, const QString& text) {
        return std::optional<CtcpReplyBox>(CtcpReplyBox{QString::fromLatin1(title), text});
    };
    const std::vector<Case> cases = {
        {"\001VERSION Kivvo Version 2.0\001", CtcpCode::Version,
         box("Version Reply", "Kivvo Version 2.0")},
        {"\001FINGER bob (Bob) Idle 5\001", CtcpCode::Finger,
         box("Finger Reply", "bob (Bob) Idle 5")},
        {"\001TIME Tue Nov 14 22:13:20\001", CtcpCode::Time,
         box("Time Reply", "Tue Nov 14 22:13:20")},
        {"\001VERSION Kivvo\001 and more", CtcpCode::Version, box("Version Reply", "Kivvo")},
        {"\001VERSION %s%n%x\001", CtcpCode::Version, box("Version Reply", "%s%n%x")},
        {"\001VERSION caf\xc3\xa9\001", CtcpCode::Version,
         box("Version Reply", QString::fromUtf8("caf\xc3\xa9"))},
        {"\001VERSION caf\xe9\001", CtcpCode::Version,
         box("Version Reply", QString::fromUtf8("caf\xc3\xa9"))},
        // A blank and then the closing 0x01: an empty reply, still a reply.
        {"\001VERSION \001", CtcpCode::Version, box("Version Reply", "")},
        {"\001PING 997\001", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 3 seconds")},
        {"\001PING 1003\001", CtcpCode::Ping, box("Ping Reply", "Ping Reply - -3 seconds")},
        {"\001PING -5\001", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 1005 seconds")},
        {"\001PING   42xyz\001", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 958 seconds")},
        {"\001PING abc\001", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 1000 seconds")},
        {"\001PING \001", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 1000 seconds")},
        {"\001PING 99999999999999999999999999\001", CtcpCode::Ping,
         box("Ping Reply", "Ping Reply - -2305843009213692951 seconds")},
        {"\001TIME Tue Nov 14", CtcpCode::Time, std::nullopt},
        {"\001VERSION\001", CtcpCode::Version, std::nullopt},
        {"\001VERSION", CtcpCode::Version, std::nullopt},
        {"\001PING", CtcpCode::Ping, std::nullopt},
        {QByteArray("\001VERSION a\0b\001", 13), CtcpCode::Version, std::nullopt},
        {"", CtcpCode::Version, std::nullopt},
        {"\001USERINFO something\001", CtcpCode::UserInfo, std::nullopt},
        {"\001SOURCE https://kivvo.example.org/download/\001", CtcpCode::Source,
         box("Source Reply", "https://kivvo.example.org/download/")},
        {"\001CLIENTINFO x\001", CtcpCode::ClientInfo, std::nullopt},
        {"\001ENCRYPT x\001", CtcpCode::Encrypt, std::nullopt},
        {"plain notice", CtcpCode::None, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto shown = irc::readCtcpReply(c.text, c.code, 1000);
        EXPECT_EQ(shown, c.box) << show(c.text) << " -> "
                                << (shown ? shown->text.toStdString() : "(none)");
    }
}

TEST(ReadCtcpReply, CutsLongRepliesWithoutSplittingACharacter)
{
    const auto shown =
        irc::readCtcpReply("\001VERSION " + QByteArray(300, 'a') + '\x01', CtcpCode::Version, 0);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->text, QString(255, 'a'));

    // The 255th byte would cut an é in two, which would also spoil the decoding of the rest.
    const QByteArray utf8 = QByteArray(254, 'a') + "\xc3\xa9\xc3\xa9 more";
    const auto cut = irc::readCtcpReply("\001VERSION " + utf8 + '\x01', CtcpCode::Version, 0);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->text, QString(254, 'a'));

    const QByteArray latin1 = QByteArray(250, 'a') + QByteArray(10, '\xa9');
    const auto cutLatin1 =
        irc::readCtcpReply("\001VERSION " + latin1 + '\x01', CtcpCode::Version, 0);
    ASSERT_TRUE(cutLatin1);
    EXPECT_EQ(cutLatin1->text.size(), 252);
}

// The box says "From bob" on a line of its own above the reply: a reply may not add lines.
TEST(ReadCtcpReply, ShowsALineBreakInTheReplyAsItsEscape)
{
    for (const test::LineBreak& brk : test::kLineBreaks) {
        SCOPED_TRACE(brk.name);
        const auto shown = irc::readCtcpReply("\001VERSION " + test::forgedLine(brk) + '\x01',
                                              CtcpCode::Version, 0);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->text, test::shownText(brk));
    }
}

TEST(CtcpReplyBoxes, AllowsOneOpenBoxPerKind)
{
    irc::CtcpReplyBoxes boxes;
    EXPECT_TRUE(boxes.canShow(CtcpCode::Ping));
    boxes.markOpen(CtcpCode::Ping);
    EXPECT_FALSE(boxes.canShow(CtcpCode::Ping));
    EXPECT_TRUE(boxes.canShow(CtcpCode::Version));
    boxes.markOpen(CtcpCode::Version);
    boxes.markClosed(CtcpCode::Ping);
    EXPECT_TRUE(boxes.canShow(CtcpCode::Ping));
    EXPECT_FALSE(boxes.canShow(CtcpCode::Version));

    const auto outside = static_cast<CtcpCode>(40);
    boxes.markOpen(outside);
    EXPECT_TRUE(boxes.canShow(outside));
}

TEST(BuildCtcpQuery, SendsTheSixQueries)
{
    struct Case
    {
        irc::ContactQuery query;
        QByteArray line;
    };
    using Q = irc::ContactQuery;
    const Case cases[] = {
        {Q::Ping, "PRIVMSG bob :\001PING 1700000000\001"},
        {Q::Whois, "WHOIS bob"},
        {Q::Version, "PRIVMSG bob :\001VERSION\001"},
        {Q::Finger, "PRIVMSG bob :\001FINGER\001"},
        {Q::Time, "PRIVMSG bob :\001TIME\001"},
        {Q::Source, "PRIVMSG bob :\001SOURCE\001"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(irc::buildCtcpQuery(c.query, "bob", 1700000000), c.line) << int(c.query);
}

TEST(BuildCtcpQuery, RefusesNicksThatWouldBreakTheLine)
{
    const QByteArray nicks[] = {
        "", "bo b", "bob\r", "bob\n", "bob\r\nQUIT", QByteArray("b\0b", 3), ":bob"};
    for (const QByteArray& nick : nicks) {
        for (const irc::ContactQuery query : irc::kContactQueries)
            EXPECT_EQ(irc::buildCtcpQuery(query, nick, 1), std::nullopt) << show(nick);
    }
}

// What one Kivvo answers, another reads as the reply to its query.
TEST(CtcpAnswers, ReadBackAsRepliesByTheAsker)
{
    struct Case
    {
        QByteArray query;
        CtcpCode code;
        CtcpReplyBox box;
    };
    const std::vector<Case> cases = {
        {"\001VERSION\001",
         CtcpCode::Version,
         {"Version Reply", "Kivvo Version 2.0 https://kivvo.example.org/"}},
        {"\001SOURCE\001",
         CtcpCode::Source,
         {"Source Reply", "https://kivvo.example.org/download/"}},
        {"\001TIME\001", CtcpCode::Time, {"Time Reply", "11/14/2023 10:13:20 PM"}},
        {"\001PING 1699999990\001", CtcpCode::Ping, {"Ping Reply", "Ping Reply - 10 seconds"}},
    };
    for (const Case& c : cases) {
        const auto answer = irc::answerCtcpQuery("alice", c.query, c.code, kLocal);
        ASSERT_TRUE(answer) << show(c.query);
        const QByteArray head = "NOTICE alice :";
        ASSERT_TRUE(answer->startsWith(head)) << show(answer);
        const QByteArray trailing = answer->sliced(head.size());
        EXPECT_EQ(irc::ctcpCode(trailing), c.code) << show(answer);
        EXPECT_EQ(irc::readCtcpReply(trailing, c.code, kLocal.nowSeconds), c.box) << show(answer);
    }
}

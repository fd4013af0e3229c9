#include "irc/ctcp.h"

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

TEST(ClassifyCtcp, MatchesTheKeywordTableAsAPrefix)
{
    struct Case
    {
        std::optional<QByteArray> text;
        int code;
    };
    const Case cases[] = {
        {QByteArray("\x01"
                    "FINGER\x01"),
         1},
        {QByteArray("\x01VERSION\x01"), 2},
        {QByteArray("\x01SOURCE\x01"), 3},
        {QByteArray("\x01USERINFO\x01"), 4},
        {QByteArray("\x01"
                    "CLIENTINFO\x01"),
         5},
        {QByteArray("\x01"
                    "ERRMSG\x01"),
         6},
        {QByteArray("\x01PING 12345\x01"), 7},
        {QByteArray("\x01TIME\x01"), 8},
        {QByteArray("\x01"
                    "ENCRYPT key"),
         9},
        {QByteArray("\x01PING"), 7},
        {QByteArray("\x01PINGS"), 7},
        {QByteArray("\x01ping"), 0},
        {QByteArray("PING"), 0},
        {QByteArray(" \x01PING"), 0},
        {QByteArray("\x01PIN"), 0},
        {QByteArray("\x01"), 0},
        {QByteArray(""), 0},
        {QByteArray(), 0},
        {std::nullopt, 0},
        {QByteArray("\x01"
                    "ACTION waves\x01"),
         0},
        {QByteArray("\x01"
                    "DCC CHAT chat 1 2\x01"),
         0},
        {QByteArray("\x01PI\0NG", 6), 0},
        {QByteArray("\x01PING\0", 6), 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(irc::ClassifyCtcp(c.text), c.code) << show(c.text);
        EXPECT_EQ(irc::ctcpCode(c.text), static_cast<CtcpCode>(c.code)) << show(c.text);
    }
    EXPECT_EQ(irc::ClassifyCtcp("\x01TIME"), 8);
}

TEST(AnswerCtcpQuery, AnswersByteForByte)
{
    struct Case
    {
        QByteArray sender;
        QByteArray text;
        CtcpCode code;
        std::optional<QByteArray> answer;
    };
    const std::vector<Case> cases = {
        {"bob", "\x01VERSION\x01", CtcpCode::Version,
         QByteArray("NOTICE bob :Kivvo Version 2.0 https://kivvo.example.org/")},
        {"bob", "\x01SOURCE\x01", CtcpCode::Source,
         QByteArray("NOTICE bob :https://kivvo.example.org/download/")},
        {"bob", "\x01TIME\x01", CtcpCode::Time,
         QByteArray("NOTICE bob :\x01TIME 11/14/2023 10:13:20 PM\x01")},
        // The asker's own number comes back, so that it can measure its round trip.
        {"bob", "\x01PING 12345\x01", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 12345\x01")},
        {"bob", "\x01PING 1 2 3\x01", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 1 2 3\x01")},
        {"bob", "\x01PING 77", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 77\x01")},
        {"bob", "\x01PING 5\x01junk", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 5\x01")},
        {"bob", QByteArray("\x01PING 5\x01\0", 9), CtcpCode::Ping,
         QByteArray("NOTICE bob :\x01PING 5\x01")},
        // Without an argument there is nothing to echo: our clock instead.
        {"bob", "\x01PING\x01", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 1700000000\x01")},
        {"bob", "\x01PING", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 1700000000\x01")},
        {"bob", "\x01PING \x01", CtcpCode::Ping, QByteArray("NOTICE bob :\x01PING 1700000000\x01")},
        {"bob", "\x01PINGS 99\x01", CtcpCode::Ping,
         QByteArray("NOTICE bob :\x01PING 1700000000\x01")},
        // Peer text is never a format.
        {"bob", "\x01PING %s%n%x\x01", CtcpCode::Ping,
         QByteArray("NOTICE bob :\x01PING %s%n%x\x01")},
        {"%s%n%x", "\x01VERSION\x01", CtcpCode::Version,
         QByteArray("NOTICE %s%n%x :Kivvo Version 2.0 https://kivvo.example.org/")},
        {"bob",
         "\x01"
         "FINGER\x01",
         CtcpCode::Finger, std::nullopt},
        {"bob", "\x01USERINFO\x01", CtcpCode::UserInfo, std::nullopt},
        {"bob",
         "\x01"
         "CLIENTINFO\x01",
         CtcpCode::ClientInfo, std::nullopt},
        {"bob",
         "\x01"
         "ERRMSG x\x01",
         CtcpCode::ErrMsg, std::nullopt},
        {"bob",
         "\x01"
         "ENCRYPT k\x01",
         CtcpCode::Encrypt, std::nullopt},
        {"bob", "hello", CtcpCode::None, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(irc::answerCtcpQuery(c.sender, c.text, c.code, kLocal), c.answer)
            << show(c.text) << " -> "
            << show(irc::answerCtcpQuery(c.sender, c.text, c.code, kLocal));
    }
}

TEST(AnswerCtcpQuery, NeverPutsLineBreaksFromPeersOnTheWire)
{
    struct Case
    {
        QByteArray sender;
        QByteArray text;
        CtcpCode code;
    };
    const std::vector<Case> cases = {
        {"", "\x01VERSION\x01", CtcpCode::Version},
        {"bo b", "\x01VERSION\x01", CtcpCode::Version},
        {":bob", "\x01VERSION\x01", CtcpCode::Version},
        {"bob\r\nQUIT", "\x01VERSION\x01", CtcpCode::Version},
        {"bob\n", "\x01SOURCE\x01", CtcpCode::Source},
        {"bob\r", "\x01TIME\x01", CtcpCode::Time},
        {QByteArray("bo\0b", 4), "\x01PING\x01", CtcpCode::Ping},
        {"bob", "\x01PING 1\r\nQUIT :bye\x01", CtcpCode::Ping},
        {"bob", "\x01PING 1\nJOIN #x\x01", CtcpCode::Ping},
        {"bob", "\x01PING 1\r\x01", CtcpCode::Ping},
        {"bob", QByteArray("\x01PING 1\0 2\x01", 11), CtcpCode::Ping},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(irc::answerCtcpQuery(c.sender, c.text, c.code, kLocal), std::nullopt)
            << show(c.sender) << " " << show(c.text);
    }
    // A broken locale text is caught by the same last guard.
    const irc::CtcpLocalTime broken{1, "1/1\r\n", "1:00"};
    EXPECT_EQ(irc::answerCtcpQuery("bob", "\x01TIME\x01", CtcpCode::Time, broken), std::nullopt);
}

TEST(AnswerCtcpQuery, CutsALongPingEchoToOneLineKeepingTheFrame)
{
    const QByteArray sender = "somebody9";
    for (const int length : {450, 600, 5000}) {
        const QByteArray argument(length, '7');
        const auto answer =
            irc::answerCtcpQuery(sender, "\x01PING " + argument + '\x01', CtcpCode::Ping, kLocal);
        ASSERT_TRUE(answer) << length;
        EXPECT_LE(answer->size() + 2, 512) << length;
        EXPECT_TRUE(answer->startsWith("NOTICE somebody9 :\x01PING 777")) << length;
        EXPECT_TRUE(answer->endsWith("7\x01")) << length;
        const qsizetype prefix = QByteArray("NOTICE somebody9 :\x01PING ").size();
        const qsizetype echoed = answer->size() - prefix - 1;
        EXPECT_EQ(echoed, std::min<qsizetype>(length, 510 - prefix - 1)) << length;
    }
}

TEST(AnswerCtcpQuery, RefusesWhatCannotFitOneLine)
{
    const QByteArray sender(505, 'n');
    for (const CtcpCode code :
         {CtcpCode::Version, CtcpCode::Source, CtcpCode::Time, CtcpCode::Ping}) {
        EXPECT_EQ(irc::answerCtcpQuery(sender, "\x01PING 1\x01", code, kLocal), std::nullopt)
            << static_cast<int>(code);
    }
}

TEST(CtcpAnswerLimit, AnswersThreeOfABurstAndNotesTheFirstDrop)
{
    CtcpAnswerLimit limit;
    std::vector<CtcpAnswerVerdict> verdicts;
    for (int i = 0; i < 50; ++i)
        verdicts.push_back(limit.admit(1'000'000));
    std::vector<CtcpAnswerVerdict> expected(50, CtcpAnswerVerdict::Dropped);
    expected[0] = expected[1] = expected[2] = CtcpAnswerVerdict::Answered;
    expected[3] = CtcpAnswerVerdict::DroppedFirst;
    EXPECT_EQ(verdicts, expected);
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

TEST(ReadCtcpReply, ShowsTheFourReplyKinds)
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
        {"\x01VERSION Kivvo Version 2.0\x01", CtcpCode::Version,
         box("Version Reply", "Kivvo Version 2.0")},
        {"\x01"
         "FINGER bob (Bob) Idle 5\x01",
         CtcpCode::Finger, box("Finger Reply", "bob (Bob) Idle 5")},
        {"\x01TIME Tue Nov 14 22:13:20\x01", CtcpCode::Time,
         box("Time Reply", "Tue Nov 14 22:13:20")},
        {"\x01VERSION Kivvo\x01 and more", CtcpCode::Version, box("Version Reply", "Kivvo")},
        {"\x01VERSION %s%n%x\x01", CtcpCode::Version, box("Version Reply", "%s%n%x")},
        {"\x01VERSION caf\xc3\xa9\x01", CtcpCode::Version,
         box("Version Reply", QString::fromUtf8("caf\xc3\xa9"))},
        {"\x01VERSION caf\xe9\x01", CtcpCode::Version,
         box("Version Reply", QString::fromUtf8("caf\xc3\xa9"))},
        // A blank and then the closing 0x01: an empty reply, still a reply.
        {"\x01VERSION \x01", CtcpCode::Version, box("Version Reply", "")},
        {"\x01PING 997\x01", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 3 seconds")},
        {"\x01PING 1003\x01", CtcpCode::Ping, box("Ping Reply", "Ping Reply - -3 seconds")},
        {"\x01PING -5\x01", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 1005 seconds")},
        {"\x01PING   42xyz\x01", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 958 seconds")},
        {"\x01PING abc\x01", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 1000 seconds")},
        {"\x01PING \x01", CtcpCode::Ping, box("Ping Reply", "Ping Reply - 1000 seconds")},
        {"\x01PING 99999999999999999999999999\x01", CtcpCode::Ping,
         box("Ping Reply", "Ping Reply - -2305843009213692951 seconds")},
        {"\x01TIME Tue Nov 14", CtcpCode::Time, std::nullopt},
        {"\x01VERSION\x01", CtcpCode::Version, std::nullopt},
        {"\x01VERSION", CtcpCode::Version, std::nullopt},
        {"\x01PING", CtcpCode::Ping, std::nullopt},
        {QByteArray("\x01VERSION a\0b\x01", 13), CtcpCode::Version, std::nullopt},
        {"", CtcpCode::Version, std::nullopt},
        {"\x01USERINFO something\x01", CtcpCode::UserInfo, std::nullopt},
        {"\x01SOURCE there\x01", CtcpCode::Source, std::nullopt},
        {"\x01"
         "CLIENTINFO x\x01",
         CtcpCode::ClientInfo, std::nullopt},
        {"\x01"
         "ENCRYPT x\x01",
         CtcpCode::Encrypt, std::nullopt},
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
        irc::readCtcpReply("\x01VERSION " + QByteArray(300, 'a') + '\x01', CtcpCode::Version, 0);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->text, QString(255, 'a'));

    // The 255th byte would cut an é in two, which would also spoil the decoding of the rest.
    const QByteArray utf8 = QByteArray(254, 'a') + "\xc3\xa9\xc3\xa9 more";
    const auto cut = irc::readCtcpReply("\x01VERSION " + utf8 + '\x01', CtcpCode::Version, 0);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->text, QString(254, 'a'));

    const QByteArray latin1 = QByteArray(250, 'a') + QByteArray(10, '\xa9');
    const auto cutLatin1 =
        irc::readCtcpReply("\x01VERSION " + latin1 + '\x01', CtcpCode::Version, 0);
    ASSERT_TRUE(cutLatin1);
    EXPECT_EQ(cutLatin1->text.size(), 252);
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
        {Q::Ping, "PRIVMSG bob :\x01PING 1700000000\x01"},
        {Q::Whois, "WHOIS bob"},
        {Q::Version, "PRIVMSG bob :\x01VERSION\x01"},
        {Q::Finger, "PRIVMSG bob :\x01"
                    "FINGER\x01"},
        {Q::Time, "PRIVMSG bob :\x01TIME\x01"},
        {Q::Source, "PRIVMSG bob :\x01SOURCE\x01"},
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

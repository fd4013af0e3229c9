#include "irc/echo_match.h"
#include "irc/message.h"

#include <gtest/gtest.h>

namespace {

using Id = std::optional<quint64>;

irc::Message parsed(const QByteArray& line)
{
    // The messages view their lines, which must outlive them.
    static QList<QByteArray> lines;
    lines.append(line);
    return *irc::parseMessage(lines.back());
}

struct EchoCase
{
    const char* name;
    const char* line;
    Id expected;
};

// Pending: 1 "hi" to #c (label a), 2 "hi" to #c (label b), 3 "yo" to bob, 4 "hi" to #c.
TEST(PendingEchoes, MatchesAnEchoByLabelThenByTargetAndText)
{
    const EchoCase cases[] = {
        {"label first", "@label=b :me!u@h PRIVMSG #c :hi", 2},
        {"label over text", "@label=b :me!u@h PRIVMSG #c :something else", 2},
        {"oldest of equal text", ":me!u@h PRIVMSG #c :hi", 1},
        {"target without case", ":me!u@h PRIVMSG #C :hi", 1},
        {"own nick without case", ":ME!u@h PRIVMSG #c :hi", 1},
        {"unknown label falls back to text", "@label=zz :me!u@h PRIVMSG #c :hi", 1},
        {"private target", ":me!u@h PRIVMSG bob :yo", 3},
        {"notice echo", ":me!u@h NOTICE bob :yo", 3},
        {"ack of a labeled line", "@label=a :server ACK", 1},
        {"ack without label", ":server ACK", std::nullopt},
        {"someone else saying the same", ":other!u@h PRIVMSG #c :hi", std::nullopt},
        {"someone else with our label", "@label=a :other!u@h PRIVMSG #c :hi", std::nullopt},
        {"other text", ":me!u@h PRIVMSG #c :hi!", std::nullopt},
        {"other target", ":me!u@h PRIVMSG #d :hi", std::nullopt},
        {"not a message", ":me!u@h JOIN #c", std::nullopt},
        {"no text", ":me!u@h PRIVMSG #c", std::nullopt},
        {"no source", "PRIVMSG #c :hi", std::nullopt},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.name);
        irc::PendingEchoes pending;
        pending.sent(1, "#c", "hi", QByteArray("a"), 0);
        pending.sent(2, "#c", "hi", QByteArray("b"), 10);
        pending.sent(3, "bob", "yo", std::nullopt, 20);
        pending.sent(4, "#c", "hi", std::nullopt, 30);
        EXPECT_EQ(pending.echoed(parsed(c.line), "me"), c.expected);
        EXPECT_EQ(pending.size(), c.expected ? 3 : 4);
    }
}

TEST(PendingEchoes, DeliversEachLineOnce)
{
    irc::PendingEchoes pending;
    pending.sent(1, "#c", "hi", std::nullopt, 0);
    pending.sent(2, "#c", "hi", std::nullopt, 0);
    const irc::Message echo = parsed(":me!u@h PRIVMSG #c :hi");
    EXPECT_EQ(pending.echoed(echo, "me"), Id(1));
    EXPECT_EQ(pending.echoed(echo, "me"), Id(2));
    EXPECT_EQ(pending.echoed(echo, "me"), std::nullopt);
    EXPECT_EQ(pending.size(), 0);
}

TEST(PendingEchoes, MatchesRefusals)
{
    const EchoCase cases[] = {
        {"labeled numeric", "@label=b :srv 404 me #c :Cannot send to channel", 2},
        {"labeled FAIL", "@label=c :srv FAIL PRIVMSG INVALID_TARGET :no", 3},
        {"cannot send, oldest to that target", ":srv 404 me #c :Cannot send to channel", 1},
        {"no such nick", ":srv 401 me bob :No such nick", 3},
        {"no such nick, case", ":srv 401 me BOB :No such nick", 3},
        {"no such channel", ":srv 403 me #c :No such channel", 1},
        {"unrelated numeric", ":srv 433 me #c :Nickname in use", std::nullopt},
        {"other target", ":srv 404 me #d :Cannot send", std::nullopt},
        {"short numeric", ":srv 404 me", std::nullopt},
        {"a reply that is no error", ":srv 301 me bob :away", std::nullopt},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.name);
        irc::PendingEchoes pending;
        pending.sent(1, "#c", "hi", QByteArray("a"), 0);
        pending.sent(2, "#c", "ho", QByteArray("b"), 0);
        pending.sent(3, "bob", "yo", QByteArray("c"), 0);
        EXPECT_EQ(pending.refused(parsed(c.line)), c.expected);
    }
}

TEST(PendingEchoes, ExpiresAfterThirtySeconds)
{
    irc::PendingEchoes pending;
    pending.sent(1, "#c", "a", std::nullopt, 0);
    pending.sent(2, "#c", "b", std::nullopt, 10000);
    pending.sent(3, "#c", "c", std::nullopt, 20000);
    EXPECT_EQ(pending.expired(30000), QList<quint64>{}); // exactly 30 s is not longer
    EXPECT_EQ(pending.expired(30001), QList<quint64>{1});
    EXPECT_EQ(pending.expired(45000), QList<quint64>{2});
    EXPECT_EQ(pending.expired(45000), QList<quint64>{});
    EXPECT_EQ(pending.echoed(parsed(":me PRIVMSG #c :a"), "me"), std::nullopt);
    EXPECT_EQ(pending.echoed(parsed(":me PRIVMSG #c :c"), "me"), Id(3));
}

TEST(PendingEchoes, ExpiresALineSentBeforeAClockStepBack)
{
    irc::PendingEchoes pending;
    pending.sent(1, "#c", "a", std::nullopt, 100000);
    pending.sent(2, "#c", "b", std::nullopt, 1000);
    EXPECT_EQ(pending.expired(50000), QList<quint64>{2});
}

TEST(PendingEchoes, StaysBoundedUnderAFloodGivingUpTheOldest)
{
    irc::PendingEchoes pending;
    QList<quint64> givenUp;
    for (quint64 id = 1; id <= 1000; ++id) {
        if (const Id old = pending.sent(id, "#c", "spam", std::nullopt, qint64(id)))
            givenUp.append(*old);
    }
    EXPECT_EQ(pending.size(), irc::PendingEchoes::kMaxPending);
    ASSERT_EQ(givenUp.size(), 1000 - irc::PendingEchoes::kMaxPending);
    for (qsizetype i = 0; i < givenUp.size(); ++i)
        EXPECT_EQ(givenUp.at(i), quint64(i + 1));
    EXPECT_EQ(pending.echoed(parsed(":me PRIVMSG #c :spam"), "me"), Id(801));
}

} // namespace

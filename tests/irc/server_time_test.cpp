#include "irc/message.h"
#include "irc/server_time.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

struct TimeCase
{
    const char* value;
    std::optional<QDateTime> expected;
};

TEST(ServerTime, ReadsOnlyTheExactUtcFormWithMilliseconds)
{
    const TimeCase cases[] = {
        {"2011-10-19T16:40:51.620Z", utc(2011, 10, 19, 16, 40, 51, 620)},
        {"2024-02-29T23:59:59.999Z", utc(2024, 2, 29, 23, 59, 59, 999)},
        {"0001-01-01T00:00:00.000Z", utc(1, 1, 1, 0, 0, 0, 0)},
        {"9999-12-31T23:59:59.999Z", utc(9999, 12, 31, 23, 59, 59, 999)},
        {"2011-10-19T16:40:51Z", std::nullopt},      // no milliseconds
        {"2011-10-19T16:40:51.62Z", std::nullopt},   // two digits
        {"2011-10-19T16:40:51.6200Z", std::nullopt}, // four digits
        {"2011-10-19T16:40:51.620", std::nullopt},   // no zone
        {"2011-10-19T16:40:51.620+02:00", std::nullopt},
        {"2011-10-19 16:40:51.620Z", std::nullopt},
        {"2011-10-19t16:40:51.620z", std::nullopt},
        {"2011-13-19T16:40:51.620Z", std::nullopt}, // month 13
        {"2011-00-19T16:40:51.620Z", std::nullopt},
        {"2023-02-29T16:40:51.620Z", std::nullopt}, // not a leap year
        {"2011-04-31T16:40:51.620Z", std::nullopt},
        {"2011-10-00T16:40:51.620Z", std::nullopt},
        {"2011-10-19T24:00:00.000Z", std::nullopt},
        {"2011-10-19T16:60:51.620Z", std::nullopt},
        {"2011-10-19T16:40:60.620Z", std::nullopt}, // leap second
        {"0000-01-01T00:00:00.000Z", std::nullopt}, // no year zero
        {"+2011-10-19T16:40:51.62Z", std::nullopt},
        {"2011-1a-19T16:40:51.620Z", std::nullopt},
        {"-011-10-19T16:40:51.620Z", std::nullopt},
        {" 2011-10-19T16:40:51.620Z", std::nullopt},
        {"1318956051620", std::nullopt},
        {"", std::nullopt},
    };
    for (const TimeCase& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(irc::parseServerTime(c.value), c.expected);
    }
}

TEST(ServerTime, ComesFromTheTimeTagOfAParsedLine)
{
    struct LineCase
    {
        const char* line;
        std::optional<QDateTime> expected;
    };
    const LineCase cases[] = {
        {"@time=2011-10-19T16:40:51.620Z :n!u@h PRIVMSG #c :hi",
         utc(2011, 10, 19, 16, 40, 51, 620)},
        {"@msgid=x;time=2011-10-19T16:40:51.620Z;+typing=active :n TAGMSG #c",
         utc(2011, 10, 19, 16, 40, 51, 620)},
        // Escapes are undone before reading: "\s" is a blank, which the form does not allow.
        {"@time=2011-10-19T16:40:51.620Z\\s :n PRIVMSG #c :hi", std::nullopt},
        {"@time :n PRIVMSG #c :hi", std::nullopt},
        {"@time= :n PRIVMSG #c :hi", std::nullopt},
        {"@+time=2011-10-19T16:40:51.620Z :n PRIVMSG #c :hi", std::nullopt},
        {":n PRIVMSG #c :hi", std::nullopt},
        {"@time=yesterday :n PRIVMSG #c :hi", std::nullopt},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<irc::Message> message = irc::parseMessage(c.line);
        ASSERT_TRUE(message);
        EXPECT_EQ(irc::serverTime(*message), c.expected);
    }
}

TEST(ServerTime, RefusesAHugeTimeTagWithoutReadingIt)
{
    const QByteArray line = "@time=" + QByteArray(100000, '9') + " :n PRIVMSG #c :hi";
    const std::optional<irc::Message> message = irc::parseMessage(line);
    ASSERT_TRUE(message);
    EXPECT_EQ(irc::serverTime(*message), std::nullopt);
}

TEST(ServerTime, FormatsInUtcAndReadsBackTheSame)
{
    const QDateTime local(QDate(2011, 10, 19), QTime(18, 40, 51, 620), QTimeZone(2 * 3600));
    EXPECT_EQ(irc::formatServerTime(local), "2011-10-19T16:40:51.620Z");
    for (const QDateTime& time :
         {utc(2011, 10, 19, 16, 40, 51, 620), utc(1, 1, 1, 0, 0, 0, 0),
          utc(9999, 12, 31, 23, 59, 59, 999), utc(2024, 2, 29, 0, 0, 0, 7)}) {
        SCOPED_TRACE(time.toString(Qt::ISODateWithMs).toStdString());
        EXPECT_EQ(irc::parseServerTime(irc::formatServerTime(time)), time);
    }
}

TEST(ServerTime, FormatsNothingForATimeItCannotHold)
{
    EXPECT_EQ(irc::formatServerTime(QDateTime()), QByteArray());
    EXPECT_EQ(irc::formatServerTime(utc(10000, 1, 1, 0, 0, 0, 0)), QByteArray());
    EXPECT_EQ(irc::formatServerTime(utc(-5, 1, 1, 0, 0, 0, 0)), QByteArray());
}

} // namespace

#include "irc/server_time.h"

#include <QDate>
#include <QTime>
namespace irc {

namespace {

constexpr QByteArrayView kTimeTag = "time";
// "YYYY-MM-DDTHH:MM:SS.mmmZ"
constexpr QByteArrayView kShape = "dddd-dd-ddTdd:dd:dd.dddZ";

bool matchesShape(QByteArrayView value)
{
    if (value.size() != kShape.size())
        return false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i])
            return false;
    }
    return true;
}

int digits(QByteArrayView value, qsizetype from, qsizetype count)
{
    int n = 0;
    for (qsizetype i = from; i < from + count; ++i)
        n = n * 10 + (value[i] - '0');
    return n;
}

} // namespace

std::optional<QDateTime> parseServerTime(QByteArrayView value)
{
    if (!matchesShape(value))
        return std::nullopt;
    const QDate date(digits(value, 0, 4), digits(value, 5, 2), digits(value, 8, 2));
    // QTime refuses 24:00 and a leap second's :60 alike; neither can be placed in the log.
    const QTime time(digits(value, 11, 2), digits(value, 14, 2), digits(value, 17, 2),
                     digits(value, 20, 3));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

std::optional<QDateTime> serverTime(const Message& message)
{
    for (const Tag& tag : message.tags) {
        if (tag.key == kTimeTag)
            return parseServerTime(tag.value);
    }
    return std::nullopt;
}

QByteArray formatServerTime(const QDateTime& time)
{
    if (!time.isValid())
        return {};
    const QDateTime utc = time.toUTC();
    const int year = utc.date().year();
    if (year < 1 || year > 9999)
        return {};
    return utc.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toLatin1();
}

} // namespace irc

#include "irc/sts.h"

#include <QList>

#include <limits>

namespace irc {

namespace {

std::optional<qint64> number(QByteArrayView text, qint64 max)
{
    if (text.isEmpty() || text.size() > 12)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > max)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<StsValue> parseSts(QByteArrayView value)
{
    StsValue sts;
    // About 30 years: a longer policy is a broken one, and it must not overflow the expiry.
    constexpr qint64 kMaxDurationS = 30LL * 366 * 24 * 3600;
    for (const QByteArray& pair : value.toByteArray().split(',')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArrayView key = QByteArrayView(pair).first(equals < 0 ? pair.size() : equals);
        const QByteArrayView text =
            equals < 0 ? QByteArrayView() : QByteArrayView(pair).sliced(equals + 1);
        if (key == "port") {
            const std::optional<qint64> port = number(text, 65535);
            if (port && *port > 0)
                sts.port = quint16(*port);
        } else if (key == "duration") {
            sts.durationS = number(text, kMaxDurationS);
        }
    }
    if (!sts.port && !sts.durationS)
        return std::nullopt;
    return sts;
}

QByteArray StsPolicy::encode() const
{
    return QByteArray::number(port) + ' ' + QByteArray::number(expiresS);
}

std::optional<StsPolicy> StsPolicy::decode(const QByteArray& stored)
{
    const QList<QByteArray> words = stored.split(' ');
    if (words.size() != 2)
        return std::nullopt;
    const std::optional<qint64> port = number(words.at(0), 65535);
    const std::optional<qint64> expires =
        number(words.at(1), std::numeric_limits<qint64>::max() / 10);
    if (!port || *port == 0 || !expires)
        return std::nullopt;
    return StsPolicy{quint16(*port), *expires};
}

config::ServerEntry underPolicy(const config::ServerEntry& entry,
                                const std::optional<StsPolicy>& policy, qint64 nowS)
{
    if (entry.tls || !policy || policy->expiresS <= nowS)
        return entry;
    config::ServerEntry secure = entry;
    secure.tls = true;
    secure.port = policy->port;
    return secure;
}

} // namespace irc

#pragma once

#include "config/settings.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace irc {

// A server's "sts" capability value ("port=6697,duration=2592000"): over a plain link the port
// to come back on with TLS; over TLS how long (seconds) to keep coming back that way.
struct StsValue
{
    std::optional<quint16> port;
    std::optional<qint64> durationS;

    friend bool operator==(const StsValue& a, const StsValue& b)
    {
        return a.port == b.port && a.durationS == b.durationS;
    }
};
// Nothing when the value names neither a valid port nor a valid duration; unknown keys are
// skipped, as the extension asks.
std::optional<StsValue> parseSts(QByteArrayView value);

// A remembered policy: the TLS port and when the policy runs out (seconds since the epoch).
struct StsPolicy
{
    quint16 port = 0;
    qint64 expiresS = 0;

    QByteArray encode() const;
    static std::optional<StsPolicy> decode(const QByteArray& stored);
    friend bool operator==(const StsPolicy& a, const StsPolicy& b)
    {
        return a.port == b.port && a.expiresS == b.expiresS;
    }
};

// The entry to connect to for `entry`: a plain entry under a policy still in force goes over TLS
// to the policy's port; anything else as it is.
config::ServerEntry underPolicy(const config::ServerEntry& entry,
                                const std::optional<StsPolicy>& policy, qint64 nowS);

} // namespace irc

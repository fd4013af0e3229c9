#include "irc/capabilities.h"

#include <algorithm>
#include <array>
#include <utility>

namespace irc {

namespace {

constexpr std::array<std::pair<const char*, Capability>, 10> kNames{{
    {"message-tags", Capability::MessageTags},
    {"server-time", Capability::ServerTime},
    {"echo-message", Capability::EchoMessage},
    {"labeled-response", Capability::LabeledResponse},
    {"batch", Capability::Batch},
    {"away-notify", Capability::AwayNotify},
    {"account-notify", Capability::AccountNotify},
    {"extended-monitor", Capability::ExtendedMonitor},
    {"chathistory", Capability::ChatHistory},
    {"draft/chathistory", Capability::ChatHistory},
}};

QByteArrayView bareName(QByteArrayView offered)
{
    const qsizetype equals = offered.indexOf('=');
    return equals < 0 ? offered : offered.first(equals);
}

} // namespace

std::optional<Capability> capabilityNamed(QByteArrayView name)
{
    const QByteArrayView bare = bareName(name);
    for (const auto& [known, capability] : kNames) {
        if (bare == known)
            return capability;
    }
    return std::nullopt;
}

QList<QByteArray> wantedCapabilities(const QList<QByteArray>& offered)
{
    QList<QByteArray> wanted;
    Capabilities taken;
    const bool finalHistory = std::any_of(offered.begin(), offered.end(), [](const QByteArray& o) {
        return bareName(o) == "chathistory";
    });
    for (const QByteArray& name : offered) {
        const QByteArrayView bare = bareName(name);
        const std::optional<Capability> capability = capabilityNamed(bare);
        if (!capability || taken.has(*capability))
            continue;
        if (bare == "draft/chathistory" && finalHistory)
            continue;
        taken.add(*capability);
        wanted << bare.toByteArray();
    }
    return wanted;
}

} // namespace irc

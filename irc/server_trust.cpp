#include "irc/server_trust.h"

namespace irc {

namespace {

QByteArray pinName(const config::ServerEntry& server)
{
    return server.address + ':' + QByteArray::number(server.port);
}

} // namespace

ServerTrust::Verdict ServerTrust::judge(const std::optional<QByteArray>& pin,
                                        const QByteArray& presented)
{
    if (!pin)
        return Verdict::Unknown;
    return *pin == presented ? Verdict::Pinned : Verdict::Changed;
}

std::optional<QByteArray> ServerTrust::pin(const config::ServerEntry& server) const
{
    std::optional<QByteArray> pin = m_keeper.read ? m_keeper.read(server) : std::nullopt;
    if (!pin && m_unsavedPins.contains(pinName(server)))
        pin = m_unsavedPins.value(pinName(server));
    return pin;
}

bool ServerTrust::trust(const config::ServerEntry& server, const QByteArray& fingerprint)
{
    if (m_keeper.write && m_keeper.write(server, fingerprint))
        return true;
    m_unsavedPins.insert(pinName(server), fingerprint);
    return false;
}

} // namespace irc

#include "irc/server_trust.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/texts.h"

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
    std::optional<QByteArray> pin = m_store.certificatePin(server);
    if (!pin && m_unsavedPins.contains(pinName(server)))
        pin = m_unsavedPins.value(pinName(server));
    return pin;
}

void ServerTrust::trust(const config::ServerEntry& server, const QByteArray& fingerprint)
{
    if (m_store.pinCertificate(server, fingerprint))
        return;
    diag::DebugLog(
        QString::fromLatin1(text::kLogPinNotSaved).arg(QString::fromUtf8(server.address)));
    m_unsavedPins.insert(pinName(server), fingerprint);
}

} // namespace irc

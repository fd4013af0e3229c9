#pragma once

#include "peer/common/chat_host.h"
#include "peer/link/dcc_tls.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

namespace bench {

// The program's side of a transfer without a server: keeps the offer line it would have sent,
// logs nothing, offers 127.0.0.1, and with an identity makes its links private.
class OfferHost : public peer::ChatHost
{
public:
    explicit OfferHost(QByteArray nick = "alice")
        : m_nick(std::move(nick))
    {}
    QByteArray nickInUse() const override { return m_nick; }
    bool sendServerLine(const QByteArray& line) override
    {
        offer = line;
        return true;
    }
    bool loggingOn() const override { return false; }
    std::optional<QString> installDir() const override { return std::nullopt; }
    quint32 offerAddress() const override { return 0x7F000001; }
    bool privateLinks() const override { return identity.has_value(); }
    const peer::TlsIdentity* tlsIdentity() override { return identity ? &*identity : nullptr; }
    bool pinPeer(const QByteArray&, const QByteArray&, peer::PinKind) override { return true; }

    QByteArray offer;
    std::optional<peer::TlsIdentity> identity;

private:
    QByteArray m_nick;
};

} // namespace bench

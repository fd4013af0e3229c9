#include "app/peer_services.h"

#include "app/contact_pins.h"
#include "app/texts.h"
#include "config/paths.h"
#include "config/settings.h"
#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/dcc_offer.h"
#include "irc/server_events.h"
#include "irc/server_link.h"

#include <QDir>
#include <QHostAddress>
#include <QHostInfo>

namespace app {

PeerServices::PeerServices(irc::ServerLink& link, irc::ServerEvents& events,
                           const config::Store& store, const config::Settings& settings,
                           ContactPins& pins, const peer::NickRule& nicks, MenuBarMaker menuBars,
                           QObject* parent)
    : QObject(parent)
    , m_link(link)
    , m_store(store)
    , m_settings(settings)
    , m_pins(pins)
    , m_nicks(nicks)
    , m_menuBars(std::move(menuBars))
{
    connect(&events, &irc::ServerEvents::ownHost, this, &PeerServices::resolveOwnHost);
}

void PeerServices::resolveOwnHost(QByteArrayView host)
{
    // Resolved in the background: the GUI never waits for a name server.
    QHostInfo::lookupHost(QString::fromUtf8(host), this, [this](const QHostInfo& info) {
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                m_serverSeenAddress = address.toIPv4Address();
                return;
            }
        }
    });
}

QByteArray PeerServices::nickInUse() const
{
    return m_link.nickInUse();
}

bool PeerServices::serverLinkUp() const
{
    return m_link.isConnected();
}

bool PeerServices::sendServerLine(const QByteArray& line)
{
    return m_link.sendLine(line);
}

bool PeerServices::loggingOn() const
{
    return m_settings.logging;
}

QList<QByteArray> PeerServices::contactNicks() const
{
    return m_store.EnumContacts();
}

std::optional<QString> PeerServices::installDir() const
{
    return m_store.GetInstallDir();
}

bool PeerServices::passiveOffers() const
{
    return m_settings.passivedcc;
}

bool PeerServices::privateLinks() const
{
    return m_settings.privatedcc;
}

quint32 PeerServices::offerAddress() const
{
    const QHostAddress local = m_link.localAddress();
    bool ok = false;
    const quint32 ipv4 = local.toIPv4Address(&ok);
    return irc::GetLocalAddress(m_settings.queryip, m_serverSeenAddress,
                                ok ? std::optional<quint32>(ipv4) : std::nullopt);
}

QByteArray PeerServices::offerAddressField() const
{
    // Over IPv6 the peer reaches us at the address our server link uses; the address a WHO
    // reply resolves to is IPv4 only.
    const QHostAddress local = m_link.localAddress();
    bool isV4 = false;
    local.toIPv4Address(&isV4);
    if (!m_settings.queryip && !isV4 && local.protocol() == QAbstractSocket::IPv6Protocol)
        return irc::offerAddressField(local);
    return QByteArray::number(offerAddress());
}

const peer::TlsIdentity* PeerServices::tlsIdentity()
{
    if (!m_tlsIdentityTried) {
        m_tlsIdentityTried = true;
        QString note;
        m_tlsIdentity = peer::loadOrMakeTlsIdentity(
            QDir(config::configDir()).filePath(QStringLiteral("dcc-identity.pem")), &note);
        if (!note.isEmpty())
            diag::DebugLog(note);
        if (m_tlsIdentity)
            diag::DebugLog(QString::fromLatin1(text::kLogPrivateLinkCertificate)
                               .arg(peer::displayFingerprint(
                                   peer::certificateFingerprint(m_tlsIdentity->certificate))));
    }
    return m_tlsIdentity ? &*m_tlsIdentity : nullptr;
}

std::optional<QByteArray> PeerServices::peerPin(const QByteArray& nick)
{
    const std::optional<config::PeerPin> pin = m_pins.find(nick);
    return pin ? std::optional(pin->fingerprint) : std::nullopt;
}

bool PeerServices::peerPinCompared(const QByteArray& nick)
{
    const std::optional<config::PeerPin> pin = m_pins.find(nick);
    return pin && pin->kind == config::PeerPinKind::Compared;
}

bool PeerServices::pinPeer(const QByteArray& nick, const QByteArray& fingerprint, peer::PinKind how)
{
    switch (how) {
    case peer::PinKind::FirstSeen:
        return m_pins.pin(nick, fingerprint, config::PeerPinKind::FirstSeen);
    case peer::PinKind::Accepted:
        return m_pins.pin(nick, fingerprint, config::PeerPinKind::Accepted);
    case peer::PinKind::Compared:
        return m_pins.markCompared(nick, fingerprint);
    }
    return false;
}

QWidget* PeerServices::makeMenuBar(QWidget* parent, const QByteArray& peer)
{
    return m_menuBars ? m_menuBars(parent, peer) : nullptr;
}

} // namespace app

// What the chats, transfers and voice chats ask of the program (peer::ChatHost).
#include "app/contact_pins.h"
#include "app/program.h"
#include "config/paths.h"
#include "diag/debug_log.h"
#include "irc/dcc_offer.h"
#include "peer/chat/chat_window.h"
#include "peer/link/dcc_tls.h"

#include <QApplication>
#include <QDir>
#include <QHostAddress>

namespace app {

QByteArray Program::nickInUse() const
{
    return m_link.nickInUse();
}

bool Program::sendServerLine(const QByteArray& line)
{
    return m_link.sendLine(line);
}

bool Program::loggingOn() const
{
    return m_settings.logging;
}

std::optional<QString> Program::installDir() const
{
    return m_store.GetInstallDir();
}

quint32 Program::offerAddress() const
{
    const QHostAddress local = m_link.localAddress();
    bool ok = false;
    const quint32 ipv4 = local.toIPv4Address(&ok);
    return irc::GetLocalAddress(m_settings.queryip, m_serverSeenAddress,
                                ok ? std::optional<quint32>(ipv4) : std::nullopt);
}

QByteArray Program::offerAddressField() const
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

const peer::TlsIdentity* Program::tlsIdentity()
{
    if (!m_tlsIdentityTried) {
        m_tlsIdentityTried = true;
        QString note;
        m_tlsIdentity = peer::loadOrMakeTlsIdentity(
            QDir(config::configDir()).filePath(QStringLiteral("dcc-identity.pem")), &note);
        if (!note.isEmpty())
            diag::DebugLog(note);
        if (m_tlsIdentity)
            diag::DebugLog(QStringLiteral("Certificate for private links: %1")
                               .arg(peer::displayFingerprint(
                                   peer::certificateFingerprint(m_tlsIdentity->certificate))));
    }
    return m_tlsIdentity ? &*m_tlsIdentity : nullptr;
}

std::optional<QByteArray> Program::peerPin(const QByteArray& nick)
{
    const std::optional<config::PeerPin> pin = m_pins.find(nick);
    return pin ? std::optional(pin->fingerprint) : std::nullopt;
}

bool Program::peerPinCompared(const QByteArray& nick)
{
    const std::optional<config::PeerPin> pin = m_pins.find(nick);
    return pin && pin->kind == config::PeerPinKind::Compared;
}

bool Program::pinPeer(const QByteArray& nick, const QByteArray& fingerprint, peer::PinKind how)
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

const QWidget* Program::chatWindowInUse(const QByteArray& nick) const
{
    // A chat's menu bar names its peer, and the click on it made that chat the active window.
    const auto* chat = qobject_cast<const peer::ChatWindow*>(QApplication::activeWindow());
    return chat && m_nicks.same(chat->session().nick, nick) ? chat : nullptr;
}

} // namespace app

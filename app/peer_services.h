#pragma once

#include "peer/common/chat_host.h"
#include "peer/link/dcc_tls.h"

#include <QObject>

#include <functional>
#include <optional>

namespace config {
class Store;
struct Settings;
} // namespace config

namespace irc {
class ServerEvents;
class ServerLink;
} // namespace irc

namespace app {

class ContactPins;

// What the chats, transfers and voice chats ask of the rest of the program: the nick in use and
// the link, logging, the install folder, the address to put in an offer (learnt from the WHO
// reply about us, resolved without blocking), this installation's certificate and the contacts'
// pins, and the menu bar of a chat window.
class PeerServices : public QObject, public peer::ChatHost
{
    Q_OBJECT

public:
    using MenuBarMaker = std::function<QWidget*(QWidget* parent, const QByteArray& peer)>;

    PeerServices(irc::ServerLink& link, irc::ServerEvents& events, const config::Store& store,
                 const config::Settings& settings, ContactPins& pins, const peer::NickRule& nicks,
                 MenuBarMaker menuBars, QObject* parent = nullptr);

    // Our IPv4 address as the server sees it, host byte order; 0 until the WHO reply resolves.
    quint32 serverSeenAddress() const { return m_serverSeenAddress; }

    QByteArray nickInUse() const override;
    bool sendServerLine(const QByteArray& line) override;
    bool serverLinkUp() const override;
    bool loggingOn() const override;
    QList<QByteArray> contactNicks() const override;
    const peer::NickRule& nicks() const override { return m_nicks; }
    std::optional<QString> installDir() const override;
    quint32 offerAddress() const override;
    QByteArray offerAddressField() const override;
    bool passiveOffers() const override;
    bool privateLinks() const override;
    const peer::TlsIdentity* tlsIdentity() override;
    std::optional<QByteArray> peerPin(const QByteArray& nick) override;
    bool peerPinCompared(const QByteArray& nick) override;
    bool pinPeer(const QByteArray& nick, const QByteArray& fingerprint, peer::PinKind how) override;
    QWidget* makeMenuBar(QWidget* parent, const QByteArray& peer) override;

private:
    void resolveOwnHost(QByteArrayView host);

    irc::ServerLink& m_link;
    const config::Store& m_store;
    // The program's settings, read as they are when asked.
    const config::Settings& m_settings;
    ContactPins& m_pins;
    const peer::NickRule& m_nicks;
    MenuBarMaker m_menuBars;
    quint32 m_serverSeenAddress = 0;
    // Made or read at the first private link, not at every start.
    std::optional<peer::TlsIdentity> m_tlsIdentity;
    bool m_tlsIdentityTried = false;
};

} // namespace app

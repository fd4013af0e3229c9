#pragma once

#include "peer/common/nick_rule.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

class QWidget;

namespace peer {

struct TlsIdentity;

// How a contact's pin came to be.
enum class PinKind {
    FirstSeen, // we connected to the address the server relayed; nobody compared
    Accepted,  // the user accepted the certificate of a link we listened for
    Compared,  // the two users compared the link's fingerprints and said they matched
};

// How long a direct link waits on the network before it gives up.
struct LinkTimeouts
{
    // An offer's listening socket, for the peer to connect.
    std::chrono::milliseconds listen = std::chrono::minutes(3);
    // A private link's TLS handshake (with the connect before it, on the connecting side).
    std::chrono::milliseconds handshake = std::chrono::seconds(30);
};

// What chats need from the rest of the program: the server link, the nick in use, the logging
// setting, the clock, the address to offer, and the window's bar of commands. The program
// implements it; tests script it.
class ChatHost
{
public:
    virtual ~ChatHost() = default;

    virtual QByteArray nickInUse() const = 0;
    // Whether the server link is up, to say why a line did not go out.
    virtual bool serverLinkUp() const { return true; }
    // One line to the server without CR LF; false when it could not go out.
    virtual bool sendServerLine(const QByteArray& line) = 0;
    virtual bool loggingOn() const = 0;
    virtual std::optional<QString> installDir() const = 0;
    virtual QDateTime nowUtc() const { return QDateTime::currentDateTimeUtc(); }
    // How nicks are compared: by the server's rule once it has said.
    virtual const NickRule& nicks() const
    {
        static const NickRule unsaid;
        return unsaid;
    }
    // The user's contacts: they may open chat windows beyond the bound on strangers.
    virtual QList<QByteArray> contactNicks() const { return {}; }
    // Our IPv4 address as a direct-chat offer names it, host byte order; 0 when unknown.
    virtual quint32 offerAddress() const { return 0; }
    // The address field of our offers: IPv4 as a decimal, or an IPv6 literal when the server
    // link runs over IPv6.
    virtual QByteArray offerAddressField() const { return QByteArray::number(offerAddress()); }
    // Our chat and file offers are passive (the peer listens), for users behind NAT.
    virtual bool passiveOffers() const { return false; }
    // Our chat and file offers run TLS (SCHAT / SSEND).
    virtual bool privateLinks() const { return false; }
    // This installation's certificate for private links; null when there is none.
    virtual const TlsIdentity* tlsIdentity() { return nullptr; }
    // The certificate fingerprint pinned for a contact's private links. Not const: a pin found
    // under an older spelling of the nick may be moved to the one it is kept under now.
    virtual std::optional<QByteArray> peerPin(const QByteArray& /*nick*/) { return std::nullopt; }
    // Whether the contact's pin is one the two users compared: only such a link may vouch for a
    // key.
    virtual bool peerPinCompared(const QByteArray& /*nick*/) { return false; }
    virtual bool pinPeer(const QByteArray& /*nick*/, const QByteArray& /*fingerprint*/,
                         PinKind /*how*/)
    {
        return false;
    }
    virtual LinkTimeouts linkTimeouts() const { return {}; }
    // The strip of image buttons of a chat window, each acting on `peer`; none when the program
    // offers no commands to chats.
    virtual QWidget* makeMenuBar(QWidget* /*parent*/, const QByteArray& /*peer*/)
    {
        return nullptr;
    }
};

} // namespace peer

#pragma once

#include <QList>
#include <QSslConfiguration>
#include <QTcpServer>

#include <optional>

namespace peer {

class ChatHost;

// Listens for the peer of an offer and hands it out on a socket of the kind the link needs:
// unbuffered, so that file data goes from our buffer to the kernel without a second copy; or
// TLS, the handshake begun as the serving side (the side that listens serves).
class PeerServer : public QTcpServer
{
public:
    enum class Buffering { Buffered, Unbuffered };

    explicit PeerServer(QObject* parent, Buffering buffering = Buffering::Buffered,
                        std::optional<QSslConfiguration> tls = std::nullopt);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    Buffering m_buffering;
    std::optional<QSslConfiguration> m_tls;
};

// Makes `server` listen for the peer of an offer on the first of `ports` that can be bound,
// on IPv6 and IPv4 alike where the machine has both, noting each port that cannot in the debug
// window. The port, or nothing when none could.
std::optional<quint16> listenForPeer(QTcpServer& server, const QList<quint16>& ports);

// A server of `parent` for the peer of an offer, listening as above: for a private link (with
// `privateHost`) TLS with that host's identity. Null when no port can be bound or a private
// link has no identity.
PeerServer* listenForOffer(QObject* parent, PeerServer::Buffering buffering, ChatHost* privateHost,
                           const QList<quint16>& ports);

} // namespace peer

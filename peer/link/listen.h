#pragma once

#include "peer/common/chat_host.h"

#include <QByteArray>
#include <QList>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <optional>

class QSslSocket;

namespace peer {

// Listens for the peer of an offer and hands it out on a socket of the kind the link needs:
// unbuffered, so that file data goes from our buffer to the kernel without a second copy; or
// TLS, the handshake begun as the serving side (the side that listens serves).
//
// A plain link has no way to tell the peer from anyone else who found the port: the first to
// connect is handed out. A private one is handed out only once its handshake has ended with a
// certificate the contact's pin allows (or with one to ask the user about, when there is no pin
// yet); a connection that stalls, fails or shows another certificate is dropped, with a note in
// the debug window, and the server goes on listening for the real peer until it expires. A few
// handshakes may run at once, so that one stalled stranger does not keep the peer waiting.
class PeerServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class Buffering { Buffered, Unbuffered };
    static constexpr int kMaxHandshakes = 4;

    explicit PeerServer(QObject* parent, Buffering buffering = Buffering::Buffered);
    ~PeerServer() override;

    // TLS with `tls`, each peer judged by `nick`'s pin in `host`.
    void makePrivate(ChatHost& host, const QByteArray& nick, const QSslConfiguration& tls);
    // Stops listening `timeout` from now, unless a peer has been handed out by then; expired()
    // says so.
    void expireAfter(std::chrono::milliseconds timeout);
    std::chrono::milliseconds expiry() const { return m_expiry; }

signals:
    // Nobody was handed out in time; the server no longer listens.
    void expired();

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    // `socket` is the one handed out.
    void claim(QTcpSocket* socket);
    // Ends every handshake still running, but the one of `except`.
    void dropHandshakes(const QTcpSocket* except);
    void startPrivate(QSslSocket* socket);

    Buffering m_buffering;
    ChatHost* m_host = nullptr;
    QByteArray m_nick;
    std::optional<QSslConfiguration> m_tls;
    int m_handshakes = 0;
    QTimer m_expiryTimer;
    std::chrono::milliseconds m_expiry{0};
};

// Makes `server` listen for the peer of an offer on the first of `ports` that can be bound,
// on IPv6 and IPv4 alike where the machine has both, noting each port that cannot in the debug
// window. The port, or nothing when none could.
std::optional<quint16> listenForPeer(QTcpServer& server, const QList<quint16>& ports);

// How an offer's server listens.
struct PeerListen
{
    PeerServer::Buffering buffering = PeerServer::Buffering::Buffered;
    // A private link: TLS with this host's identity, the peer judged by `nick`'s pin.
    ChatHost* privateHost = nullptr;
    QByteArray nick;
    std::chrono::milliseconds expiry = LinkTimeouts().listen;
};

// A server of `parent` for the peer of an offer, listening as above and expiring as `how` says.
// Null when no port can be bound or a private link has no identity.
PeerServer* listenForOffer(QObject* parent, const PeerListen& how, const QList<quint16>& ports);

} // namespace peer

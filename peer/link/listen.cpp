#include "peer/link/listen.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "peer/common/chat_host.h"
#include "peer/link/dcc_tls.h"
#include "peer/link/private_link.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace peer {

PeerServer::PeerServer(QObject* parent, Buffering buffering)
    : QTcpServer(parent)
    , m_buffering(buffering)
{
    m_expiryTimer.setSingleShot(true);
    connect(&m_expiryTimer, &QTimer::timeout, this, [this] {
        close();
        // Handshakes still running belong to nobody now.
        dropHandshakes(nullptr);
        emit expired();
    });
}

PeerServer::~PeerServer()
{
    // Before the members go: a socket dying later would still report to them.
    dropHandshakes(nullptr);
}

void PeerServer::dropHandshakes(const QTcpSocket* except)
{
    for (QSslSocket* socket : findChildren<QSslSocket*>(Qt::FindDirectChildrenOnly)) {
        if (socket == except)
            continue;
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
    }
}

void PeerServer::makePrivate(ChatHost& host, const QByteArray& nick, const QSslConfiguration& tls)
{
    m_host = &host;
    m_nick = nick;
    m_tls = tls;
}

void PeerServer::expireAfter(std::chrono::milliseconds timeout)
{
    m_expiry = timeout;
    m_expiryTimer.start(timeout);
}

void PeerServer::incomingConnection(qintptr descriptor)
{
    if (m_tls) {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_handshakes >= kMaxHandshakes) {
            diag::DebugLog(
                QStringLiteral("Private offer to %1: refused a connection from %2, "
                               "%3 handshakes are running already")
                    .arg(diag::decodeServerText(m_nick), socket->peerAddress().toString())
                    .arg(kMaxHandshakes));
            socket->abort();
            socket->deleteLater();
            return;
        }
        startPrivate(socket);
        return;
    }
    auto* socket = new QTcpSocket(this);
    const QIODevice::OpenMode mode = m_buffering == Buffering::Unbuffered
                                         ? QIODevice::ReadWrite | QIODevice::Unbuffered
                                         : QIODevice::ReadWrite;
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, mode)) {
        delete socket;
        return;
    }
    // QTcpServer announces it once this returns.
    claim(socket);
    addPendingConnection(socket);
}

void PeerServer::startPrivate(QSslSocket* socket)
{
    ++m_handshakes;
    socket->setSslConfiguration(*m_tls);
    // The verdict is reached again by the link that takes the socket; here it only decides
    // whether the socket is worth handing out.
    watchPrivateLink(*socket, *m_host, m_nick, [this, socket](const PrivateLinkResult& result) {
        --m_handshakes;
        if (result.verdict == PrivateLinkResult::Verdict::Refused) {
            // Not the peer, or not in time: the offer still waits for the one it was made to.
            socket->deleteLater();
            return;
        }
        claim(socket);
        addPendingConnection(socket);
        emit newConnection();
    });
    socket->startServerEncryption();
}

void PeerServer::claim(QTcpSocket* socket)
{
    // One peer per offer: the listening socket goes as soon as it has served, and so do the
    // handshakes of whoever else connected.
    m_expiryTimer.stop();
    // The taker closes the server; until it has taken the socket, nobody else is let in.
    pauseAccepting();
    dropHandshakes(socket);
}

std::optional<quint16> listenForPeer(QTcpServer& server, const QList<quint16>& ports)
{
    for (const quint16 port : ports) {
        // Both families on one socket; a machine without IPv6 still has IPv4.
        if (server.listen(QHostAddress::Any, port) || server.listen(QHostAddress::AnyIPv4, port))
            return server.serverPort();
        diag::DebugLog(QStringLiteral("bind() error"));
    }
    return std::nullopt;
}

PeerServer* listenForOffer(QObject* parent, const PeerListen& how, const QList<quint16>& ports)
{
    auto* server = new PeerServer(parent, how.buffering);
    if (how.privateHost) {
        const TlsIdentity* identity = how.privateHost->tlsIdentity();
        if (!identity) {
            delete server;
            return nullptr;
        }
        server->makePrivate(*how.privateHost, how.nick, directLinkTls(*identity));
    }
    if (!listenForPeer(*server, ports)) {
        delete server;
        return nullptr;
    }
    server->expireAfter(how.expiry);
    return server;
}

} // namespace peer

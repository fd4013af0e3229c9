#include "peer/listen.h"

#include "diag/debug_log.h"
#include "peer/chat_host.h"
#include "peer/dcc_tls.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace peer {

PeerServer::PeerServer(QObject* parent, Buffering buffering, std::optional<QSslConfiguration> tls)
    : QTcpServer(parent)
    , m_buffering(buffering)
    , m_tls(std::move(tls))
{}

void PeerServer::incomingConnection(qintptr descriptor)
{
    if (m_tls) {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setSslConfiguration(*m_tls);
        addPendingConnection(socket);
        socket->startServerEncryption();
        return;
    }
    auto* socket = new QTcpSocket(this);
    const QIODevice::OpenMode mode = m_buffering == Buffering::Unbuffered
                                         ? QIODevice::ReadWrite | QIODevice::Unbuffered
                                         : QIODevice::ReadWrite;
    if (socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, mode))
        addPendingConnection(socket);
    else
        delete socket;
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

PeerServer* listenForOffer(QObject* parent, PeerServer::Buffering buffering, ChatHost* privateHost,
                           const QList<quint16>& ports)
{
    std::optional<QSslConfiguration> tls;
    if (privateHost) {
        const TlsIdentity* identity = privateHost->tlsIdentity();
        if (!identity)
            return nullptr;
        tls = directLinkTls(*identity);
    }
    auto* server = new PeerServer(parent, buffering, tls);
    if (!listenForPeer(*server, ports)) {
        delete server;
        return nullptr;
    }
    return server;
}

} // namespace peer

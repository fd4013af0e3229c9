#include "peer/link/dcc_endpoint.h"

#include "peer/common/chat_host.h"
#include "peer/link/private_link.h"

#include <QRandomGenerator>
#include <QSslSocket>
#include <QTcpSocket>

namespace peer {

DccEndpoint::DccEndpoint(QObject* owner)
    : QObject(owner)
{
    m_answerWait.setSingleShot(true);
}

DccEndpoint::~DccEndpoint() = default;

namespace {

QList<quint16> portsToTry()
{
    return irc::offerPortsToTry(QRandomGenerator::global()->generate());
}

} // namespace

std::optional<quint16> DccEndpoint::listen(const PeerListen& how, const QList<quint16>& ports)
{
    PeerServer* server = listenForOffer(this, how, ports);
    if (!server)
        return std::nullopt;
    m_server = server;
    m_ours.port = server->serverPort();
    m_ours.open = true;
    connect(server, &QTcpServer::newConnection, this, &DccEndpoint::takeConnection);
    connect(server, &PeerServer::expired, this, [this, server] { expire(server->expiry()); });
    return m_ours.port;
}

std::optional<DccEndpoint::Failure> DccEndpoint::offer(ChatHost& host, irc::OutgoingOffer offer,
                                                       const PeerListen& how, bool passive,
                                                       Unanswered unanswered)
{
    m_ours.kind = offer.kind;
    m_ours.nick = offer.nick;
    if (passive) {
        // Behind NAT nobody can reach us: the peer listens and we connect out.
        m_ours.token = irc::makeOfferToken(QRandomGenerator::global()->generate());
        offer.token = m_ours.token;
        offer.port = 0;
        m_ours.open = true;
        if (unanswered == Unanswered::Expires) {
            // Nothing listens here, but an answer that never comes must end the wait all the same.
            const std::chrono::milliseconds wait = how.expiry;
            connect(&m_answerWait, &QTimer::timeout, this, [this, wait] { expire(wait); });
            m_answerWait.start(wait);
        }
    } else {
        const auto port = listen(how, portsToTry());
        if (!port)
            return Failure::NoPort;
        offer.port = *port;
    }
    offer.address = host.offerAddressField();
    const auto line = irc::formatOffer(offer);
    if (!line || !host.sendServerLine(*line)) {
        close();
        return Failure::NotSent;
    }
    return std::nullopt;
}

std::optional<DccEndpoint::Failure> DccEndpoint::answer(ChatHost& host, const irc::DccOffer& theirs,
                                                        const PeerListen& how)
{
    m_ours.kind = theirs.kind;
    m_ours.nick = theirs.sender;
    const auto port = listen(how, portsToTry());
    if (!port)
        return Failure::NoPort;
    const bool file = theirs.kind == irc::DccKind::Send;
    const auto line = irc::formatOffer({theirs.kind, theirs.sender, host.offerAddressField(), *port,
                                        file ? theirs.fileName : QByteArray(),
                                        file ? theirs.size : 0, theirs.token, theirs.secure});
    if (!line || !host.sendServerLine(*line)) {
        close();
        return Failure::NotSent;
    }
    return std::nullopt;
}

void DccEndpoint::answered()
{
    m_ours.open = false;
    m_answerWait.stop();
}

void DccEndpoint::takeConnection()
{
    QTcpSocket* socket = m_server ? m_server->nextPendingConnection() : nullptr;
    if (!socket)
        return;
    // One peer per offer: the listening socket goes as soon as it has served.
    m_server->close();
    m_server->deleteLater();
    m_ours.open = false;
    socket->setParent(parent());
    emit peerConnected(socket);
}

void DccEndpoint::expire(std::chrono::milliseconds waited)
{
    if (!m_ours.open)
        return;
    m_ours.open = false;
    emit expired(waited);
}

void DccEndpoint::close()
{
    m_ours.open = false;
    m_answerWait.stop();
    if (m_server) {
        m_server->disconnect(this);
        m_server->close();
        m_server->deleteLater();
    }
    m_server = nullptr;
}

QTcpSocket* DccEndpoint::newSocket(ChatHost* privateHost, QObject* owner)
{
    return privateHost ? newPrivateSocket(*privateHost, owner) : new QTcpSocket(owner);
}

void DccEndpoint::watch(QTcpSocket* socket, ChatHost& host, const QByteArray& nick,
                        std::function<void(const PrivateLinkResult&)> done)
{
    watchPrivateLink(*static_cast<QSslSocket*>(socket), host, nick, std::move(done));
}

} // namespace peer

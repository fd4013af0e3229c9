#include "peer/voice_link.h"

#include "peer/listen.h"
#include "peer/sound.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>

namespace peer {

VoiceLink::VoiceLink(Role role, const QByteArray& peerNick, bool isReturn, QObject* parent)
    : QObject(parent)
    , m_role(role)
    , m_isReturn(isReturn)
{
    m_record.type = TRANSFER_VOICE;
    m_record.peerNick = peerNick;
}

VoiceLink::~VoiceLink()
{
    close();
}

VoiceLeg VoiceLink::leg() const
{
    return {m_record.peerNick, m_role == Role::Capture, m_isReturn};
}

bool VoiceLink::isConnected() const
{
    return m_connected;
}

quint64 VoiceLink::droppedBlocks() const
{
    return m_role == Role::Capture ? m_gate.droppedBlocks() : m_queue.droppedBlocks();
}

std::optional<quint16> VoiceLink::listen(const QList<quint16>& ports,
                                         std::chrono::milliseconds expiry)
{
    PeerListen how;
    how.nick = m_record.peerNick;
    how.expiry = expiry;
    PeerServer* server = listenForOffer(this, how, ports);
    if (!server)
        return std::nullopt;
    m_server = server;
    m_record.port = server->serverPort();
    m_record.socket = server;
    connect(server, &QTcpServer::newConnection, this, &VoiceLink::accept);
    connect(server, &PeerServer::expired, this, [this, server] {
        const std::chrono::milliseconds waited = server->expiry();
        close();
        emit expired(waited);
    });
    return m_record.port;
}

void VoiceLink::connectTo(const QHostAddress& address, quint16 port)
{
    auto* socket = new QTcpSocket(this);
    m_socket = socket;
    m_record.socket = socket;
    m_record.startTime = QDateTime::currentSecsSinceEpoch();
    connect(socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        // Acknowledgements are 4 bytes each and the sender waits for them.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit connected();
    });
    connect(socket, &QTcpSocket::readyRead, this, &VoiceLink::readSocket);
    connect(socket, &QTcpSocket::disconnected, this, &VoiceLink::lost);
    connect(socket, &QTcpSocket::errorOccurred, this, [this] {
        // Before the connection is up an error is all we hear of a refused or lost offer.
        if (!m_connected)
            lost();
    });
    socket->connectToHost(address, port);
}

void VoiceLink::accept()
{
    QTcpSocket* socket = m_server ? m_server->nextPendingConnection() : nullptr;
    if (!socket || m_socket)
        return;
    // One peer per offer: the listening socket goes as soon as it has served.
    m_server->close();
    m_server->deleteLater();
    socket->setParent(this);
    m_socket = socket;
    m_record.socket = socket;
    m_record.startTime = QDateTime::currentSecsSinceEpoch();
    m_connected = true;
    // A block, then a wait for its acknowledgement: nothing may sit in Nagle's queue.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &VoiceLink::readSocket);
    connect(socket, &QTcpSocket::disconnected, this, &VoiceLink::lost);
    emit connected();
}

void VoiceLink::readSocket()
{
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (m_role == Role::Capture) {
        m_gate.received(bytes);
        m_record.count = m_gate.ackCount();
        return;
    }
    const PlaybackQueue::Received result = m_queue.received(bytes);
    m_record.count = m_queue.count();
    if (result.ack)
        send(*result.ack);
    if (m_queue.queuedBlocks() > 0)
        emit samplesArrived();
}

void VoiceLink::sendCaptured(QByteArrayView samples)
{
    if (m_role != Role::Capture || !m_connected)
        return;
    if (const auto block = m_gate.captured(samples))
        send(*block);
}

std::optional<VoiceStatus> VoiceLink::playInto(SoundOutput& output)
{
    while (true) {
        const QByteArrayView next = m_queue.nextForDevice();
        if (next.isEmpty())
            return std::nullopt;
        const SoundOutput::Written written = output.write(next);
        if (written.failure)
            return written.failure;
        if (written.taken <= 0)
            return std::nullopt;
        if (const auto ack = m_queue.taken(written.taken))
            send(*ack);
    }
}

void VoiceLink::send(const QByteArray& bytes)
{
    // A failed send is not reported: the close that follows says what happened.
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(bytes);
}

void VoiceLink::lost()
{
    if (!m_socket && !m_server)
        return;
    close();
    emit closedByPeer();
}

void VoiceLink::close()
{
    m_connected = false;
    if (m_server) {
        m_server->disconnect(this);
        m_server->close();
        m_server->deleteLater();
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_server = nullptr;
    m_socket = nullptr;
}

} // namespace peer

#include "peer/voice_link.h"

#include "peer/sound.h"

#include <QDateTime>
#include <QTcpSocket>

namespace peer {

VoiceLink::VoiceLink(Role role, const QByteArray& peerNick, bool isReturn, QObject* parent)
    : QObject(parent)
    , m_role(role)
    , m_isReturn(isReturn)
    , m_endpoint(new DccEndpoint(this))
{
    m_record.type = TRANSFER_VOICE;
    m_record.peerNick = peerNick;
    connect(m_endpoint, &DccEndpoint::peerConnected, this, &VoiceLink::accept);
    connect(m_endpoint, &DccEndpoint::expired, this, [this](std::chrono::milliseconds waited) {
        close();
        emit expired(waited);
    });
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

std::optional<DccEndpoint::Failure> VoiceLink::offer(ChatHost& host)
{
    PeerListen how;
    how.nick = m_record.peerNick;
    how.expiry = host.linkTimeouts().listen;
    irc::OutgoingOffer voice;
    voice.kind = irc::DccKind::Voice;
    voice.nick = m_record.peerNick;
    const auto failure = m_endpoint->offer(host, voice, how, false);
    m_record.port = m_endpoint->ours().port;
    return failure;
}

void VoiceLink::connectTo(const QHostAddress& address, quint16 port)
{
    auto* socket = new QTcpSocket(this);
    m_socket = socket;
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

void VoiceLink::accept(QTcpSocket* socket)
{
    if (m_socket)
        return;
    m_socket = socket;
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
    if (!m_socket && !m_endpoint->isListening())
        return;
    close();
    emit closedByPeer();
}

void VoiceLink::close()
{
    m_connected = false;
    m_endpoint->close();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_socket = nullptr;
}

} // namespace peer

#include "peer/voice/voice_link.h"

#include "peer/voice/opus_leg.h"
#include "peer/voice/sound.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>

namespace peer {

namespace {

// An Opus frame leaves when the one before it has: the kernel's own buffer would otherwise hold
// seconds of sound that can no longer be dropped when the link backs up.
constexpr int kOpusSendBufferBytes = 2048;

} // namespace

VoiceLink::VoiceLink(Role role, const QByteArray& peerNick, bool isReturn, QObject* parent,
                     bool opus)
    : QObject(parent)
    , m_role(role)
    , m_isReturn(isReturn)
    , m_endpoint(new DccEndpoint(this))
    , m_negotiation(role == Role::Capture ? VoiceNegotiation::Side::Capture
                                          : VoiceNegotiation::Side::Playback,
                    opus)
    , m_wait(new QTimer(this))
{
    m_clock.start();
    m_wait->setSingleShot(true);
    m_wait->setTimerType(Qt::PreciseTimer);
    connect(m_wait, &QTimer::timeout, this, [this] {
        m_negotiation.elapsed(now());
        // A timer may fire a little early: the wait runs on until the deadline has passed.
        if (const auto deadline = m_negotiation.deadline();
            deadline && m_negotiation.codec() == VoiceCodec::Undecided)
            m_wait->start(int(std::max<qint64>(1, *deadline - now())));
        decided();
    });
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
        negotiate(m_negotiation.connected(now()));
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
    connect(socket, &QTcpSocket::bytesWritten, this, &VoiceLink::flush);
    emit connected();
    negotiate(m_negotiation.connected(now()));
}

void VoiceLink::negotiate(const VoiceNegotiation::Step& step)
{
    if (!step.send.isEmpty())
        send(step.send);
    if (const auto deadline = m_negotiation.deadline())
        m_wait->start(int(std::max<qint64>(0, *deadline - now())));
    else
        m_wait->stop();
    decided();
    if (!step.passOn.isEmpty())
        takeBytes(step.passOn);
}

void VoiceLink::decided()
{
    const VoiceCodec codec = m_negotiation.codec();
    if (codec == VoiceCodec::Undecided || m_codecTold)
        return;
    m_codecTold = true;
    m_wait->stop();
    if (codec == VoiceCodec::Opus && m_socket) {
        m_opus = m_role == Role::Capture ? OpusLeg::forCapture() : OpusLeg::forPlayback();
        m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption,
                                  kOpusSendBufferBytes);
        if (m_role == Role::Playback) {
            m_tick = new QTimer(this);
            m_tick->setTimerType(Qt::PreciseTimer);
            connect(m_tick, &QTimer::timeout, this, [this] {
                if (!m_opus)
                    return;
                m_opus->tick(now());
                if (!m_opus->pending().isEmpty())
                    emit samplesArrived();
            });
            m_tick->start(kVoiceFrameMs);
        }
    }
    emit codecChosen(codec);
}

void VoiceLink::readSocket()
{
    if (!m_socket)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (m_negotiation.codec() == VoiceCodec::Undecided) {
        negotiate(m_negotiation.received(bytes, now()));
        return;
    }
    takeBytes(bytes);
}

void VoiceLink::takeBytes(const QByteArray& bytes)
{
    if (m_opus) {
        // The capturing side of an Opus link hears nothing more; a player whose peer broke the
        // framing has nothing left to play.
        if (m_role == Role::Playback && !m_opus->received(bytes, now()))
            lost();
        return;
    }
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
    if (m_opus) {
        for (const QByteArray& frame : m_opus->captured(samples))
            m_sendQueue.offer(frame);
        flush();
        return;
    }
    if (m_negotiation.codec() != VoiceCodec::Plain)
        return;
    if (const auto block = m_gate.captured(samples))
        send(*block);
}

void VoiceLink::flush()
{
    if (!m_opus || !m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    while (const auto frame = m_sendQueue.take(m_socket->bytesToWrite())) {
        m_socket->write(*frame);
        m_opus->sent(now(), frame->size());
    }
}

int VoiceLink::bitrate() const
{
    return m_opus ? m_opus->bitrate(m_clock.elapsed()) : 0;
}

std::optional<JitterStats> VoiceLink::jitterStats() const
{
    if (!m_opus || m_role != Role::Playback)
        return std::nullopt;
    return m_opus->stats();
}

int VoiceLink::delayMs() const
{
    return m_opus ? m_opus->delayMs() : 0;
}

std::optional<VoiceStatus> VoiceLink::playInto(SoundOutput& output)
{
    if (m_opus) {
        const QByteArrayView pending = m_opus->pending();
        if (pending.isEmpty())
            return std::nullopt;
        const SoundOutput::Written written = output.write(pending);
        if (written.failure)
            return written.failure;
        if (written.taken > 0)
            m_opus->taken(written.taken);
        return std::nullopt;
    }
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
    m_wait->stop();
    if (m_tick)
        m_tick->stop();
    m_endpoint->close();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
    m_socket = nullptr;
}

} // namespace peer

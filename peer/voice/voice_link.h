#pragma once

#include "peer/common/chat_host.h"
#include "peer/common/session_record.h"
#include "peer/link/dcc_endpoint.h"
#include "peer/voice/jitter_buffer.h"
#include "peer/voice/voice_core.h"
#include "peer/voice/voice_negotiation.h"
#include "peer/voice/voice_send_queue.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <memory>
#include <optional>

class QTcpSocket;
class QTimer;

namespace peer {

class OpusLeg;
class SoundOutput;

// One link of a voice chat, carrying sound one way. The side that offered it listens, then
// captures and sends; the side that accepted it connects, then plays and acknowledges. It owns
// its socket; the devices belong to its call.
class VoiceLink : public QObject
{
    Q_OBJECT

public:
    enum class Role { Capture, Playback };

    // `opus`: the link offers (or takes up) Opus on the link before any sound; false makes it
    // speak only the plain voice chat, as a program without Opus does.
    VoiceLink(Role role, const QByteArray& peerNick, bool isReturn, QObject* parent = nullptr,
              bool opus = true);
    ~VoiceLink() override;

    Role role() const { return m_role; }
    const TransferSession& record() const { return m_record; }
    // What the rules about further legs need to know of this one.
    VoiceLeg leg() const;
    bool isConnected() const;

    // Capture: our offer to the server; we listen for the peer for the host's listening time.
    std::optional<DccEndpoint::Failure> offer(ChatHost& host);
    // Playback: connects to the peer's offer.
    void connectTo(const QHostAddress& address, quint16 port);

    // Capture: samples from the device. A completed block goes out when none is in flight.
    void sendCaptured(QByteArrayView samples);
    // Playback: hands queued samples to `output` as far as it takes them, acknowledging each
    // finished block as the queue rules say. The failure's status line, if it failed.
    std::optional<VoiceStatus> playInto(SoundOutput& output);

    // What the link carries once both sides agreed on it; Undecided until then.
    VoiceCodec codec() const { return m_negotiation.codec(); }
    // The Opus link's bit rate over the last second, and the delay its playing side holds.
    int bitrate() const;
    int delayMs() const;
    // An Opus player's counts: frames played, concealed, dropped as late.
    std::optional<JitterStats> jitterStats() const;

    quint64 sentBlocks() const { return m_gate.sentBlocks(); }
    quint64 droppedBlocks() const;
    // Closes the socket; no signal follows.
    void close();

signals:
    // Capture: the peer connected. Playback: our connection completed.
    void connected();
    // Playback: samples arrived for the device.
    void samplesArrived();
    // The peer closed the link, or it could not be made.
    void closedByPeer();
    // Both sides agreed on what the link carries: the devices may open in its format.
    void codecChosen(peer::VoiceCodec codec);
    // Capture: nobody connected within `waited`; the link is closed.
    void expired(std::chrono::milliseconds waited);

private:
    void accept(QTcpSocket* socket);
    void readSocket();
    void send(const QByteArray& bytes);
    void lost();
    void negotiate(const VoiceNegotiation::Step& step);
    void decided();
    void takeBytes(const QByteArray& bytes);
    void flush();
    qint64 now() const { return m_clock.elapsed(); }

    const Role m_role;
    TransferSession m_record;
    bool m_isReturn;
    CaptureGate m_gate;
    PlaybackQueue m_queue;
    DccEndpoint* m_endpoint;
    QPointer<QTcpSocket> m_socket;
    bool m_connected = false;
    VoiceNegotiation m_negotiation;
    QElapsedTimer m_clock;
    QTimer* m_wait = nullptr; // the negotiation's deadline
    bool m_codecTold = false;
    QTimer* m_tick = nullptr; // an Opus player's 20 ms turn
    std::unique_ptr<OpusLeg> m_opus;
    VoiceSendQueue m_sendQueue;
};

} // namespace peer

#pragma once

#include "peer/voice/jitter_buffer.h"
#include "peer/voice/opus_codec.h"
#include "peer/voice/voice_frames.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <deque>
#include <memory>

namespace peer {

// The Opus side of one voice link, without the socket: on a capturing link the device's samples
// (48 kHz, mono, 16-bit) become framed packets, [length 2][sequence 2][Opus packet]; on a playing
// link the received bytes go through the jitter buffer and come out as the device's samples, one
// 20 ms frame a tick, concealed where a frame is missing or late.
class OpusLeg
{
public:
    static constexpr int kBitrate = 24000;
    // What the playing side keeps for the device at most; more means the device fell behind.
    static constexpr int kMaxQueuedMs = 120;

    static std::unique_ptr<OpusLeg> forCapture();
    static std::unique_ptr<OpusLeg> forPlayback();

    // Capture: the packets ready to go, framed, for the samples the device delivered.
    QList<QByteArray> captured(QByteArrayView samples);
    // Capture: `bytes` went out at `nowMs` (for the bit rate).
    void sent(qint64 nowMs, qsizetype bytes) { count(nowMs, bytes); }
    // Playback: bytes of the link. False once the peer broke the framing: the link is of no use.
    bool received(QByteArrayView bytes, qint64 nowMs);
    // Playback: one frame's turn at `nowMs`: its samples join what waits for the device.
    void tick(qint64 nowMs);
    // Playback: what waits for the device, and how much of it the device took.
    QByteArrayView pending() const { return m_pending; }
    void taken(qint64 bytes) { m_pending.remove(0, qsizetype(bytes)); }

    // What the voice window shows: the bit rate of the last second sent or received, and the
    // delay the playing side holds (jitter buffer and what waits for the device).
    int bitrate(qint64 nowMs) const;
    int delayMs() const;
    const JitterStats stats() const { return m_jitter.stats(); }

private:
    OpusLeg() = default;
    void count(qint64 nowMs, qsizetype bytes);

    std::unique_ptr<OpusEncoder> m_encoder;
    std::unique_ptr<OpusDecoder> m_decoder;
    VoiceFrameReader m_reader;
    JitterBuffer m_jitter;
    QByteArray m_samples; // capture: what did not fill a frame yet
    QByteArray m_pending; // playback: for the device
    quint16 m_sequence = 0;
    qint64 m_lastNow = 0;
    // The bytes of the last second, by millisecond of arrival or sending.
    std::deque<std::pair<qint64, qsizetype>> m_recent;
};

} // namespace peer

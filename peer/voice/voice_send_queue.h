#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <deque>
#include <optional>

namespace peer {

// The sending side of an Opus voice link: frames the socket has not taken yet, at most `boundMs`
// of them. When the link backs up the oldest frame goes, not the newest: late audio is worth
// less than fresh, and the delay never grows past the bound.
class VoiceSendQueue
{
public:
    explicit VoiceSendQueue(int boundMs = 100, int frameMs = 20);

    // Queues a framed packet, dropping the oldest queued one if the bound is reached. False
    // only for an empty packet, which is not queued.
    bool offer(const QByteArray& frame);
    // The oldest queued frame, handed out only while the socket has written everything it was
    // given before (`socketBytesToWrite`, QAbstractSocket::bytesToWrite()): bytes parked in the
    // socket can no longer be dropped, so they are kept to one frame at a time.
    std::optional<QByteArray> take(qint64 socketBytesToWrite);

    qint64 bytesPending() const { return m_bytes; }
    int framesPending() const { return int(m_frames.size()); }
    int maxFrames() const { return m_maxFrames; }
    quint64 dropped() const { return m_dropped; }
    quint64 taken() const { return m_taken; }

private:
    std::deque<QByteArray> m_frames;
    int m_maxFrames = 1;
    qint64 m_bytes = 0;
    quint64 m_dropped = 0;
    quint64 m_taken = 0;
};

} // namespace peer

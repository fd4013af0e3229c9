#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QtGlobal>

// The wire framing of the Opus voice link: every packet goes as a 2-byte big-endian length
// followed by that many bytes, so that a stream socket keeps the packets apart.
namespace peer {

inline constexpr qsizetype kVoiceFrameHeaderBytes = 2;
// A 20 ms packet at the link's 32 kbit/s is 80 bytes; five times that leaves room for a
// burst the encoder allows itself, and anything larger is a peer that does not speak Opus.
inline constexpr qsizetype kMaxVoiceFrameBytes = 400;

// The packet behind its length, or nothing for an empty or oversized packet (the length 0
// is reserved as a protocol error, so an empty packet cannot be sent).
QByteArray frameVoicePacket(QByteArrayView packet);

// Splits what the link receives into packets, whatever the reads' boundaries. A length of 0
// or above kMaxVoiceFrameBytes means the stream is not ours: the reader fails, keeps the
// offending length for the log and drops every further byte, since nothing after it can be
// trusted to start a frame. It never holds more than one unfinished frame.
class VoiceFrameReader
{
public:
    static constexpr qsizetype kMaxBufferedBytes = kVoiceFrameHeaderBytes + kMaxVoiceFrameBytes - 1;

    // Returns every packet completed by `bytes`, in order; those before a fault are kept.
    QList<QByteArray> feed(QByteArrayView bytes);

    bool hasFailed() const { return m_failed; }
    // The length field that failed the reader.
    quint16 badLength() const { return m_badLength; }
    bool hasPartialFrame() const { return !m_pending.isEmpty(); }
    qsizetype bufferedBytes() const { return m_pending.size(); }

private:
    QByteArray m_pending; // the header and body of the frame being filled
    qsizetype m_bodyBytes = 0;
    quint16 m_badLength = 0;
    bool m_failed = false;
};

} // namespace peer

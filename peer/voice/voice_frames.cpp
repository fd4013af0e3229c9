#include "peer/voice/voice_frames.h"

#include <QtEndian>

namespace peer {

QByteArray frameVoicePacket(QByteArrayView packet)
{
    if (packet.isEmpty() || packet.size() > kMaxVoiceFrameBytes)
        return {};
    QByteArray frame(kVoiceFrameHeaderBytes, Qt::Uninitialized);
    qToBigEndian(quint16(packet.size()), frame.data());
    frame.append(packet);
    return frame;
}

QList<QByteArray> VoiceFrameReader::feed(QByteArrayView bytes)
{
    QList<QByteArray> packets;
    QByteArrayView rest = bytes;
    while (!m_failed && !rest.isEmpty()) {
        if (m_pending.size() < kVoiceFrameHeaderBytes) {
            const qsizetype take = qMin(kVoiceFrameHeaderBytes - m_pending.size(), rest.size());
            m_pending.append(rest.first(take));
            rest = rest.sliced(take);
            if (m_pending.size() < kVoiceFrameHeaderBytes)
                break;
            const quint16 length = qFromBigEndian<quint16>(m_pending.constData());
            if (length == 0 || length > kMaxVoiceFrameBytes) {
                m_failed = true;
                m_badLength = length;
                m_pending.clear();
                break;
            }
            m_bodyBytes = length;
        }
        const qsizetype missing = kVoiceFrameHeaderBytes + m_bodyBytes - m_pending.size();
        const qsizetype take = qMin(missing, rest.size());
        m_pending.append(rest.first(take));
        rest = rest.sliced(take);
        if (take == missing) {
            packets.append(m_pending.sliced(kVoiceFrameHeaderBytes));
            m_pending.truncate(0);
        }
    }
    return packets;
}

} // namespace peer

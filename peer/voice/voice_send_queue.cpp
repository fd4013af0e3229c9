#include "peer/voice/voice_send_queue.h"

#include <algorithm>
#include <utility>

namespace peer {

VoiceSendQueue::VoiceSendQueue(int boundMs, int frameMs)
    : m_maxFrames(std::max(1, boundMs / std::max(1, frameMs)))
{}

bool VoiceSendQueue::offer(const QByteArray& frame)
{
    if (frame.isEmpty())
        return false;
    while (int(m_frames.size()) >= m_maxFrames) {
        m_bytes -= m_frames.front().size();
        m_frames.pop_front();
        ++m_dropped;
    }
    m_frames.push_back(frame);
    m_bytes += frame.size();
    return true;
}

std::optional<QByteArray> VoiceSendQueue::take(qint64 socketBytesToWrite)
{
    if (m_frames.empty() || socketBytesToWrite > 0)
        return std::nullopt;
    QByteArray frame = std::move(m_frames.front());
    m_frames.pop_front();
    m_bytes -= frame.size();
    ++m_taken;
    return frame;
}

} // namespace peer

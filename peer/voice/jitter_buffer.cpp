#include "peer/voice/jitter_buffer.h"

#include <algorithm>
#include <vector>

namespace peer {

namespace {

// A second of arrivals judges the jitter; the delay comes down one frame at most every two
// seconds, so that a connection that stalls now and then is not chased up and down.
constexpr size_t kJitterWindow = 50;
constexpr int kJitterPercentile = 95;
constexpr qint64 kDecreaseHoldMs = 2000;
// Opus's concealment fades out after about 100 ms; a longer hole is better heard as silence
// and a fresh start.
constexpr int kMaxConcealRun = 5;
// The level must have been short of the target for 100 ms before the delay grows, and above it
// for half a second before a frame is skipped.
constexpr size_t kGrowWindow = 5;
constexpr size_t kShrinkWindow = 25;
// Slots remembered behind the one due, to tell a frame sent twice from one that came too late.
constexpr size_t kRecentSlots = 64;

int roundUpToFrame(qint64 ms)
{
    return int((ms + kVoiceFrameMs - 1) / kVoiceFrameMs * kVoiceFrameMs);
}

} // namespace

qint64 JitterBuffer::unwrap(quint16 seq) const
{
    int step = int(quint16(seq - quint16(m_newest & 0xFFFF)));
    if (step >= 0x8000)
        step -= 0x10000;
    return m_newest + step;
}

void JitterBuffer::push(quint16 seq, const QByteArray& packet, qint64 nowMs)
{
    if (!m_started) {
        m_started = true;
        m_newest = seq;
        m_targetChangedMs = nowMs;
    }
    const qint64 slot = unwrap(seq);
    if (m_nextKnown && slot < m_next) {
        const qint64 back = m_next - slot;
        const bool filled = back <= qint64(m_recent.size()) && m_recent[m_recent.size() - back];
        ++(filled ? m_stats.droppedDuplicate : m_stats.droppedLate);
        return;
    }
    if (m_frames.count(slot) != 0) {
        ++m_stats.droppedDuplicate;
        return;
    }
    m_frames.emplace(slot, Held{packet, nowMs});
    m_newest = std::max(m_newest, slot);
    noteArrival(slot, nowMs);
    adaptTarget(nowMs);
    enforceBound();
}

void JitterBuffer::noteArrival(qint64 slot, qint64 nowMs)
{
    // How late this frame is against a steady timeline; only differences between frames count.
    m_relativeDelays.push_back(nowMs - slot * kVoiceFrameMs);
    if (m_relativeDelays.size() > kJitterWindow)
        m_relativeDelays.pop_front();
}

void JitterBuffer::adaptTarget(qint64 nowMs)
{
    std::vector<qint64> sorted(m_relativeDelays.begin(), m_relativeDelays.end());
    std::sort(sorted.begin(), sorted.end());
    const qint64 spread = sorted[(sorted.size() - 1) * kJitterPercentile / 100] - sorted.front();
    // The latest usual frame still needs one frame of slack for the phase of the device's pops.
    const int wanted =
        std::clamp(roundUpToFrame(spread + kVoiceFrameMs), kMinJitterDelayMs, kMaxJitterDelayMs);
    if (wanted > m_targetMs) {
        m_targetMs = wanted;
        m_targetChangedMs = nowMs;
    } else if (wanted < m_targetMs && nowMs - m_targetChangedMs >= kDecreaseHoldMs) {
        m_targetMs -= kVoiceFrameMs;
        m_targetChangedMs = nowMs;
    }
}

void JitterBuffer::enforceBound()
{
    const qint64 lowest = m_newest - (kMaxHeldFrames - 1);
    while (!m_frames.empty() && m_frames.begin()->first < lowest) {
        m_frames.erase(m_frames.begin());
        ++m_stats.droppedOverflow;
    }
    if (m_nextKnown && m_next < lowest) {
        // Slots given up without a frame: a copy coming later is late, not a duplicate.
        const qint64 skipped = lowest - m_next;
        if (skipped >= qint64(kRecentSlots))
            m_recent.clear();
        for (qint64 i = 0; i < std::min<qint64>(skipped, kRecentSlots); ++i)
            m_recent.push_back(false);
        while (m_recent.size() > kRecentSlots)
            m_recent.pop_front();
        m_next = lowest;
    }
}

void JitterBuffer::advance(bool hadFrame)
{
    m_recent.push_back(hadFrame);
    if (m_recent.size() > kRecentSlots)
        m_recent.pop_front();
    ++m_next;
}

int JitterBuffer::levelAfterPopMs() const
{
    return int(std::max<size_t>(m_frames.size(), 1) - 1) * kVoiceFrameMs;
}

void JitterBuffer::rememberLevel(int levelMs)
{
    m_levels.push_back(levelMs);
    if (m_levels.size() > kShrinkWindow)
        m_levels.pop_front();
}

JitterBuffer::Pop JitterBuffer::pop(qint64 nowMs)
{
    if (!m_playing) {
        // Playback starts once the oldest frame has waited the target delay.
        if (m_frames.empty() || nowMs - m_frames.begin()->second.arrivalMs < m_targetMs)
            return {};
        m_playing = true;
        m_nextKnown = true;
        m_next = m_frames.begin()->first;
        m_concealRun = 0;
        m_levels.clear();
    }
    auto due = m_frames.begin();
    if (due == m_frames.end() || due->first != m_next) {
        if (m_concealRun >= kMaxConcealRun) {
            m_playing = false;
            return {};
        }
        ++m_concealRun;
        ++m_stats.concealed;
        m_levels.clear();
        Pop pop{Pop::Conceal, {}, quint16(m_next & 0xFFFF)};
        advance(false);
        return pop;
    }
    m_concealRun = 0;
    rememberLevel(levelAfterPopMs());
    const auto recentLevels = [this](size_t count) {
        return std::minmax_element(m_levels.end() - qsizetype(count), m_levels.end());
    };
    if (m_levels.size() >= kGrowWindow
        && *recentLevels(kGrowWindow).second < m_targetMs - kVoiceFrameMs) {
        // The frame waits one more slot: the delay grows by a frame.
        m_levels.clear();
        ++m_stats.stretched;
        return {Pop::Conceal, {}, quint16(m_next & 0xFFFF)};
    }
    const auto following = std::next(due);
    if (m_levels.size() >= kShrinkWindow
        && *recentLevels(kShrinkWindow).first >= m_targetMs + kVoiceFrameMs
        && following != m_frames.end() && following->first == m_next + 1) {
        m_levels.clear();
        ++m_stats.trimmed;
        m_frames.erase(due);
        advance(true);
        due = following;
    }
    Pop pop{Pop::Frame, due->second.packet, quint16(m_next & 0xFFFF)};
    m_frames.erase(due);
    advance(true);
    ++m_stats.played;
    return pop;
}

JitterStats JitterBuffer::stats() const
{
    JitterStats stats = m_stats;
    stats.targetDelayMs = m_targetMs;
    stats.bufferedMs = int(m_frames.size()) * kVoiceFrameMs;
    return stats;
}

} // namespace peer

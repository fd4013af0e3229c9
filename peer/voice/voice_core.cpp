#include "peer/voice/voice_core.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace peer {

namespace {

// Moves bytes from `input` into `block` until it holds a whole block; true when it does.
bool fillBlock(QByteArray& block, QByteArrayView& input)
{
    const qsizetype take = std::min(kVoiceBlockBytes - block.size(), input.size());
    block.append(input.first(take));
    input = input.sliced(take);
    return block.size() == kVoiceBlockBytes;
}

int countLegs(const QList<VoiceLeg>& legs, const QByteArray& nick, bool offeredByUs, bool isReturn,
              const NickRule& nicks)
{
    return int(std::count_if(legs.begin(), legs.end(), [&](const VoiceLeg& leg) {
        return !leg.peerNick.isEmpty()
               && nicks.same(leg.peerNick, nick, NickRule::Unsaid::IgnoreAsciiCase)
               && leg.offeredByUs == offeredByUs && leg.isReturn == isReturn;
    }));
}

} // namespace

std::optional<QByteArray> CaptureGate::captured(QByteArrayView samples)
{
    std::optional<QByteArray> toSend;
    while (!samples.isEmpty()) {
        if (!fillBlock(m_filling, samples))
            break;
        if (m_ackCount >= quint32(kVoiceBlockBytes))
            m_ackCount = 0;
        if (m_inFlight) {
            ++m_dropped;
        } else {
            toSend = std::move(m_filling);
            m_inFlight = true;
            ++m_sent;
        }
        m_filling.clear();
    }
    return toSend;
}

bool CaptureGate::received(QByteArrayView bytes)
{
    // A read that ends inside an acknowledgement has not acknowledged anything yet.
    const auto ack = m_acks.feed(bytes);
    if (!ack)
        return false;
    m_ackCount = *ack;
    return std::exchange(m_inFlight, false);
}

PlaybackQueue::Received PlaybackQueue::received(QByteArrayView bytes)
{
    Received result;
    if (bytes.isEmpty())
        return result;
    // Every byte read counts, including those of a block dropped below.
    const qint64 total = qint64(m_count) + bytes.size();
    m_count = total >= kVoiceBlockBytes ? 0 : quint32(total);
    while (!bytes.isEmpty()) {
        if (!fillBlock(m_filling, bytes))
            break;
        if (m_queue.size() >= size_t(kMaxQueuedVoiceBlocks)) {
            ++result.dropped;
            ++m_dropped;
        } else {
            m_queue.push_back(std::move(m_filling));
        }
        m_filling.clear();
    }
    if (m_queue.size() <= 1)
        result.ack = ack();
    return result;
}

QByteArrayView PlaybackQueue::nextForDevice() const
{
    if (m_queue.empty())
        return {};
    return QByteArrayView(m_queue.front()).sliced(m_headTaken);
}

std::optional<QByteArray> PlaybackQueue::taken(qint64 bytes)
{
    if (m_queue.empty() || bytes <= 0)
        return std::nullopt;
    m_headTaken += std::min<qint64>(bytes, m_queue.front().size() - m_headTaken);
    if (m_headTaken < m_queue.front().size())
        return std::nullopt;
    m_queue.pop_front();
    m_headTaken = 0;
    if (m_queue.size() > 1)
        return std::nullopt;
    return ack();
}

QByteArray PlaybackQueue::ack() const
{
    const auto bytes = encodeAck(m_count);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

IncomingVoice incomingVoiceOffer(const QList<VoiceLeg>& legs, const QByteArray& senderNick,
                                 const NickRule& nicks)
{
    // Each first leg we offered takes one return. Counting, rather than looking for any leg
    // with the sender, keeps a further offer from a peer we already talk with from being taken
    // unasked as a third leg.
    const int awaiting = countLegs(legs, senderNick, true, false, nicks)
                         - countLegs(legs, senderNick, false, true, nicks);
    return awaiting > 0 ? IncomingVoice::AcceptAsReturn : IncomingVoice::Ask;
}

bool offersReturnLeg(const QList<VoiceLeg>& legs, const VoiceLeg& connected, const NickRule& nicks)
{
    if (connected.offeredByUs || connected.isReturn)
        return false;
    const QByteArray& nick = connected.peerNick;
    return countLegs(legs, nick, false, false, nicks) > countLegs(legs, nick, true, true, nicks);
}

QString voiceStatusText(VoiceStatus status)
{
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("peer::VoiceWindow", text);
    };
    switch (status) {
    case VoiceStatus::Connecting:
        return tr("Connecting...");
    case VoiceStatus::Established:
        return tr("Connection established.");
    case VoiceStatus::PeerClosed:
        return tr("Connection terminated.  The other user may have closed the connection.");
    case VoiceStatus::CaptureOpenFailed:
        return tr("waveInOpen error");
    case VoiceStatus::CaptureQueueFailed:
        return tr("waveInAddBuffer error");
    case VoiceStatus::CaptureStartFailed:
        return tr("waveInStart error");
    case VoiceStatus::PlaybackOpenFailed:
        return tr("waveoutopen error");
    case VoiceStatus::PlaybackPrepareFailed:
        return tr("waveoutprepareheader error");
    case VoiceStatus::PlaybackWriteFailed:
        return tr("waveoutwrite error");
    }
    return {};
}

void VoiceStatusLog::append(const QString& line)
{
    const QString entry = line + QStringLiteral("\r\n");
    const Line added{entry.size(), entry.toUtf8().size()};
    m_text += entry;
    m_lines.push_back(added);
    m_bytes += added.bytes;
    while (m_bytes > kMaxVoiceStatusBytes && m_lines.size() > 1) {
        m_text.remove(0, m_lines.front().chars);
        m_bytes -= m_lines.front().bytes;
        m_lines.pop_front();
    }
}

} // namespace peer

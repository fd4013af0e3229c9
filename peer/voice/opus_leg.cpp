#include "peer/voice/opus_leg.h"

#include <QtEndian>

#include <cstring>

namespace peer {

namespace {

constexpr qint64 kWindowMs = 1000;

OpusSettings linkSettings()
{
    OpusSettings settings;
    settings.bitrate = OpusLeg::kBitrate;
    return settings;
}

} // namespace

std::unique_ptr<OpusLeg> OpusLeg::forCapture()
{
    auto leg = std::unique_ptr<OpusLeg>(new OpusLeg);
    leg->m_encoder = OpusEncoder::make(linkSettings());
    return leg->m_encoder ? std::move(leg) : nullptr;
}

std::unique_ptr<OpusLeg> OpusLeg::forPlayback()
{
    auto leg = std::unique_ptr<OpusLeg>(new OpusLeg);
    leg->m_decoder = OpusDecoder::make(linkSettings().sampleRate, linkSettings().frameMs);
    return leg->m_decoder ? std::move(leg) : nullptr;
}

QList<QByteArray> OpusLeg::captured(QByteArrayView samples)
{
    QList<QByteArray> frames;
    if (!m_encoder)
        return frames;
    m_samples += samples;
    const qsizetype frameBytes = qsizetype(m_encoder->frameSamples()) * 2;
    qsizetype at = 0;
    for (; at + frameBytes <= m_samples.size(); at += frameBytes) {
        QVector<qint16> pcm(m_encoder->frameSamples());
        std::memcpy(pcm.data(), m_samples.constData() + at, size_t(frameBytes));
        const std::optional<QByteArray> packet = m_encoder->encode(pcm.constData());
        // The sequence counts every captured frame, so that one lost here is a gap there.
        const quint16 sequence = m_sequence++;
        if (!packet)
            continue;
        QByteArray payload(2, '\0');
        qToBigEndian(sequence, payload.data());
        payload += *packet;
        const QByteArray framed = frameVoicePacket(payload);
        if (!framed.isEmpty())
            frames.push_back(framed);
    }
    m_samples.remove(0, at);
    return frames;
}

bool OpusLeg::received(QByteArrayView bytes, qint64 nowMs)
{
    if (!m_decoder || m_reader.hasFailed())
        return false;
    count(nowMs, bytes.size());
    for (const QByteArray& payload : m_reader.feed(bytes)) {
        if (payload.size() < 3)
            continue;
        const quint16 sequence = qFromBigEndian<quint16>(payload.constData());
        m_jitter.push(sequence, payload.mid(2), nowMs);
    }
    return !m_reader.hasFailed();
}

void OpusLeg::tick(qint64 nowMs)
{
    if (!m_decoder)
        return;
    m_lastNow = nowMs;
    const JitterBuffer::Pop turn = m_jitter.pop(nowMs);
    QVector<qint16> pcm;
    switch (turn.kind) {
    case JitterBuffer::Pop::Frame:
        pcm = m_decoder->decode(turn.packet);
        if (pcm.isEmpty())
            pcm = m_decoder->conceal();
        break;
    case JitterBuffer::Pop::Conceal:
        pcm = m_decoder->conceal();
        break;
    case JitterBuffer::Pop::Silence:
        // Nothing to play: the device plays its own silence, and no delay builds up here.
        return;
    }
    m_pending.append(reinterpret_cast<const char*>(pcm.constData()), pcm.size() * 2);
    // A device that fell behind hears the newest, not an ever longer delay.
    const qsizetype bound = qsizetype(m_decoder->sampleRate()) * 2 * kMaxQueuedMs / 1000;
    if (m_pending.size() > bound)
        m_pending.remove(0, m_pending.size() - bound);
}

void OpusLeg::count(qint64 nowMs, qsizetype bytes)
{
    m_lastNow = nowMs;
    m_recent.emplace_back(nowMs, bytes);
    while (!m_recent.empty() && nowMs - m_recent.front().first > kWindowMs)
        m_recent.pop_front();
}

int OpusLeg::bitrate(qint64 nowMs) const
{
    qint64 bytes = 0;
    for (const auto& [at, size] : m_recent) {
        if (nowMs - at <= kWindowMs)
            bytes += size;
    }
    return int(bytes * 8 * 1000 / kWindowMs);
}

int OpusLeg::delayMs() const
{
    if (!m_decoder)
        return 0;
    const int waiting = int(m_pending.size() * 1000 / (qsizetype(m_decoder->sampleRate()) * 2));
    return m_jitter.stats().bufferedMs + waiting;
}

} // namespace peer

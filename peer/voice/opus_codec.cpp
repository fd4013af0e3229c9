#include "peer/voice/opus_codec.h"

#include "peer/voice/voice_frames.h"

#include <opus.h>
#include <utility>

namespace peer {

namespace {

// Real time on a shared desktop: close to the best quality at a fraction of the top setting's
// cost.
constexpr int kComplexity = 6;
// The longest a single Opus packet can play (RFC 6716, 3.2.5).
constexpr int kMaxPacketMs = 120;

bool isValidFrame(int sampleRate, int frameMs)
{
    switch (frameMs) {
    case 5:
    case 10:
    case 20:
    case 40:
    case 60:
        return sampleRate > 0 && sampleRate % 1000 == 0;
    default:
        return false;
    }
}

} // namespace

struct OpusEncoder::State
{
    explicit State(::OpusEncoder* opus)
        : opus(opus)
    {}
    ~State() { opus_encoder_destroy(opus); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    ::OpusEncoder* const opus;
};

OpusEncoder::OpusEncoder(std::unique_ptr<State> state, int frameSamples)
    : m_state(std::move(state))
    , m_frameSamples(frameSamples)
{}

OpusEncoder::~OpusEncoder() = default;

std::unique_ptr<OpusEncoder> OpusEncoder::make(const OpusSettings& settings)
{
    if (!isValidFrame(settings.sampleRate, settings.frameMs) || settings.bitrate <= 0
        || settings.bitrate > kMaxVoiceBitrate || settings.expectedLossPercent < 0
        || settings.expectedLossPercent > 100)
        return nullptr;
    int error = OPUS_OK;
    ::OpusEncoder* raw = opus_encoder_create(settings.sampleRate, 1, OPUS_APPLICATION_VOIP, &error);
    if (!raw)
        return nullptr;
    auto state = std::make_unique<State>(raw);
    if (error != OPUS_OK)
        return nullptr;
    // Constrained VBR keeps each second near the bitrate, which the link's cap counts on;
    // DTX stays off because the far side's jitter buffer reads a silent gap as loss.
    const int requests[][2] = {
        {OPUS_SET_BITRATE_REQUEST, settings.bitrate},
        {OPUS_SET_VBR_CONSTRAINT_REQUEST, 1},
        {OPUS_SET_COMPLEXITY_REQUEST, kComplexity},
        {OPUS_SET_SIGNAL_REQUEST, OPUS_SIGNAL_VOICE},
        {OPUS_SET_DTX_REQUEST, 0},
        {OPUS_SET_INBAND_FEC_REQUEST, settings.fec ? 1 : 0},
        {OPUS_SET_PACKET_LOSS_PERC_REQUEST, settings.expectedLossPercent},
    };
    for (const auto& [request, value] : requests) {
        if (opus_encoder_ctl(raw, request, opus_int32(value)) != OPUS_OK)
            return nullptr;
    }
    return std::unique_ptr<OpusEncoder>(
        new OpusEncoder(std::move(state), settings.sampleRate / 1000 * settings.frameMs));
}

std::optional<QByteArray> OpusEncoder::encode(const qint16* pcm)
{
    if (!pcm)
        return std::nullopt;
    QByteArray packet(kMaxVoiceFrameBytes, Qt::Uninitialized);
    const opus_int32 size =
        opus_encode(m_state->opus, pcm, m_frameSamples,
                    reinterpret_cast<unsigned char*>(packet.data()), opus_int32(packet.size()));
    if (size <= 0)
        return std::nullopt;
    packet.truncate(size);
    return packet;
}

int OpusEncoder::lookaheadSamples() const
{
    opus_int32 samples = 0;
    if (opus_encoder_ctl(m_state->opus, OPUS_GET_LOOKAHEAD(&samples)) != OPUS_OK)
        return 0;
    return samples;
}

struct OpusDecoder::State
{
    explicit State(::OpusDecoder* opus)
        : opus(opus)
    {}
    ~State() { opus_decoder_destroy(opus); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    ::OpusDecoder* const opus;
};

OpusDecoder::OpusDecoder(std::unique_ptr<State> state, int sampleRate, int frameSamples)
    : m_state(std::move(state))
    , m_sampleRate(sampleRate)
    , m_frameSamples(frameSamples)
{}

OpusDecoder::~OpusDecoder() = default;

std::unique_ptr<OpusDecoder> OpusDecoder::make(int sampleRate, int frameMs)
{
    if (!isValidFrame(sampleRate, frameMs))
        return nullptr;
    int error = OPUS_OK;
    ::OpusDecoder* raw = opus_decoder_create(sampleRate, 1, &error);
    if (!raw)
        return nullptr;
    auto state = std::make_unique<State>(raw);
    if (error != OPUS_OK)
        return nullptr;
    return std::unique_ptr<OpusDecoder>(
        new OpusDecoder(std::move(state), sampleRate, sampleRate / 1000 * frameMs));
}

QVector<qint16> OpusDecoder::run(QByteArrayView packet, int maxSamples, bool fromRedundancy)
{
    QVector<qint16> pcm(maxSamples);
    const auto* data = reinterpret_cast<const unsigned char*>(packet.data());
    const int samples =
        opus_decode(m_state->opus, packet.isEmpty() ? nullptr : data, opus_int32(packet.size()),
                    pcm.data(), maxSamples, fromRedundancy ? 1 : 0);
    if (samples <= 0)
        return {};
    pcm.resize(qMin(samples, maxSamples));
    return pcm;
}

QVector<qint16> OpusDecoder::decode(QByteArrayView packet)
{
    // libopus reads an empty packet as a lost one; a peer's empty packet is not a loss.
    if (packet.isEmpty())
        return {};
    return run(packet, m_sampleRate / 1000 * kMaxPacketMs, false);
}

QVector<qint16> OpusDecoder::conceal()
{
    return run({}, m_frameSamples, false);
}

QVector<qint16> OpusDecoder::recover(QByteArrayView nextPacket)
{
    if (!nextPacket.isEmpty()) {
        // Asked for exactly the missing frame's length, libopus takes the redundancy when the
        // packet has some and conceals otherwise.
        QVector<qint16> pcm = run(nextPacket, m_frameSamples, true);
        if (pcm.size() == m_frameSamples)
            return pcm;
    }
    return conceal();
}

} // namespace peer

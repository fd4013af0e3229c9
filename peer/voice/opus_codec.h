#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QVector>
#include <QtGlobal>

#include <memory>
#include <optional>

// The Opus voice codec as the voice link uses it: mono speech, one packet per frame.
namespace peer {

// The most the link may carry each way; the encoder is held below it on average.
inline constexpr int kMaxVoiceBitrate = 32000;

struct OpusSettings
{
    int sampleRate = 48000; // 8000, 12000, 16000, 24000 or 48000
    int frameMs = 20;       // 5, 10, 20, 40 or 60
    int bitrate = 24000;    // bits per second, at most kMaxVoiceBitrate
    bool fec = true;        // in-band forward error correction for the frame before
    int expectedLossPercent = 2;
};

// Encodes one frame of 16-bit mono samples at a time into one packet.
class OpusEncoder
{
public:
    // Nothing when libopus refuses the settings or the bitrate is above the link's.
    static std::unique_ptr<OpusEncoder> make(const OpusSettings& settings);
    ~OpusEncoder();

    // `pcm` holds exactly frameSamples() samples. Nothing when libopus fails; every packet fits
    // a voice frame (kMaxVoiceFrameBytes).
    std::optional<QByteArray> encode(const qint16* pcm);

    int frameSamples() const { return m_frameSamples; }
    // How many samples the decoded signal lags behind the input.
    int lookaheadSamples() const;

private:
    // libopus's state, hidden so that only opus_codec.cpp sees opus.h and its global
    // OpusEncoder and OpusDecoder, whose names ours would clash with.
    struct State;
    OpusEncoder(std::unique_ptr<State> state, int frameSamples);

    std::unique_ptr<State> m_state;
    int m_frameSamples = 0;
};

// Decodes packets from a peer, which may be anything: whatever arrives, the output is at most
// the longest duration a packet can describe (120 ms), and a packet libopus rejects gives none.
class OpusDecoder
{
public:
    // `frameMs` is the length of the frames the peer sends, which conceal() stands in for.
    static std::unique_ptr<OpusDecoder> make(int sampleRate, int frameMs = 20);
    ~OpusDecoder();

    // The samples of one packet; none for an empty or invalid packet.
    QVector<qint16> decode(QByteArrayView packet);
    // Stands in for one missing frame.
    QVector<qint16> conceal();
    // Rebuilds the missing frame from the redundancy carried in the packet that follows it,
    // which the caller then decodes as usual. Conceals when that packet carries none or is
    // invalid, so it always gives one frame.
    QVector<qint16> recover(QByteArrayView nextPacket);

    int sampleRate() const { return m_sampleRate; }
    // The length of the frame conceal() and recover() stand in for.
    int frameSamples() const { return m_frameSamples; }

private:
    struct State;
    OpusDecoder(std::unique_ptr<State> state, int sampleRate, int frameSamples);
    QVector<qint16> run(QByteArrayView packet, int maxSamples, bool fromRedundancy);

    std::unique_ptr<State> m_state;
    int m_sampleRate = 0;
    int m_frameSamples = 0;
};

} // namespace peer

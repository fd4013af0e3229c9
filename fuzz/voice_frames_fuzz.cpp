// What an Opus voice peer sends, in reads of any size: the frames taken must not depend on the
// read boundaries, nothing past the bound is ever buffered, and every frame the reader passes on
// decodes to a bounded number of samples or to none.
#include "fuzz_check.h"
#include "peer/voice/opus_codec.h"
#include "peer/voice/voice_frames.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <memory>

namespace {

peer::OpusDecoder& decoder()
{
    static const std::unique_ptr<peer::OpusDecoder> instance = peer::OpusDecoder::make(48000);
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const auto chunkSeed = input.ConsumeIntegral<uint32_t>();
    const std::string stream = input.ConsumeRemainingBytesAsString();
    const QByteArrayView bytes(stream.data(), qsizetype(stream.size()));

    peer::VoiceFrameReader whole;
    const QList<QByteArray> frames = whole.feed(bytes);

    peer::VoiceFrameReader pieces;
    QList<QByteArray> pieced;
    quint32 seed = chunkSeed | 1;
    for (qsizetype at = 0; at < bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const qsizetype length = std::min<qsizetype>(1 + (seed >> 16) % 97, bytes.size() - at);
        pieced += pieces.feed(bytes.sliced(at, length));
        FUZZ_CHECK(pieces.bufferedBytes() <= peer::VoiceFrameReader::kMaxBufferedBytes);
        at += length;
    }
    FUZZ_CHECK(pieced == frames);
    FUZZ_CHECK(pieces.hasFailed() == whole.hasFailed());

    const int frame = decoder().frameSamples();
    for (const QByteArray& packet : frames) {
        FUZZ_CHECK(!packet.isEmpty() && packet.size() <= peer::kMaxVoiceFrameBytes);
        FUZZ_CHECK(peer::frameVoicePacket(packet).size() == packet.size() + 2);
        FUZZ_CHECK(decoder().decode(packet).size() <= 48000 * 120 / 1000);
        FUZZ_CHECK(decoder().conceal().size() == frame);
    }
    return 0;
}

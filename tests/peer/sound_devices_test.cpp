// The sound devices open in the format they are asked for. Through the sound module, as in the
// program, on the test sound server's devices: at the Opus chat's 48000 Hz, 16-bit, a tone spoken
// into a party's mouth is captured by its microphone, and a tone the program plays into its
// speaker is heard on its ear, each at the frequency it was made at.
#include "peer/voice/qt_sound.h"
#include "peer/voice/sound_module.h"
#include "tests/peer/voice_audio_rig.h"

#include <QAudioFormat>
#include <gtest/gtest.h>

#include <chrono>

namespace {

using peer::SoundFormat;

constexpr SoundFormat kOpus = SoundFormat::opus();
constexpr double kToneHz = 1000;
constexpr double kOtherHz = 440;

// Where the first sample louder than `threshold` (in 8-bit steps) lies, in bytes.
std::optional<qsizetype> onsetIn(QByteArrayView bytes, SoundFormat format, double threshold = 30)
{
    const std::vector<double> samples = voicerig::centred(bytes, format);
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > threshold)
            return qsizetype(i) * format.bytesPerSample();
    }
    return std::nullopt;
}

struct Measured
{
    bool heard = false;
    voicerig::WindowedShare tone;
    double otherShare = 0;
    double maxLevel = 0;
};

std::ostream& operator<<(std::ostream& out, const Measured& measured)
{
    return out << "tone share " << measured.tone.share << ", other frequency's share "
               << measured.otherShare << ", loud part " << measured.tone.loud << ", level "
               << measured.maxLevel;
}

// Waits until `received` holds the tone's onset and a further 800 ms, and measures the last
// 500 ms of those: the first 300 ms, when the devices may still be settling, are left out.
Measured measureTone(const QByteArray& received)
{
    const qsizetype skip = kOpus.bytesForMs(300);
    const qsizetype measured = kOpus.bytesForMs(500);
    std::optional<qsizetype> onset;
    voicerig::spinUntil(
        [&] {
            if (!onset)
                onset = onsetIn(received, kOpus);
            return onset && received.size() >= *onset + skip + measured;
        },
        6000);
    Measured result;
    result.maxLevel = voicerig::level(received, kOpus);
    if (!onset || received.size() < *onset + skip + measured)
        return result;
    result.heard = true;
    const QByteArrayView window = QByteArrayView(received).sliced(*onset + skip, measured);
    result.tone = voicerig::windowedShare(window, kToneHz, 10, kOpus);
    result.otherShare = voicerig::windowedShare(window, kOtherHz, 10, kOpus).share;
    return result;
}

// 20 ms of the tone: a whole number of its periods, so that frames follow each other seamlessly.
QByteArray toneFrame()
{
    QByteArray frame;
    const qsizetype samples = kOpus.bytesForMs(20) / kOpus.bytesPerSample();
    for (qsizetype i = 0; i < samples; ++i)
        voicerig::appendSample(frame, kOpus,
                               90.0 * std::sin(2 * voicerig::kPi * kToneHz * double(i) / 48000));
    return frame;
}

TEST(SoundDevices, ThePlainChatsBuffersStayAndTheOpusChatsAreAFrameOrTwo)
{
    EXPECT_EQ(SoundFormat::voice().bytesPerSecond(), 8000);
    EXPECT_EQ(kOpus.bytesPerSecond(), 96000);
    EXPECT_EQ(kOpus.bytesForMs(20), 1920);

    const peer::DeviceBuffers plain = peer::deviceBuffers(SoundFormat::voice());
    EXPECT_EQ(plain.captureBytes, 256);
    EXPECT_EQ(plain.playbackBytes, 1536);
    EXPECT_EQ(plain.readyPeriodMs, 16);
    const peer::DeviceBuffers opus = peer::deviceBuffers(kOpus);
    EXPECT_EQ(opus.captureBytes, 1920);
    EXPECT_EQ(opus.playbackBytes, 3840);
    EXPECT_EQ(opus.readyPeriodMs, 10);

    // What Qt is asked for counts the bytes as we do.
    const QAudioFormat voice = peer::audioFormat(SoundFormat::voice());
    EXPECT_EQ(voice.sampleFormat(), QAudioFormat::UInt8);
    EXPECT_EQ(voice.bytesForDuration(128'000), 1024);
    const QAudioFormat qtOpus = peer::audioFormat(kOpus);
    EXPECT_EQ(qtOpus.sampleRate(), 48000);
    EXPECT_EQ(qtOpus.channelCount(), 1);
    EXPECT_EQ(qtOpus.sampleFormat(), QAudioFormat::Int16);
    EXPECT_EQ(qtOpus.bytesForDuration(20'000), 1920);
}

TEST(SoundDevices, TheModulesDevicesCaptureAndPlayAToneAtTheOpusRate)
{
    voicerig::Watchdog watchdog("sound_devices_test", std::chrono::seconds(40));
    if (const auto missing = voicerig::missingDevice()) {
        FAIL() << "audio device " << missing->toStdString()
               << " is missing: run this test through tools/test, which starts the test sound "
                  "server with its devices";
    }
    peer::ModuleSoundSystem sound(QStringLiteral(KIVVO_SOUND_MODULE_PATH), "kivvo_a_mic",
                                  "kivvo_a_speaker");
    ASSERT_EQ(sound.prepare(), std::nullopt);

    watchdog.stage("capture");
    QElapsedTimer clock;
    clock.start();
    const std::unique_ptr<peer::SoundInput> input = sound.makeInput(kOpus);
    QByteArray captured;
    QObject::connect(input.get(), &peer::SoundInput::captured,
                     [&](const QByteArray& samples) { captured += samples; });
    ASSERT_EQ(input->start(), std::nullopt);
    {
        voicerig::Mouth mouth(voicerig::findOutput("kivvo_a_mouth"), clock, kOpus);
        mouth.tone().setTone(kToneHz);
        const Measured atMic = measureTone(captured);
        ASSERT_TRUE(atMic.heard) << "silence on kivvo_a_mic: " << atMic << " over "
                                 << captured.size() << " bytes";
        EXPECT_GT(atMic.tone.share, 0.9) << atMic;
        EXPECT_GT(atMic.tone.loud, 0.99) << atMic;
        EXPECT_LT(atMic.otherShare, 0.1) << atMic;
        EXPECT_EQ(captured.size() % 2, 0) << "a 16-bit sample split";
    }
    input->stop();

    watchdog.stage("playback");
    voicerig::Ear ear(voicerig::findInput("kivvo_a_ear"), clock, kOpus);
    const std::unique_ptr<peer::SoundOutput> output = sound.makeOutput(kOpus);
    const QByteArray frame = toneFrame();
    QByteArray pending;
    std::optional<peer::VoiceStatus> failure;
    // Kept a few frames ahead of the device, as the jitter buffer will be.
    QObject::connect(output.get(), &peer::SoundOutput::ready, [&] {
        while (pending.size() < 5 * frame.size())
            pending += frame;
        const peer::SoundOutput::Written written = output->write(pending);
        if (written.failure)
            failure = written.failure;
        pending.remove(0, written.taken);
    });
    ASSERT_EQ(output->start(), std::nullopt);
    const QByteArray& heard = ear.samples();
    const Measured atEar = measureTone(heard);
    output->stop();
    EXPECT_EQ(failure, std::nullopt);
    ASSERT_TRUE(atEar.heard) << "silence on kivvo_a_ear: " << atEar << " over " << heard.size()
                             << " bytes";
    EXPECT_GT(atEar.tone.share, 0.8) << atEar;
    EXPECT_GT(atEar.tone.loud, 0.8) << atEar;
    EXPECT_LT(atEar.otherShare, 0.2) << atEar;
}

} // namespace

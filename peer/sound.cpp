#include "peer/sound.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace peer {

namespace {

// Capture arrives in pieces of a quarter block, so a block is complete soon after its last
// sample was spoken.
constexpr qsizetype kCaptureBufferBytes = kVoiceBlockBytes / 4;
// The playback device holds a block and a half: a block arrives whole every 128 ms, and the
// half is the margin that keeps it from running dry in between. Two whole blocks added 120 ms of
// delay; one alone let the sound break up now and then.
constexpr qsizetype kPlaybackBufferBytes = kVoiceBlockBytes + kVoiceBlockBytes / 2;
// How often a playing device is offered more.
constexpr int kReadyPeriodMs = 16;

QAudioDevice pick(const QList<QAudioDevice>& devices, const QByteArray& id,
                  const QAudioDevice& fallback)
{
    if (id.isEmpty())
        return fallback;
    const auto it = std::find_if(devices.begin(), devices.end(),
                                 [&](const QAudioDevice& device) { return device.id() == id; });
    return it != devices.end() ? *it : QAudioDevice();
}

// A device is released from inside its own signals at times, so it goes later, with its owner
// at the latest.
template <typename Device> void dispose(Device*& device, QObject* owner)
{
    if (!device)
        return;
    device->disconnect(owner);
    device->stop();
    device->deleteLater();
    device = nullptr;
}

class QtInput : public SoundInput
{
public:
    explicit QtInput(QAudioDevice device)
        : m_device(std::move(device))
    {}
    ~QtInput() override { stop(); }

    std::optional<VoiceStatus> start() override
    {
        if (m_source)
            return std::nullopt;
        if (m_device.isNull() || !m_device.isFormatSupported(voiceFormat()))
            return VoiceStatus::CaptureOpenFailed;
        m_source = new QAudioSource(m_device, voiceFormat(), this);
        m_source->setBufferSize(kCaptureBufferBytes);
        QIODevice* io = m_source->start();
        if (!io) {
            stop();
            return VoiceStatus::CaptureQueueFailed;
        }
        if (m_source->error() != QAudio::NoError) {
            stop();
            return VoiceStatus::CaptureStartFailed;
        }
        connect(io, &QIODevice::readyRead, this, [this, io] {
            const QByteArray samples = io->readAll();
            if (!samples.isEmpty())
                emit captured(samples);
        });
        connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::StoppedState && m_source->error() != QAudio::NoError) {
                stop();
                emit failed(VoiceStatus::CaptureQueueFailed);
            }
        });
        return std::nullopt;
    }

    void stop() override { dispose(m_source, this); }

private:
    QAudioDevice m_device;
    QAudioSource* m_source = nullptr;
};

class QtOutput : public SoundOutput
{
public:
    explicit QtOutput(QAudioDevice device)
        : m_device(std::move(device))
    {
        connect(&m_ready, &QTimer::timeout, this, &SoundOutput::ready);
    }
    ~QtOutput() override { stop(); }

    std::optional<VoiceStatus> start() override
    {
        if (m_sink)
            return std::nullopt;
        if (m_device.isNull() || !m_device.isFormatSupported(voiceFormat()))
            return VoiceStatus::PlaybackOpenFailed;
        m_sink = new QAudioSink(m_device, voiceFormat(), this);
        m_sink->setBufferSize(kPlaybackBufferBytes);
        m_io = m_sink->start();
        if (!m_io || m_sink->error() != QAudio::NoError) {
            stop();
            return VoiceStatus::PlaybackOpenFailed;
        }
        m_ready.start(kReadyPeriodMs);
        return std::nullopt;
    }

    Written write(QByteArrayView samples) override
    {
        // A device that went away cannot take a block any more.
        if (!m_sink || !m_io || m_sink->error() == QAudio::OpenError
            || m_sink->error() == QAudio::FatalError)
            return {0, VoiceStatus::PlaybackPrepareFailed};
        const qint64 room = std::min<qint64>(m_sink->bytesFree(), samples.size());
        if (room <= 0)
            return {};
        const qint64 taken = m_io->write(samples.data(), room);
        if (taken < 0)
            return {0, VoiceStatus::PlaybackWriteFailed};
        return {taken, std::nullopt};
    }

    void stop() override
    {
        m_ready.stop();
        m_io = nullptr;
        dispose(m_sink, this);
    }

private:
    QAudioDevice m_device;
    QAudioSink* m_sink = nullptr;
    QPointer<QIODevice> m_io;
    QTimer m_ready;
};

} // namespace

QAudioFormat voiceFormat()
{
    QAudioFormat format;
    format.setSampleRate(kVoiceSampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::UInt8);
    return format;
}

QtSoundSystem::QtSoundSystem(QByteArray inputId, QByteArray outputId)
    : m_inputId(std::move(inputId))
    , m_outputId(std::move(outputId))
{}

std::unique_ptr<SoundInput> QtSoundSystem::makeInput()
{
    return std::make_unique<QtInput>(
        pick(QMediaDevices::audioInputs(), m_inputId, QMediaDevices::defaultAudioInput()));
}

std::unique_ptr<SoundOutput> QtSoundSystem::makeOutput()
{
    return std::make_unique<QtOutput>(
        pick(QMediaDevices::audioOutputs(), m_outputId, QMediaDevices::defaultAudioOutput()));
}

} // namespace peer

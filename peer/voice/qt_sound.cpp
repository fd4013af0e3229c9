#include "peer/voice/qt_sound.h"

#include "peer/voice/jitter_buffer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QMediaDevices>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace peer {

namespace {

// Buffers are chosen in milliseconds, which is what the listener hears as delay, and turned into
// bytes for the format the device runs at.
struct DeviceTimes
{
    int captureMs;
    int playbackMs;
    int readyPeriodMs;
};
// The plain voice chat's devices. Capture arrives in pieces of a quarter block (32 ms), so a
// block is complete soon after its last sample was spoken. The playback device holds a block and
// a half (192 ms): a block arrives whole every 128 ms, and the half is the margin that keeps it
// from running dry in between. Two whole blocks added 120 ms of delay; one alone let the sound
// break up now and then.
constexpr int kBlockMs = int(kVoiceBlockBytes * 1000 / kVoiceSampleRate);
constexpr DeviceTimes kBlockTimes{kBlockMs / 4, kBlockMs + kBlockMs / 2, 16};
// The Opus chat's devices, in milliseconds: sound comes and goes in 20 ms frames and the jitter
// buffer ahead of the player holds the margin against the network, so the device itself needs
// only one frame in capture and two in playback (one playing, one waiting), and to be offered
// the next one twice a frame.
constexpr DeviceTimes kFrameTimes{kVoiceFrameMs, 2 * kVoiceFrameMs, kVoiceFrameMs / 2};

QAudioDevice pick(const QList<QAudioDevice>& devices, const QByteArray& id,
                  const QAudioDevice& fallback)
{
    if (id.isEmpty())
        return fallback;
    const auto it = std::find_if(devices.begin(), devices.end(),
                                 [&](const QAudioDevice& device) { return device.id() == id; });
    return it != devices.end() ? *it : QAudioDevice();
}

// A device is released from inside its own signals at times, so it goes later, with its
// owner's context at the latest.
template <typename Device> void dispose(Device*& device, QObject* context)
{
    if (!device)
        return;
    device->disconnect(context);
    device->stop();
    device->deleteLater();
    device = nullptr;
}

class QtCapture : public CaptureDevice
{
public:
    QtCapture(QAudioDevice device, SoundFormat format, Events events)
        : m_device(std::move(device))
        , m_format(audioFormat(format))
        , m_bufferBytes(deviceBuffers(format).captureBytes)
        , m_events(std::move(events))
    {}
    ~QtCapture() override { stop(); }

    std::optional<VoiceStatus> start() override
    {
        if (m_source)
            return std::nullopt;
        if (m_device.isNull() || !m_device.isFormatSupported(m_format))
            return VoiceStatus::CaptureOpenFailed;
        m_source = new QAudioSource(m_device, m_format, &m_context);
        m_source->setBufferSize(m_bufferBytes);
        QIODevice* io = m_source->start();
        if (!io) {
            stop();
            return VoiceStatus::CaptureQueueFailed;
        }
        if (m_source->error() != QAudio::NoError) {
            stop();
            return VoiceStatus::CaptureStartFailed;
        }
        m_io = io;
        QObject::connect(io, &QIODevice::readyRead, &m_context, [this, io] {
            const QByteArray samples = io->readAll();
            if (!samples.isEmpty() && m_events.captured)
                m_events.captured(samples);
        });
        QObject::connect(
            m_source, &QAudioSource::stateChanged, &m_context, [this](QAudio::State state) {
                if (state == QAudio::StoppedState && m_source->error() != QAudio::NoError) {
                    stop();
                    if (m_events.failed)
                        m_events.failed(VoiceStatus::CaptureQueueFailed);
                }
            });
        return std::nullopt;
    }

    void stop() override
    {
        if (m_io)
            m_io->disconnect(&m_context);
        m_io = nullptr;
        dispose(m_source, &m_context);
    }

private:
    QAudioDevice m_device;
    QAudioFormat m_format;
    qsizetype m_bufferBytes;
    Events m_events;
    QObject m_context; // parent of the device and context of its connections
    QAudioSource* m_source = nullptr;
    QPointer<QIODevice> m_io;
};

class QtPlayback : public PlaybackDevice
{
public:
    QtPlayback(QAudioDevice device, SoundFormat format, std::function<void()> ready)
        : m_device(std::move(device))
        , m_format(audioFormat(format))
        , m_buffers(deviceBuffers(format))
        , m_onReady(std::move(ready))
    {
        QObject::connect(&m_ready, &QTimer::timeout, &m_context, [this] {
            if (m_onReady)
                m_onReady();
        });
    }
    ~QtPlayback() override { stop(); }

    std::optional<VoiceStatus> start() override
    {
        if (m_sink)
            return std::nullopt;
        if (m_device.isNull() || !m_device.isFormatSupported(m_format))
            return VoiceStatus::PlaybackOpenFailed;
        m_sink = new QAudioSink(m_device, m_format, &m_context);
        m_sink->setBufferSize(m_buffers.playbackBytes);
        m_io = m_sink->start();
        if (!m_io || m_sink->error() != QAudio::NoError) {
            stop();
            return VoiceStatus::PlaybackOpenFailed;
        }
        m_ready.start(m_buffers.readyPeriodMs);
        return std::nullopt;
    }

    DeviceWrite write(QByteArrayView samples) override
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
        dispose(m_sink, &m_context);
    }

private:
    QAudioDevice m_device;
    QAudioFormat m_format;
    DeviceBuffers m_buffers;
    std::function<void()> m_onReady;
    QObject m_context;
    QAudioSink* m_sink = nullptr;
    QPointer<QIODevice> m_io;
    QTimer m_ready;
};

} // namespace

QAudioFormat audioFormat(SoundFormat format)
{
    QAudioFormat qt;
    qt.setSampleRate(format.sampleRate);
    qt.setChannelCount(1);
    qt.setSampleFormat(format.sample == SoundFormat::Int16 ? QAudioFormat::Int16
                                                           : QAudioFormat::UInt8);
    return qt;
}

DeviceBuffers deviceBuffers(SoundFormat format)
{
    const DeviceTimes& times = format == SoundFormat::voice() ? kBlockTimes : kFrameTimes;
    return {format.bytesForMs(times.captureMs), format.bytesForMs(times.playbackMs),
            times.readyPeriodMs};
}

std::unique_ptr<CaptureDevice> QtSoundBackend::makeCapture(const QByteArray& id, SoundFormat format,
                                                           CaptureDevice::Events events)
{
    return std::make_unique<QtCapture>(
        pick(QMediaDevices::audioInputs(), id, QMediaDevices::defaultAudioInput()), format,
        std::move(events));
}

std::unique_ptr<PlaybackDevice>
QtSoundBackend::makePlayback(const QByteArray& id, SoundFormat format, std::function<void()> ready)
{
    return std::make_unique<QtPlayback>(
        pick(QMediaDevices::audioOutputs(), id, QMediaDevices::defaultAudioOutput()), format,
        std::move(ready));
}

} // namespace peer

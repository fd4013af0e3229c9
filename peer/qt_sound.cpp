#include "peer/qt_sound.h"

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
    QtCapture(QAudioDevice device, Events events)
        : m_device(std::move(device))
        , m_events(std::move(events))
    {}
    ~QtCapture() override { stop(); }

    std::optional<VoiceStatus> start() override
    {
        if (m_source)
            return std::nullopt;
        if (m_device.isNull() || !m_device.isFormatSupported(voiceFormat()))
            return VoiceStatus::CaptureOpenFailed;
        m_source = new QAudioSource(m_device, voiceFormat(), &m_context);
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
    Events m_events;
    QObject m_context; // parent of the device and context of its connections
    QAudioSource* m_source = nullptr;
    QPointer<QIODevice> m_io;
};

class QtPlayback : public PlaybackDevice
{
public:
    QtPlayback(QAudioDevice device, std::function<void()> ready)
        : m_device(std::move(device))
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
        if (m_device.isNull() || !m_device.isFormatSupported(voiceFormat()))
            return VoiceStatus::PlaybackOpenFailed;
        m_sink = new QAudioSink(m_device, voiceFormat(), &m_context);
        m_sink->setBufferSize(kPlaybackBufferBytes);
        m_io = m_sink->start();
        if (!m_io || m_sink->error() != QAudio::NoError) {
            stop();
            return VoiceStatus::PlaybackOpenFailed;
        }
        m_ready.start(kReadyPeriodMs);
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
    std::function<void()> m_onReady;
    QObject m_context;
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

std::unique_ptr<CaptureDevice> QtSoundBackend::makeCapture(const QByteArray& id,
                                                           CaptureDevice::Events events)
{
    return std::make_unique<QtCapture>(
        pick(QMediaDevices::audioInputs(), id, QMediaDevices::defaultAudioInput()),
        std::move(events));
}

std::unique_ptr<PlaybackDevice> QtSoundBackend::makePlayback(const QByteArray& id,
                                                             std::function<void()> ready)
{
    return std::make_unique<QtPlayback>(
        pick(QMediaDevices::audioOutputs(), id, QMediaDevices::defaultAudioOutput()),
        std::move(ready));
}

} // namespace peer

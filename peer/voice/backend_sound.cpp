#include "peer/voice/backend_sound.h"

#include "peer/voice/sound_backend.h"

namespace peer {

namespace {

// The device reports through callbacks; they become this object's signals. The device goes
// with it, so no callback outlives it.
class BackendInput : public SoundInput
{
public:
    BackendInput(SoundBackend& backend, const QByteArray& id, SoundFormat format)
    {
        CaptureDevice::Events events;
        events.captured = [this](const QByteArray& samples) { emit captured(samples); };
        events.failed = [this](VoiceStatus status) { emit failed(status); };
        m_device = backend.makeCapture(id, format, std::move(events));
    }

    std::optional<VoiceStatus> start() override { return m_device->start(); }
    void stop() override { m_device->stop(); }

private:
    std::unique_ptr<CaptureDevice> m_device;
};

class BackendOutput : public SoundOutput
{
public:
    BackendOutput(SoundBackend& backend, const QByteArray& id, SoundFormat format)
        : m_device(backend.makePlayback(id, format, [this] { emit ready(); }))
    {}

    std::optional<VoiceStatus> start() override { return m_device->start(); }
    Written write(QByteArrayView samples) override { return m_device->write(samples); }
    void stop() override { m_device->stop(); }

private:
    std::unique_ptr<PlaybackDevice> m_device;
};

} // namespace

BackendSoundSystem::BackendSoundSystem(SoundBackend& backend, QByteArray inputId,
                                       QByteArray outputId)
    : m_backend(backend)
    , m_inputId(std::move(inputId))
    , m_outputId(std::move(outputId))
{}

std::unique_ptr<SoundInput> BackendSoundSystem::makeInput(SoundFormat format)
{
    return std::make_unique<BackendInput>(m_backend, m_inputId, format);
}

std::unique_ptr<SoundOutput> BackendSoundSystem::makeOutput(SoundFormat format)
{
    return std::make_unique<BackendOutput>(m_backend, m_outputId, format);
}

} // namespace peer

#pragma once

#include "peer/voice_core.h"

#include <QAudioDevice>
#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <memory>
#include <optional>

namespace peer {

// A capture device delivering the voice format (8000 Hz, 1 channel, unsigned 8-bit samples).
class SoundInput : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens and starts capture; the status line of the step that failed, if one did.
    virtual std::optional<VoiceStatus> start() = 0;
    // Stops and closes the device; harmless when it is not open.
    virtual void stop() = 0;

signals:
    // Samples as the device delivers them, in whatever amounts it chooses.
    void captured(const QByteArray& samples);
    // The device stopped by itself with an error; it is closed.
    void failed(peer::VoiceStatus status);
};

// A playback device taking the voice format by the amount it has room for.
class SoundOutput : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens and starts playback; the status line of the failure, if there was one.
    virtual std::optional<VoiceStatus> start() = 0;
    // Gives the device what it has room for now of `samples`: the number of bytes it took, or
    // the status line of the failure.
    struct Written
    {
        qint64 taken = 0;
        std::optional<VoiceStatus> failure;
    };
    virtual Written write(QByteArrayView samples) = 0;
    virtual void stop() = 0;

signals:
    // The device may have room for more.
    void ready();
};

// Where voice chats get their devices: the sound server in the program, scripted ones in tests.
class SoundSystem
{
public:
    virtual ~SoundSystem() = default;
    virtual std::unique_ptr<SoundInput> makeInput() = 0;
    virtual std::unique_ptr<SoundOutput> makeOutput() = 0;
};

// The system's sound server through Qt Multimedia: the default devices, or the ones given.
class QtSoundSystem : public SoundSystem
{
public:
    QtSoundSystem() = default;
    // Device ids as QAudioDevice::id() gives them; an empty id means the default device.
    QtSoundSystem(QByteArray inputId, QByteArray outputId);

    std::unique_ptr<SoundInput> makeInput() override;
    std::unique_ptr<SoundOutput> makeOutput() override;

private:
    QByteArray m_inputId;
    QByteArray m_outputId;
};

// 8000 samples a second, one channel, unsigned 8-bit.
class QAudioFormat voiceFormat();

} // namespace peer

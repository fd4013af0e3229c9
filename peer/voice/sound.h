#pragma once

#include "peer/voice/sound_backend.h"
#include "peer/voice/voice_core.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace peer {

// A capture device delivering the format it was made with (SoundSystem::makeInput).
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

// A playback device taking the format it was made with, by the amount it has room for.
class SoundOutput : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens and starts playback; the status line of the failure, if there was one.
    virtual std::optional<VoiceStatus> start() = 0;
    // Gives the device what it has room for now of `samples`: the number of bytes it took, or
    // the status line of the failure.
    using Written = DeviceWrite;
    virtual Written write(QByteArrayView samples) = 0;
    virtual void stop() = 0;

signals:
    // The device may have room for more.
    void ready();
};

// Where voice chats get their devices: the sound module in the program (ModuleSoundSystem),
// scripted ones in tests.
class SoundSystem
{
public:
    virtual ~SoundSystem() = default;
    // Gets the devices ready to be made, loading what they need the first time: nothing when
    // they can be made, else why not, in words for the voice window. A voice chat asks before
    // it starts.
    virtual std::optional<QString> prepare() { return std::nullopt; }
    // The plain voice chat's format unless another is asked for.
    virtual std::unique_ptr<SoundInput> makeInput(SoundFormat format = SoundFormat::voice()) = 0;
    virtual std::unique_ptr<SoundOutput> makeOutput(SoundFormat format = SoundFormat::voice()) = 0;
};

} // namespace peer

#pragma once

#include "peer/voice_core.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

// What the sound module (peer/sound_plugin.cpp, over Qt Multimedia) gives the program: sound
// devices that report through plain callbacks. The module is loaded by the first voice chat, so
// that the program starts without Qt Multimedia. These interfaces are all the two share: header
// only, no signals of ours, so that the module needs none of the program's compiled code.
namespace peer {

// What a playback device took of the samples it was offered.
struct DeviceWrite
{
    qint64 taken = 0;
    std::optional<VoiceStatus> failure;
};

// A capture device delivering the voice format (8000 Hz, 1 channel, unsigned 8-bit samples).
class CaptureDevice
{
public:
    struct Events
    {
        // Samples as the device delivers them, in whatever amounts it chooses.
        std::function<void(const QByteArray& samples)> captured;
        // The device stopped by itself with an error; it is closed.
        std::function<void(VoiceStatus status)> failed;
    };

    virtual ~CaptureDevice() = default;
    // Opens and starts capture; the status line of the step that failed, if one did.
    virtual std::optional<VoiceStatus> start() = 0;
    // Stops and closes the device; harmless when it is not open.
    virtual void stop() = 0;
};

// A playback device taking the voice format by the amount it has room for.
class PlaybackDevice
{
public:
    virtual ~PlaybackDevice() = default;
    virtual std::optional<VoiceStatus> start() = 0;
    // Takes what the device has room for now of `samples`.
    virtual DeviceWrite write(QByteArrayView samples) = 0;
    virtual void stop() = 0;
};

class SoundBackend
{
public:
    virtual ~SoundBackend() = default;
    // `id` as QAudioDevice::id() gives it, empty for the default device. A device that is not
    // there is made all the same; its start() fails. The events may come until the device is
    // stopped or destroyed, never from inside start() or stop().
    virtual std::unique_ptr<CaptureDevice> makeCapture(const QByteArray& id,
                                                       CaptureDevice::Events events) = 0;
    // `ready`: the device may have room for more.
    virtual std::unique_ptr<PlaybackDevice> makePlayback(const QByteArray& id,
                                                         std::function<void()> ready) = 0;
};

} // namespace peer

// Changed with every change to the classes above, so that a module of another build is refused
// rather than called through a different layout.
#define KIVVO_SOUND_BACKEND_IID "org.kivvo.Kivvo.SoundBackend/1"
Q_DECLARE_INTERFACE(peer::SoundBackend, KIVVO_SOUND_BACKEND_IID)

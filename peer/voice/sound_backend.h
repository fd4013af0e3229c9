#pragma once

#include "peer/voice/voice_core.h"

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

// What a device carries: always one channel; the sample rate and the kind of sample vary.
// voice() is the plain voice chat's (8000 Hz, unsigned 8-bit), opus() what the Opus codec
// encodes from and decodes to (48000 Hz, signed 16-bit in native byte order).
struct SoundFormat
{
    enum Sample { UInt8, Int16 };

    int sampleRate = kVoiceSampleRate;
    Sample sample = UInt8;

    static constexpr SoundFormat voice() { return {kVoiceSampleRate, UInt8}; }
    static constexpr SoundFormat opus() { return {kOpusSampleRate, Int16}; }

    constexpr int bytesPerSample() const { return sample == Int16 ? 2 : 1; }
    constexpr int bytesPerSecond() const { return sampleRate * bytesPerSample(); }
    // Whole samples only, so that a buffer of this size never splits one.
    constexpr qsizetype bytesForMs(int ms) const
    {
        return qsizetype(qint64(sampleRate) * ms / 1000) * bytesPerSample();
    }

    constexpr bool operator==(const SoundFormat& o) const
    {
        return sampleRate == o.sampleRate && sample == o.sample;
    }
    constexpr bool operator!=(const SoundFormat& o) const { return !(*this == o); }
};

// What a playback device took of the samples it was offered.
struct DeviceWrite
{
    qint64 taken = 0;
    std::optional<VoiceStatus> failure;
};

// A capture device delivering the format it was made with.
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

// A playback device taking the format it was made with, by the amount it has room for.
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
    // stopped or destroyed, never from inside start() or stop(). A format the device cannot
    // take is found out by start(), which then fails as for a missing device.
    virtual std::unique_ptr<CaptureDevice> makeCapture(const QByteArray& id, SoundFormat format,
                                                       CaptureDevice::Events events) = 0;
    // `ready`: the device may have room for more.
    virtual std::unique_ptr<PlaybackDevice> makePlayback(const QByteArray& id, SoundFormat format,
                                                         std::function<void()> ready) = 0;
};

} // namespace peer

// Changed with every change to the classes above, so that a module of another build is refused
// rather than called through a different layout.
#define KIVVO_SOUND_BACKEND_IID "org.kivvo.Kivvo.SoundBackend/2"
Q_DECLARE_INTERFACE(peer::SoundBackend, KIVVO_SOUND_BACKEND_IID)

#pragma once

#include "peer/voice/sound_backend.h"

class QAudioFormat;

namespace peer {

// The system's sound server through Qt Multimedia (QAudioSource, QAudioSink). The sound module
// serves the program with it; the suites and benchmarks that use the real devices link it in.
class QtSoundBackend : public SoundBackend
{
public:
    std::unique_ptr<CaptureDevice> makeCapture(const QByteArray& id, SoundFormat format,
                                               CaptureDevice::Events events) override;
    std::unique_ptr<PlaybackDevice> makePlayback(const QByteArray& id, SoundFormat format,
                                                 std::function<void()> ready) override;
};

// Qt's description of `format`: one channel, the rate and kind of sample it names.
QAudioFormat audioFormat(SoundFormat format);

// How a device of a format is driven: the sizes asked of the sound server and how often a
// playing device is offered more.
struct DeviceBuffers
{
    qsizetype captureBytes = 0;
    qsizetype playbackBytes = 0;
    int readyPeriodMs = 0;
};
DeviceBuffers deviceBuffers(SoundFormat format);

} // namespace peer

#pragma once

#include "peer/sound_backend.h"

class QAudioFormat;

namespace peer {

// The system's sound server through Qt Multimedia (QAudioSource, QAudioSink). The sound module
// serves the program with it; the suites and benchmarks that use the real devices link it in.
class QtSoundBackend : public SoundBackend
{
public:
    std::unique_ptr<CaptureDevice> makeCapture(const QByteArray& id,
                                               CaptureDevice::Events events) override;
    std::unique_ptr<PlaybackDevice> makePlayback(const QByteArray& id,
                                                 std::function<void()> ready) override;
};

// 8000 samples a second, one channel, unsigned 8-bit.
QAudioFormat voiceFormat();

} // namespace peer

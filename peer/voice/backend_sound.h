#pragma once

#include "peer/voice/sound.h"

#include <QByteArray>

namespace peer {

class SoundBackend;

// Voice chats' devices (SoundInput, SoundOutput) over the plain devices of a SoundBackend: the
// sound module's in the program, Qt Multimedia's linked in by suites and benchmarks.
class BackendSoundSystem : public SoundSystem
{
public:
    // `backend` outlives this and every device made. Device ids as QAudioDevice::id() gives
    // them; an empty id means the default device.
    explicit BackendSoundSystem(SoundBackend& backend, QByteArray inputId = {},
                                QByteArray outputId = {});

    std::unique_ptr<SoundInput> makeInput(SoundFormat format = SoundFormat::voice()) override;
    std::unique_ptr<SoundOutput> makeOutput(SoundFormat format = SoundFormat::voice()) override;

private:
    SoundBackend& m_backend;
    QByteArray m_inputId;
    QByteArray m_outputId;
};

} // namespace peer

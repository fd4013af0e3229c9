#pragma once

#include "peer/voice/sound.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QPluginLoader;

namespace peer {

class BackendSoundSystem;

// The system's sound devices through the sound module (Qt Multimedia), loaded when the first
// voice chat asks (prepare()), so that the program starts without it. A module that cannot be
// loaded is said in the voice window, and tried again by the next voice chat. Once loaded it
// stays to the end of the process: the code of its devices must outlive every device.
class ModuleSoundSystem : public SoundSystem
{
public:
    // `path` is the module's file; empty for where this installation keeps it (modulePath()).
    // Device ids as QAudioDevice::id() gives them; an empty id means the default device.
    explicit ModuleSoundSystem(QString path = {}, QByteArray inputId = {},
                               QByteArray outputId = {});
    ~ModuleSoundSystem() override;
    ModuleSoundSystem(const ModuleSoundSystem&) = delete;
    ModuleSoundSystem& operator=(const ModuleSoundSystem&) = delete;

    std::optional<QString> prepare() override;
    // Without the module, devices whose start() fails.
    std::unique_ptr<SoundInput> makeInput(SoundFormat format = SoundFormat::voice()) override;
    std::unique_ptr<SoundOutput> makeOutput(SoundFormat format = SoundFormat::voice()) override;

    bool isLoaded() const { return m_devices != nullptr; }
    // The file loaded, or to be loaded.
    QString path() const;

    // Where the program finds the module: KIVVO_SOUND_MODULE when set (tests), else in the
    // library folder of the installation the program runs from, else beside the program (the
    // build tree).
    static QString modulePath();

private:
    QString m_path;
    QByteArray m_inputId;
    QByteArray m_outputId;
    std::unique_ptr<QPluginLoader> m_loader;
    std::unique_ptr<BackendSoundSystem> m_devices;
};

} // namespace peer

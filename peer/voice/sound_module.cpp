#include "peer/voice/sound_module.h"

#include "diag/debug_log.h"
#include "peer/common/texts.h"
#include "peer/voice/backend_sound.h"
#include "peer/voice/sound_backend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPluginLoader>

#ifndef KIVVO_SOUND_MODULE_FILE
#error "the build names the sound module's file (peer/CMakeLists.txt)"
#endif

namespace peer {

namespace {

// Stands in for a device when the module could not be loaded: it never opens.
class AbsentInput : public SoundInput
{
public:
    std::optional<VoiceStatus> start() override { return VoiceStatus::CaptureOpenFailed; }
    void stop() override {}
};

class AbsentOutput : public SoundOutput
{
public:
    std::optional<VoiceStatus> start() override { return VoiceStatus::PlaybackOpenFailed; }
    Written write(QByteArrayView) override { return {0, VoiceStatus::PlaybackPrepareFailed}; }
    void stop() override {}
};

} // namespace

ModuleSoundSystem::ModuleSoundSystem(QString path, QByteArray inputId, QByteArray outputId)
    : m_path(std::move(path))
    , m_inputId(std::move(inputId))
    , m_outputId(std::move(outputId))
{}

// The devices made go with their calls, before this; the loader keeps the module loaded.
ModuleSoundSystem::~ModuleSoundSystem() = default;

QString ModuleSoundSystem::path() const
{
    return m_path.isEmpty() ? modulePath() : m_path;
}

QString ModuleSoundSystem::modulePath()
{
    const QString chosen = qEnvironmentVariable("KIVVO_SOUND_MODULE");
    if (!chosen.isEmpty())
        return chosen;
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString installed = QDir::cleanPath(
        programDir + QStringLiteral("/" KIVVO_SOUND_MODULE_DIR "/" KIVVO_SOUND_MODULE_FILE));
    const QString beside = programDir + QStringLiteral("/" KIVVO_SOUND_MODULE_FILE);
    if (!QFileInfo::exists(installed) && QFileInfo::exists(beside))
        return beside;
    return installed;
}

std::optional<QString> ModuleSoundSystem::prepare()
{
    if (m_devices)
        return std::nullopt;
    // A fresh loader each time: a loader remembers that a file was no plugin.
    const QString file = path();
    auto loader = std::make_unique<QPluginLoader>(file);
    QObject* root = loader->instance();
    if (!root) {
        const QString failure = soundModuleFailedText(file, loader->errorString());
        diag::DebugLog(failure);
        return failure;
    }
    auto* backend = qobject_cast<SoundBackend*>(root);
    if (!backend) {
        const QString failure = soundModuleFailedText(
            file, QCoreApplication::translate("peer", "it is not this program's sound module"));
        diag::DebugLog(failure);
        return failure;
    }
    m_loader = std::move(loader);
    m_devices = std::make_unique<BackendSoundSystem>(*backend, m_inputId, m_outputId);
    diag::DebugLog(QStringLiteral("Loaded the sound module %1").arg(file), 2);
    return std::nullopt;
}

std::unique_ptr<SoundInput> ModuleSoundSystem::makeInput(SoundFormat format)
{
    if (prepare())
        return std::make_unique<AbsentInput>();
    return m_devices->makeInput(format);
}

std::unique_ptr<SoundOutput> ModuleSoundSystem::makeOutput(SoundFormat format)
{
    if (prepare())
        return std::make_unique<AbsentOutput>();
    return m_devices->makeOutput(format);
}

} // namespace peer

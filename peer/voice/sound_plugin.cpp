// The sound module: the one object the program finds in it (through QPluginLoader) is the
// SoundBackend over Qt Multimedia. Built as a module of its own (kivvo-sound.so) that only the
// first voice chat loads; nothing of the program is linked into it.
#include "peer/voice/qt_sound.h"
#include "peer/voice/sound_backend.h"

#include <QObject>

namespace peer {

class SoundPlugin : public QObject, public SoundBackend
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KIVVO_SOUND_BACKEND_IID)
    Q_INTERFACES(peer::SoundBackend)

public:
    std::unique_ptr<CaptureDevice> makeCapture(const QByteArray& id, SoundFormat format,
                                               CaptureDevice::Events events) override
    {
        return m_devices.makeCapture(id, format, std::move(events));
    }
    std::unique_ptr<PlaybackDevice> makePlayback(const QByteArray& id, SoundFormat format,
                                                 std::function<void()> ready) override
    {
        return m_devices.makePlayback(id, format, std::move(ready));
    }

private:
    QtSoundBackend m_devices;
};

} // namespace peer

#include "sound_plugin.moc"

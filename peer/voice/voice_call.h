#pragma once

#include "peer/voice/sound_backend.h"
#include "peer/voice/voice_core.h"
#include "peer/voice/voice_negotiation.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <memory>
#include <vector>

namespace peer {

class SoundInput;
class SoundOutput;
class SoundSystem;
class VoiceLink;

// One voice chat with one peer: normally two links, one each way, and the two sound devices
// behind them. The capture device runs while a capturing link is connected, the playback device
// while a playing one is. When either link closes, the chat ends: both links and both devices
// are released at once, and the call stays only as the record its window shows.
class VoiceCall : public QObject
{
    Q_OBJECT

public:
    VoiceCall(SoundSystem& sound, const QByteArray& peerNick, QObject* parent = nullptr);
    ~VoiceCall() override;
    VoiceCall(const VoiceCall&) = delete;
    VoiceCall& operator=(const VoiceCall&) = delete;

    const QByteArray& peerNick() const { return m_peerNick; }
    // Takes a link that is listening or connecting.
    VoiceLink* add(std::unique_ptr<VoiceLink> link);
    QList<VoiceLeg> legs() const;
    int linkCount() const { return int(m_links.size()); }
    VoiceLink* link(int index) const { return m_links.at(size_t(index)); }
    bool hasEnded() const { return m_ended; }
    bool isCapturing() const { return m_input != nullptr; }
    bool isPlaying() const { return m_output != nullptr; }

    // Closes every link and releases both devices; the call has ended for good.
    void end();

signals:
    void status(peer::VoiceStatus status);
    void linkConnected(peer::VoiceLink* link);
    // The link agreed with its peer on what it carries (VoiceLink::codec()).
    void codecKnown(peer::VoiceLink* link);
    void ended();

private:
    void connected(VoiceLink* link);
    void codecChosen(VoiceLink* link, VoiceCodec codec);
    void startCapture(const SoundFormat& format);
    void startPlayback(const SoundFormat& format);
    void play();
    void stopCapture();
    void stopPlayback();
    void release();

    SoundSystem& m_sound;
    QByteArray m_peerNick;
    std::vector<VoiceLink*> m_links; // children of the call
    SoundInput* m_input = nullptr;
    SoundOutput* m_output = nullptr;
    bool m_ended = false;
};

// What the call's links carry, for its window: "Opus 48 kHz, sending 19 kbit/s, delay 62 ms",
// or the plain samples' "8 kHz samples, 64 kbit/s"; empty until a link knows.
QString voiceCodecText(const VoiceCall& call);

} // namespace peer

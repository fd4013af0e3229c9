#pragma once

#include "irc/dcc_offer.h"
#include "peer/common/texts.h"
#include "peer/common/window_placer.h"
#include "peer/voice/voice_core.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

namespace peer {

class ChatHost;
class SoundSystem;
class VoiceCall;
class VoiceWindow;

// Every voice chat of the run, each with its window and the status text of its own.
// A chat goes when its window closes; at the end windows go first, then the chats with their
// links and devices.
class VoiceChats : public QObject
{
    Q_OBJECT

public:
    VoiceChats(ChatHost& host, SoundSystem& sound, QObject* parent = nullptr);
    ~VoiceChats() override;
    VoiceChats(const VoiceChats&) = delete;
    VoiceChats& operator=(const VoiceChats&) = delete;

    // Windows of voice chats are owned by this widget (the main window).
    void setWindowOwner(QWidget* owner) { m_owner = owner; }
    void setPlacer(std::shared_ptr<WindowPlacer> placer) { m_placer = std::move(placer); }

    // The user starts a voice chat with `nick`: an offer and a window near `near` (the chat it
    // was started from; the owner when null), unless a voice window is open already
    // (alreadyOpen()). Without sound devices the window says why, and nothing is offered.
    void start(const QByteArray& nick, const QWidget* near = nullptr);
    // Whether `offer` is the return link of a chat we started, taken up without asking.
    bool answersOurOffer(const irc::DccOffer& offer) const;
    // Takes up an offer: the return link joins its chat; any other opens a chat of its own.
    // Without sound devices (the sound module could not be loaded) a chat that would start, by
    // either, opens its window with the reason and ends there.
    void accept(const irc::DccOffer& offer);
    // Readies the sound devices ahead of a chat that may come (an offer the user is asked
    // about), so that Qt Multimedia is loaded by the first voice chat, never at start.
    void prepareSound();

    int count() const { return int(m_entries.size()); }
    VoiceCall* at(int index) const;
    VoiceWindow* windowOf(const VoiceCall* call) const;
    // The status lines `call`'s window shows: each chat starts a text of its own.
    const VoiceStatusLog& statusLogOf(const VoiceCall* call) const;

    // Whether our links offer and take up Opus (on by default); off, they speak only the plain
    // voice chat, byte for byte as before Opus existed.
    void setOpus(bool opus) { m_opus = opus; }

    // Windows first, then the chats.
    void closeAll();

signals:
    void alreadyOpen();
    void failed(peer::VoiceError error);

private:
    struct Entry
    {
        std::unique_ptr<VoiceCall> call;
        QPointer<VoiceWindow> window;
        bool established = false; // "Connection established." was shown for it
        VoiceStatusLog log;
    };

    QList<VoiceLeg> allLegs() const;
    VoiceCall* awaitingReturn(const QByteArray& nick) const;
    bool offerLink(VoiceCall& call, const QByteArray& nick, bool isReturn);
    VoiceCall& add(std::unique_ptr<VoiceCall> call, std::optional<VoiceStatus> first,
                   WindowPlacer::Opener opener, const QWidget* near = nullptr);
    void showUnavailable(const QByteArray& nick, const QString& why, const QWidget* near = nullptr);
    void linkConnected(VoiceCall& call, const class VoiceLink& link);
    void showStatus(const VoiceCall* call, VoiceStatus status);
    void showLine(const VoiceCall* call, const QString& line);
    void remove(const VoiceCall* call);
    // Each window's line on what its links carry, once a second while a chat runs.
    void showCodecs();

    ChatHost& m_host;
    SoundSystem& m_sound;
    QPointer<QWidget> m_owner;
    std::shared_ptr<WindowPlacer> m_placer = std::make_shared<WindowPlacer>();
    std::vector<Entry> m_entries;
    QTimer* m_codecs;
    bool m_opus = true;
};

} // namespace peer

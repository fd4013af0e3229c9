#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// Whether a voice link carries Opus or the plain 8 kHz samples, agreed on the link itself.
//
// The offer on IRC stays the plain "DCC VOICE <address> <port>", byte for byte: a program that
// speaks only the plain voice chat never sees a type word it would show as chat text (an unknown
// DCC type reaches the chat window as text) nor a field it might misread. The agreement runs on
// each one-way link, between the side that captures (it offered and listened) and the side that
// plays (it connected), before any sound:
//
//   capture  -> playback   kVoiceOpusOffer    8 bytes of near-silence (0x7C..0x84)
//   playback -> capture    kVoiceOpusAccept   "KVOPUS/A"
//   capture  -> playback   kVoiceOpusConfirm  "KVOPUS/C", then Opus packets
//
// A plain player hears the offer as 1 ms of near-silence and acknowledges it with a 4-byte count
// whose first byte is 0, which is never the start of the accept word: the capturing side goes
// plain at once, and at the latest kVoiceOpusAnswerWaitMs after the link connected if nothing
// came. A plain capturer sends samples straight away and is never sent anything before it has
// sent something; an Opus player goes plain at the first byte that does not fit the offer. Only
// the confirm commits the player to Opus, so samples that happen to look like the offer cost 8
// bytes of sound, nothing more, and an accept that comes after the capturer gave up is dropped
// while the capturer's plain samples make the player go plain too.
namespace peer {

inline constexpr char kVoiceOpusOffer[] = "\x7C\x84\x7D\x83\x7E\x82\x7F\x81";
inline constexpr char kVoiceOpusAccept[] = "KVOPUS/A";
inline constexpr char kVoiceOpusConfirm[] = "KVOPUS/C";
inline constexpr qsizetype kVoiceOpusWordBytes = 8;
// A plain peer answers within a round trip; this bounds the wait for one that says nothing, well
// inside the five seconds after which a plain peer must be heard.
inline constexpr qint64 kVoiceOpusAnswerWaitMs = 2000;

enum class VoiceCodec { Undecided, Plain, Opus };

class VoiceNegotiation
{
public:
    enum class Side { Capture, Playback };
    struct Step
    {
        QByteArray send;   // to write to the link now
        QByteArray passOn; // bytes of the link that belong to the codec chosen

        bool operator==(const Step& o) const { return send == o.send && passOn == o.passOn; }
    };

    // `opus` false makes a side that speaks only the plain voice chat, as a peer that cannot
    // speak Opus does.
    explicit VoiceNegotiation(Side side, bool opus = true);

    Step connected(qint64 nowMs);
    Step received(QByteArrayView bytes, qint64 nowMs);
    // Called at deadline(): the capturing side gives up waiting for an accept and goes plain.
    void elapsed(qint64 nowMs);

    // When elapsed() must be called; nothing when no wait runs.
    std::optional<qint64> deadline() const;
    VoiceCodec codec() const { return m_codec; }
    // The capturing side went plain because no answer came in time.
    bool timedOut() const { return m_timedOut; }

private:
    enum class Stage { Idle, AwaitAccept, AwaitOffer, AwaitConfirm, DropLateAccept, Done };

    Step receivedOnce();
    Step finish(VoiceCodec codec, qsizetype consumed, const QByteArray& send = {});

    Side m_side;
    bool m_opus;
    Stage m_stage = Stage::Idle;
    VoiceCodec m_codec = VoiceCodec::Undecided;
    qint64 m_deadlineMs = 0;
    bool m_timedOut = false;
    QByteArray m_head; // bytes read while the stage's word may still be coming
};

} // namespace peer

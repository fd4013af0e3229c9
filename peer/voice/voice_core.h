#pragma once

#include "peer/common/nick_rule.h"
#include "peer/transfer/transfer_core.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <optional>

// The voice chat's logic apart from sockets and sound devices: the capturing side's one block in
// flight, the playing side's queue and acknowledgements, when a second leg is offered or taken
// without asking, and the status text of a voice window.
namespace peer {

// Sound goes as 8000 unsigned 8-bit mono samples a second, in blocks of 1024 bytes (128 ms).
inline constexpr int kVoiceSampleRate = 8000;
inline constexpr qsizetype kVoiceBlockBytes = 1024;
// The Opus voice chat's devices run at the codec's full rate, 16-bit mono.
inline constexpr int kOpusSampleRate = 48000;
// Blocks waiting for the playback device; one more arriving is dropped.
inline constexpr int kMaxQueuedVoiceBlocks = 2;
// A voice window's status text stops growing here.
inline constexpr qsizetype kMaxVoiceStatusBytes = 64 * 1024;

// The capturing side of a link: frames captured samples into blocks and sends one at a time.
// A block completed while the previous one is unacknowledged is dropped, not queued, so that
// the delay stays at about one block at the price of gaps.
class CaptureGate
{
public:
    // Takes samples as the capture device delivers them, in any amounts. Returns the block to
    // send now (1024 bytes, written as they are), if one was completed while none is in flight.
    std::optional<QByteArray> captured(QByteArrayView samples);
    // Takes bytes read from the link, which carry 4-byte acknowledgements however TCP splits or
    // joins them. True when an acknowledgement completed and released the block in flight.
    bool received(QByteArrayView bytes);

    bool inFlight() const { return m_inFlight; }
    quint64 sentBlocks() const { return m_sent; }
    quint64 droppedBlocks() const { return m_dropped; }
    // The value of the newest acknowledgement, set back to 0 when a block completes while it is
    // 1024 or more. It is kept for the record only: the player's count restarts at every 1024
    // and names no block, so only an acknowledgement's arrival counts.
    quint32 ackCount() const { return m_ackCount; }

private:
    QByteArray m_filling;
    AckReader m_acks;
    bool m_inFlight = false;
    quint64 m_sent = 0;
    quint64 m_dropped = 0;
    quint32 m_ackCount = 0;
};

// The playing side of a link: frames received bytes into blocks, queues at most two for the
// playback device, and says when to acknowledge. The device takes what it accepts of the oldest
// block; the rest waits for its next turn. Taking a whole block counts as having played it, so
// the device's own buffer should stay small (peer/sound.cpp).
class PlaybackQueue
{
public:
    struct Received
    {
        // 4 bytes to send back, big-endian: the count after this read.
        std::optional<QByteArray> ack;
        int dropped = 0; // blocks completed while the queue was full

        bool operator==(const Received& o) const { return ack == o.ack && dropped == o.dropped; }
    };

    // One read from the link. The count of received bytes grows by its size and drops back to
    // 0 (not modulo 1024) when that brings it to 1024 or more. The acknowledgement goes when at
    // most one block is left queued, so a read that fills the queue, or whose block is dropped,
    // draws none. An empty read changes nothing.
    Received received(QByteArrayView bytes);
    // The part of the oldest queued block that the device has not yet taken; empty when none.
    QByteArrayView nextForDevice() const;
    // The device took `bytes` of nextForDevice(). Returns the acknowledgement to send when that
    // finished a block (at most one is then left).
    std::optional<QByteArray> taken(qint64 bytes);

    int queuedBlocks() const { return int(m_queue.size()); }
    quint32 count() const { return m_count; }
    quint64 droppedBlocks() const { return m_dropped; }

private:
    QByteArray ack() const;

    QByteArray m_filling;
    std::deque<QByteArray> m_queue;
    qsizetype m_headTaken = 0;
    quint32 m_count = 0;
    quint64 m_dropped = 0;
};

// One link of a voice chat, as far as deciding about another one goes. A chat is two legs with
// one peer, one each way: the first, offered by whoever started it, and its return, offered back
// by the side that accepted the first once that is connected.
struct VoiceLeg
{
    QByteArray peerNick;
    bool offeredByUs = false;
    // The second leg of its chat: offered back for a first leg we accepted, or accepted without
    // asking as the answer to a first leg we offered.
    bool isReturn = false;
};

enum class IncomingVoice {
    AcceptAsReturn, // the answer to a first leg we offered to this sender: take it without asking
    Ask,
};
// Nicks compare by `nicks`; until the server has said how, without regard to ASCII case, since
// the nick a leg was offered to may be the contact list's spelling rather than the server's.
IncomingVoice incomingVoiceOffer(const QList<VoiceLeg>& legs, const QByteArray& senderNick,
                                 const NickRule& nicks = {});

// Whether `connected`, a leg just connected, should be answered by a return leg to its peer.
// `legs` are all open legs, `connected` among them. Only a first leg we accepted is answered,
// and only once, so the two sides never go on offering to each other.
bool offersReturnLeg(const QList<VoiceLeg>& legs, const VoiceLeg& connected,
                     const NickRule& nicks = {});

// The box shown when the user starts a second voice chat; both texts exactly as always shown.
inline constexpr char kVoiceChatOpenTitle[] = "Voice Chat Already Open";
inline constexpr char kVoiceChatOpenText[] =
    "You can only have one voice chat session open at a time.  Please close your exising voice "
    "chat window before continuing.";

// The lines a voice window adds to the status text. The device failures keep the names of the
// calls they once were; they now stand for the matching sound device operation.
enum class VoiceStatus {
    Connecting,
    Established,
    PeerClosed,
    CaptureOpenFailed,
    CaptureQueueFailed,
    CaptureStartFailed,
    PlaybackOpenFailed,
    PlaybackPrepareFailed,
    PlaybackWriteFailed,
};
QString voiceStatusText(VoiceStatus status);

// The status text of one voice window; a new chat starts a text of its own. Each line ends in CR
// LF; past 64 KiB (UTF-8) the oldest lines go. The newest line always stays, even one longer than
// that.
class VoiceStatusLog
{
public:
    void append(const QString& line);
    const QString& text() const { return m_text; }
    qsizetype bytes() const { return m_bytes; }

private:
    struct Line
    {
        qsizetype chars;
        qsizetype bytes;
    };

    QString m_text;
    std::deque<Line> m_lines;
    qsizetype m_bytes = 0;
};

} // namespace peer

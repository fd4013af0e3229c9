#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <deque>
#include <map>

// The playing side of an Opus voice link: holds 20 ms frames between their arrival and their
// turn at the speaker, a delay of 40 to 80 ms that follows how unevenly they arrive.
namespace peer {

// Each framed voice packet (the 2-byte length prefix of the framing counts what follows it)
// carries
//   [seq: 2 bytes, big-endian, +1 a frame, wrapping 65535 -> 0][Opus frame of 20 ms]
// The sequence number counts captured frames, including those the sender dropped, so that a gap
// says how much audio is missing and a frame sent twice (a resumed link) is told apart.
inline constexpr int kVoiceFrameMs = 20;
inline constexpr int kMinJitterDelayMs = 40;
inline constexpr int kMaxJitterDelayMs = 80;
// A link starts at the least delay, which a steady one keeps; jitter raises it at once.
inline constexpr int kStartJitterDelayMs = 40;
// About a second of frames; a frame beyond it pushes the oldest out.
inline constexpr int kMaxHeldFrames = 50;

struct JitterStats
{
    quint64 played = 0;
    quint64 concealed = 0;        // slots whose frame had not come
    quint64 stretched = 0;        // concealments inserted to make the delay grow
    quint64 trimmed = 0;          // frames skipped to make the delay shrink
    quint64 droppedLate = 0;      // frames that came after their slot
    quint64 droppedDuplicate = 0; // frames held or played already
    quint64 droppedOverflow = 0;  // frames pushed out by the one-second bound
    int targetDelayMs = kStartJitterDelayMs;
    int bufferedMs = 0; // frames held for their slots
};

class JitterBuffer
{
public:
    struct Pop
    {
        enum Kind { Frame, Conceal, Silence } kind = Silence;
        QByteArray packet; // the Opus frame, Frame only
        quint16 seq = 0;   // the slot played or concealed
    };

    // A frame as read from the link, `nowMs` on a steady clock.
    void push(quint16 seq, const QByteArray& packet, qint64 nowMs);
    // What to play for the next 20 ms of device time: the frame due, a concealment for a frame
    // missing at its slot (that frame is then late when it comes), or silence before playback
    // has started and after a gap of more than 100 ms, until the delay has built up again.
    Pop pop(qint64 nowMs);

    JitterStats stats() const;
    int targetDelayMs() const { return m_targetMs; }
    bool isPlaying() const { return m_playing; }

private:
    struct Held
    {
        QByteArray packet;
        qint64 arrivalMs = 0;
    };

    qint64 unwrap(quint16 seq) const;
    void noteArrival(qint64 slot, qint64 nowMs);
    void adaptTarget(qint64 nowMs);
    void enforceBound();
    void advance(bool hadFrame);
    Pop conceal(bool missing);
    int levelAfterPopMs() const;
    void rememberLevel(int levelMs);

    std::map<qint64, Held> m_frames; // by unwrapped sequence number
    bool m_started = false;          // a frame was ever pushed: m_newest means something
    bool m_playing = false;
    qint64 m_newest = 0;
    qint64 m_next = 0;         // the slot pop() plays next; older frames are late
    bool m_nextKnown = false;  // set once playback has started
    std::deque<bool> m_recent; // the last slots before m_next: true when a frame filled it
    int m_concealRun = 0;

    std::deque<qint64> m_relativeDelays; // arrival minus the slot's place on the timeline
    int m_targetMs = kStartJitterDelayMs;
    qint64 m_targetChangedMs = 0;
    std::deque<int> m_levels; // buffered ms after recent pops

    JitterStats m_stats;
};

} // namespace peer

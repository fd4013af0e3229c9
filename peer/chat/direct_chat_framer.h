#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace peer {

enum class DirectChatEventKind {
    Text,         // a plain line, without its LF and a trailing CR
    Packet,       // a whole encrypted packet (length field, ciphertext, LF) for OpenChatPacket
    Key,          // the peer's 16 key bytes
    End,          // the peer ended encryption
    UnsealedText, // a line that arrived unencrypted while encrypted
    LineCut,      // a line too long to keep was dropped up to its LF
    Fault,        // the packet framing is lost; data holds the first bytes at the fault
};

struct DirectChatEvent
{
    DirectChatEventKind kind = DirectChatEventKind::Text;
    QByteArray data;

    bool operator==(const DirectChatEvent& other) const
    {
        return kind == other.kind && data == other.data;
    }
};

// Splits what a direct chat link receives into its frames, whatever the reads' boundaries: plain
// lines before a key, length-framed packets after, and the ENCRYPT messages in between.
//
// What each mode accepts, at a frame boundary:
// - plain: 0x01 "ENCRYPT " starts a key message of exactly 26 bytes (its key bytes may hold 0x01,
//   LF or a blank, so the closing 0x01 is never searched for) -> Key, and the framer reads packets
//   from the next byte on, as the peer sends them right after its key. An end message is
//   consumed without an event: there is nothing to end. Anything else is a line up to LF -> Text.
// - encrypted: a zero byte starts a packet (L is below 2^24), framed by its length field; an
//   invalid length field, or a packet not closed by LF -> Fault. A key message is a new key from
//   the peer -> Key (install it in place of the old one). An end message -> End, and the framer
//   reads plain lines from the next byte on. Any other line -> UnsealedText: it never travelled
//   sealed (often a line the peer typed before our key reached it), so it must not be shown as
//   if it had; the framer skips it and stays in step.
// The end message is recognised with and without its closing 0x01 ("END" + 0x01 or bare "END";
// a key that our side makes never begins with "END").
//
// For the caller: Key -> installChatKey; End -> reset the state, clear the encrypted flag, and send
// nothing back (answering an end with an end would echo between two peers forever); Fault ->
// close the link, or reset() and setEncrypted(false) with a visible note. After a Fault every
// further byte is dropped until reset(). A line (plain or unsealed) longer than kMaxLineLength is
// dropped whole with one LineCut, so the framer never holds more than that.
class DirectChatFramer
{
public:
    static constexpr qsizetype kMaxLineLength = 64 * 1024;

    QList<DirectChatEvent> feed(QByteArrayView bytes);

    // Our own side installed a key (or ended one): the peer's next frames follow suit.
    void setEncrypted(bool encrypted);
    bool isEncrypted() const { return m_encrypted; }
    bool hasFault() const { return m_faulted; }
    bool hasPartialFrame() const { return !m_pending.isEmpty(); }

    // Back to plain mode with nothing pending and no fault.
    void reset();

private:
    // Each returns how many bytes at the start of `rest` it consumed; 0 waits for more.
    qsizetype takeFrame(QByteArrayView rest, QList<DirectChatEvent>& events);
    qsizetype takeControl(QByteArrayView rest, QList<DirectChatEvent>& events);
    qsizetype takePacket(QByteArrayView rest, QList<DirectChatEvent>& events);
    qsizetype takeLine(QByteArrayView rest, DirectChatEventKind kind,
                       QList<DirectChatEvent>& events);
    qsizetype takeEndTail(QByteArrayView rest);
    void fault(QByteArrayView rest, QList<DirectChatEvent>& events);

    QByteArray m_pending;
    qsizetype m_scanned = 0; // bytes of m_pending's first line already known to hold no LF
    bool m_encrypted = false;
    bool m_faulted = false;
    bool m_discardingLine = false;
    bool m_afterEnd = false; // a 0x01 closing the end message may still follow
};

} // namespace peer

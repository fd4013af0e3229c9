#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <optional>

namespace peer {

// The file data of a DCC SEND goes in blocks of at most this many bytes, one block in flight.
inline constexpr qint64 kTransferBlockBytes = 1024;

// An acknowledgement: the receiver's total count, modulo 2^32, in network byte order.
std::array<char, 4> encodeAck(quint64 count);

// The sending side's bookkeeping: what may go out next and what an acknowledgement means. In
// the default mode one block is in flight and the next goes only when all of it is
// acknowledged; with a larger window the sender streams. Sizes and counts are 64-bit; the
// acknowledgements on the wire wrap at 2^32 and are unwrapped against what was sent.
class SendWindow
{
public:
    enum class Ack {
        Progress,   // more acknowledged; maybe room for more data
        Complete,   // everything acknowledged
        Stale,      // nothing new (an old or repeated count)
        BeyondSent, // more acknowledged than was ever sent: the peer is broken or hostile
    };
    struct Chunk
    {
        quint64 offset = 0;
        qint64 length = 0;
    };

    // A resumed transfer starts at `start`, as if that much had been sent and acknowledged.
    SendWindow(quint64 size, qint64 windowBytes = kTransferBlockBytes, quint64 start = 0);

    // The next piece of the file to send, of at most `maxBytes`; nothing while the window is
    // full or everything was sent.
    std::optional<Chunk> next(qint64 maxBytes = kTransferBlockBytes) const;
    // `bytes` of the chunk handed out by next() were written.
    void sent(qint64 bytes);
    Ack acknowledge(quint32 wireCount);
    // An 8-byte acknowledgement: the whole count, nothing to unwrap.
    Ack acknowledgeWide(quint64 count);
    // Whether the first four bytes a peer acknowledges with are the high half of an 8-byte
    // count: they equal the high half of where we stand, and as a 4-byte count they would say
    // nothing new. A 4-byte peer's first count is past where we stand, so the two never meet.
    bool looksWide(quint32 firstWord) const;

    quint64 size() const { return m_size; }
    quint64 sentBytes() const { return m_sent; }
    quint64 acked() const { return m_acked; }
    bool complete() const { return m_acked == m_size; }
    // Whether more than one block may be in flight.
    bool streams() const { return m_window > kTransferBlockBytes; }

private:
    quint64 m_size;
    qint64 m_window;
    quint64 m_sent = 0;
    quint64 m_acked = 0;
};

// Collects acknowledgements from a byte stream in which they may arrive split or several at
// once; only the newest complete one matters. Most peers write 4 bytes that wrap at 4 GiB, some
// write 8; which one is told from the first acknowledgement.
class AckReader
{
public:
    enum class Width { Unknown, Four, Eight };
    struct Count
    {
        quint64 value = 0;
        bool wide = false;
    };

    // The newest acknowledgement completed by `bytes`, if any; `window` decides the width.
    std::optional<Count> feed(QByteArrayView bytes, const SendWindow& window);
    // The same for a stream known to carry 4-byte acknowledgements only.
    std::optional<quint32> feed(QByteArrayView bytes);
    Width width() const { return m_width; }

private:
    std::array<unsigned char, 8> m_partial{};
    int m_have = 0;
    Width m_width = Width::Unknown;
};

// The receiving side's bookkeeping: never more than the offered size is kept.
class ReceiveCount
{
public:
    // A resumed transfer has `start` bytes already.
    explicit ReceiveCount(quint64 size, quint64 start = 0)
        : m_size(size)
        , m_count(std::min(start, size))
    {}

    // Of `bytes` just received, how many to store; the rest is past the offered size.
    qint64 take(qint64 bytes);
    quint64 count() const { return m_count; }
    quint64 size() const { return m_size; }
    bool complete() const { return m_count == m_size; }

private:
    quint64 m_size;
    quint64 m_count = 0;
};

// What a transfer window shows for `count` of `size` bytes after `elapsedSeconds`: each field
// is set only when that step of the refresh is reached, and a field left unset keeps its text.
struct TransferView
{
    bool complete = false; // the button reads "Close"
    std::optional<int> percent;
    std::optional<QString> transferred;
    std::optional<QString> elapsed;
    std::optional<QString> rate;
    std::optional<QString> remaining;
    std::optional<QString> title;

    bool operator==(const TransferView& o) const
    {
        return complete == o.complete && percent == o.percent && transferred == o.transferred
               && elapsed == o.elapsed && rate == o.rate && remaining == o.remaining
               && title == o.title;
    }
};
TransferView describeTransfer(quint64 count, quint64 size, qint64 elapsedSeconds,
                              const QString& path);

// The title before the first refresh that gets that far.
QString awaitingTitle(const QString& baseName);
// The title of an offer that nobody took up in time.
QString expiredTitle(const QString& baseName);
// The title of an offer the peer declined.
QString declinedTitle(const QString& baseName);
// The title of a transfer that completed before any refresh reached the title.
QString completeTitle(const QString& baseName);

// A size for people: "12.3 MB (12,345,678 bytes)", or "950 bytes" below a kilobyte, the digits
// grouped as `locale` groups them.
QString sizeText(quint64 bytes, const QLocale& locale = QLocale());

// Whether a window refresh is due: on the counts the window has always refreshed on (a multiple
// of 5, or the whole size), but at most about ten times a second so that a fast transfer does
// not spend its time redrawing; the last one is never skipped.
class RefreshGate
{
public:
    static constexpr qint64 kMinIntervalMs = 100;

    bool due(quint64 count, quint64 size, qint64 nowMs);

private:
    std::optional<qint64> m_last;
};

} // namespace peer

#include "irc/line_framer.h"

namespace irc {

QList<QByteArray> LineFramer::feed(QByteArrayView bytes)
{
    // Room for the lines of a read up front (server lines under 48 bytes are rare): growing the
    // list line by line cost as much as cutting the lines.
    QList<QByteArray> lines;
    lines.reserve(bytes.size() / 48 + 4);
    frame(bytes, [&lines](auto&& line) {
        if constexpr (std::is_same_v<std::decay_t<decltype(line)>, QByteArray>)
            lines.append(std::forward<decltype(line)>(line));
        else
            lines.append(line.toByteArray());
    });
    return lines;
}

bool LineFramer::skipDroppedLine(QByteArrayView& bytes)
{
    // Its CR LF may straddle two reads.
    qsizetype end = -1;
    if (m_pendingCr && bytes.startsWith('\n'))
        end = 1;
    else if (const qsizetype cr = findCrLf(bytes, 0); cr >= 0)
        end = cr + 2;
    if (end < 0) {
        m_pendingCr = bytes.endsWith('\r');
        return false;
    }
    m_discarding = false;
    m_pendingCr = false;
    bytes = bytes.sliced(end);
    return true;
}

qsizetype LineFramer::completePendingLine(QByteArrayView bytes)
{
    // The carried-over tail never holds a CR LF, but a CR at its very end may pair with an LF
    // starting this read. Only the bytes up to the line's end join it, so that a long read is
    // not copied twice.
    if (m_pending.endsWith('\r') && bytes.startsWith('\n')) {
        m_pending.chop(1);
        return 1;
    }
    if (const qsizetype cr = findCrLf(bytes, 0); cr >= 0) {
        m_pending.append(bytes.first(cr));
        return cr + 2;
    }
    m_pending.append(bytes);
    return -1;
}

void LineFramer::limitPendingLine()
{
    // A trailing CR may be the first half of the line's end, not part of the line.
    const qsizetype partialLength = m_pending.size() - (m_pending.endsWith('\r') ? 1 : 0);
    if (partialLength > kMaxPendingBytes) {
        m_pendingCr = m_pending.endsWith('\r');
        m_pending.clear();
        m_pending.squeeze();
        m_discarding = true;
        ++m_dropped;
    }
}

int LineFramer::takeDroppedLines()
{
    const int dropped = m_dropped;
    m_dropped = 0;
    return dropped;
}

void LineFramer::reset()
{
    m_pending.clear();
    m_discarding = false;
    m_pendingCr = false;
    m_dropped = 0;
}

} // namespace irc

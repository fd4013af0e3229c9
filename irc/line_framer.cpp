#include "irc/line_framer.h"

#include "irc/line_tools.h"

namespace irc {

QList<QByteArray> LineFramer::feed(QByteArrayView bytes)
{
    if (m_discarding) {
        // Skip to the end of the over-long line; its CR LF may straddle two reads.
        qsizetype end = -1;
        if (m_pendingCr && bytes.startsWith('\n'))
            end = 1;
        else if (const qsizetype cr = bytes.indexOf("\r\n"); cr >= 0)
            end = cr + 2;
        if (end < 0) {
            m_pendingCr = bytes.endsWith('\r');
            return {};
        }
        m_discarding = false;
        m_pendingCr = false;
        bytes = bytes.sliced(end);
    }

    SplitResult split;
    if (m_pending.isEmpty()) {
        split = SplitLines(bytes);
        m_pending = bytes.sliced(split.consumed).toByteArray();
    } else {
        // A CR at the very end of the carried-over tail may pair with an LF starting this read.
        m_pending.append(bytes);
        split = SplitLines(m_pending);
        m_pending.remove(0, split.consumed);
    }

    // The same limit holds for a line that arrived whole, so that whether a line is kept never
    // depends on how the stream happened to be cut into reads.
    QList<QByteArray> lines;
    lines.reserve(split.lines.size());
    for (QByteArray& line : split.lines) {
        if (line.size() > kMaxPendingBytes)
            ++m_dropped;
        else
            lines.append(std::move(line));
    }

    // A trailing CR may be the first half of the line's end, not part of the line.
    const qsizetype partialLength = m_pending.size() - (m_pending.endsWith('\r') ? 1 : 0);
    if (partialLength > kMaxPendingBytes) {
        m_pendingCr = m_pending.endsWith('\r');
        m_pending.clear();
        m_pending.squeeze();
        m_discarding = true;
        ++m_dropped;
    }
    return lines;
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

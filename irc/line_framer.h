#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace irc {

// Cuts a received byte stream into CR LF lines. Knows nothing of sockets: the caller feeds
// bytes, which is what makes partial reads testable. A partial line waits for the next read;
// one that grows past kMaxPendingBytes without a CR LF is dropped up to its end, so a peer that
// never ends its lines cannot grow memory without bound.
class LineFramer
{
public:
    static constexpr qsizetype kMaxPendingBytes = 64 * 1024;

    // Every line completed by `bytes`, in order, without its CR LF.
    QList<QByteArray> feed(QByteArrayView bytes);

    bool hasPartialLine() const { return !m_pending.isEmpty(); }
    qsizetype pendingSize() const { return m_pending.size(); }
    // How many over-long lines were dropped since the last call.
    int takeDroppedLines();
    void reset();

private:
    QByteArray m_pending;
    bool m_discarding = false; // inside an over-long line, skipping to its CR LF
    bool m_pendingCr = false;  // a discarded line's last byte was CR
    int m_dropped = 0;
};

} // namespace irc

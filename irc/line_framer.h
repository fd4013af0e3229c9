#pragma once

#include "irc/line_tools.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <type_traits>
#include <utility>

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

    // The same lines as feed(), handed to `onLine` one by one as QByteArrayView without copying
    // them: a line that lies whole in `bytes` is viewed there, so a view lives only as long as
    // the call (and `bytes`). `onLine` must not feed or reset this framer.
    template <typename OnLine> void forEachLine(QByteArrayView bytes, OnLine&& onLine)
    {
        frame(bytes, [&onLine](const auto& line) { onLine(QByteArrayView(line)); });
    }

    bool hasPartialLine() const { return !m_pending.isEmpty(); }
    qsizetype pendingSize() const { return m_pending.size(); }
    // How many over-long lines were dropped since the last call.
    int takeDroppedLines();
    void reset();

private:
    // The one place lines are cut, for both ways of handing them out. A line that was carried
    // over from an earlier read comes as a QByteArray the framer no longer needs (feed() keeps
    // it without a copy), any other as a view into `bytes`.
    template <typename OnLine> void frame(QByteArrayView bytes, OnLine&& onLine)
    {
        if (m_discarding && !skipDroppedLine(bytes))
            return;
        qsizetype start = 0;
        if (!m_pending.isEmpty()) {
            start = completePendingLine(bytes);
            if (start >= 0) {
                QByteArray line = std::exchange(m_pending, {});
                if (keeps(line.size()))
                    onLine(std::move(line));
            }
        }
        if (start >= 0) {
            start += SplitLines(bytes.sliced(start), [&](QByteArrayView line) {
                if (keeps(line.size()))
                    onLine(line);
            });
            if (start < bytes.size())
                m_pending = bytes.sliced(start).toByteArray();
        }
        limitPendingLine();
    }

    // Moves `bytes` past the end of the over-long line being skipped; false when the whole
    // read still belongs to it.
    bool skipDroppedLine(QByteArrayView& bytes);
    // Joins the start of `bytes` to the carried-over partial line: where the rest of `bytes`
    // starts once that line is complete, or -1 while it is not.
    qsizetype completePendingLine(QByteArrayView bytes);
    // Drops the partial line once it has grown too long to be kept.
    void limitPendingLine();
    // The same limit holds for a line that arrived whole, so that whether a line is kept never
    // depends on how the stream happened to be cut into reads.
    bool keeps(qsizetype lineLength)
    {
        if (lineLength <= kMaxPendingBytes)
            return true;
        ++m_dropped;
        return false;
    }

    QByteArray m_pending;
    bool m_discarding = false; // inside an over-long line, skipping to its CR LF
    bool m_pendingCr = false;  // a discarded line's last byte was CR
    int m_dropped = 0;
};

} // namespace irc

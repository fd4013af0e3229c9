#pragma once

#include "irc/line_framer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <vector>

namespace irc {

// The complete lines of a stream, held from the read that completes them until they are handed
// on. A line that lies whole in one read is a view of that read's buffer, which the queue shares
// rather than copies; only a line that straddles two reads gets bytes of its own. Lines are
// held because they are delivered from the event loop, after the read that brought them.
class LineQueue
{
public:
    // One queued line: `view` stays valid for as long as this Line (which holds its bytes) lives.
    struct Line
    {
        QByteArray bytes;
        QByteArrayView view;
    };

    // Cuts `read` into lines with `framer` and queues the complete ones. Returns views of them,
    // in order, valid while the lines stay queued.
    QList<QByteArrayView> push(const QByteArray& read, LineFramer& framer);

    bool empty() const { return m_head == m_lines.size(); }
    // The oldest line, off the queue.
    Line pop();
    void clear();

private:
    void compact();

    // Taken from the front; once all are taken the room is reused, so that a steady stream of
    // reads costs no allocation per line.
    std::vector<Line> m_lines;
    std::size_t m_head = 0;
};

} // namespace irc

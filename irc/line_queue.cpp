#include "irc/line_queue.h"

#include <utility>

namespace irc {

QList<QByteArrayView> LineQueue::push(const QByteArray& read, LineFramer& framer)
{
    QList<QByteArrayView> lines;
    const char* const begin = read.constData();
    const char* const end = begin + read.size();
    framer.forEachLine(read, [&](QByteArrayView line) {
        if (line.data() >= begin && line.data() + line.size() <= end) {
            m_lines.push_back({read, line});
        } else {
            // The end of a line begun in an earlier read: its bytes are the framer's, and go.
            QByteArray own = line.toByteArray();
            const QByteArrayView view(own);
            m_lines.push_back({std::move(own), view});
        }
        lines.append(m_lines.back().view);
    });
    return lines;
}

LineQueue::Line LineQueue::pop()
{
    Line line = std::move(m_lines.front());
    m_lines.pop_front();
    return line;
}

} // namespace irc

#include "irc/line_queue.h"

#include <utility>

namespace irc {

QList<QByteArrayView> LineQueue::push(const QByteArray& read, LineFramer& framer)
{
    if (empty())
        clear();
    else if (m_head > 1024 && 2 * m_head > m_lines.size())
        compact(); // a flood that never lets the queue run dry
    QList<QByteArrayView> lines;
    lines.reserve(read.size() / 48 + 4); // server lines under 48 bytes are rare
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
    return std::move(m_lines[m_head++]);
}

void LineQueue::compact()
{
    m_lines.erase(m_lines.begin(), m_lines.begin() + std::ptrdiff_t(m_head));
    m_head = 0;
}

void LineQueue::clear()
{
    m_lines.clear();
    m_head = 0;
}

} // namespace irc

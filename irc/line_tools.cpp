#include "irc/line_tools.h"

namespace irc {

SplitResult SplitLines(QByteArrayView data)
{
    SplitResult result;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype cr = data.indexOf("\r\n", start);
        if (cr < 0)
            break;
        result.lines.append(data.sliced(start, cr - start).toByteArray());
        start = cr + 2;
    }
    result.consumed = start;
    return result;
}

qsizetype CutAtLastCrLf(QByteArray& text)
{
    const qsizetype pos = text.lastIndexOf("\r\n");
    if (pos < 1)
        return 0;
    text.truncate(pos);
    return pos;
}

std::optional<QByteArray> GetCommandWord(QByteArrayView line)
{
    if (line.isEmpty())
        return std::nullopt;
    if (line.front() == ':') {
        const qsizetype first = line.indexOf(' ');
        if (first < 0)
            return std::nullopt;
        const qsizetype second = line.indexOf(' ', first + 1);
        if (second < 0)
            return std::nullopt;
        return line.sliced(first + 1, second - first - 1).toByteArray();
    }
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0)
        return std::nullopt;
    return line.first(blank).toByteArray();
}

} // namespace irc

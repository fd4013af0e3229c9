#include "irc/line_tools.h"

#include <cstring>

namespace irc {

qsizetype findCrLf(QByteArrayView data, qsizetype from)
{
    // Searching for the LF lets memchr do the work: a lone LF is rare, a CR LF ends nearly
    // every line.
    if (data.size() - from < 2)
        return -1;
    const char* const begin = data.data();
    const char* const end = begin + data.size();
    // The LF of a pair that starts at `from` or later comes one byte after it at the earliest.
    const char* next = begin + from + 1;
    while (next < end) {
        const auto* lf = static_cast<const char*>(std::memchr(next, '\n', size_t(end - next)));
        if (!lf)
            return -1;
        if (lf[-1] == '\r')
            return lf - 1 - begin;
        next = lf + 1;
    }
    return -1;
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

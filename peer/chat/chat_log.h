#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace peer {

// One stamped line of a chat log as it was shown: where it starts in the file, when it was said
// (UTC) and the shown line without its stamp and line end, formatting codes and escapes kept.
struct LoggedLine
{
    qint64 offset = 0;
    QDateTime at;
    QByteArray text;
};

// The per-contact chat log: installdir/logs/<nick>.txt, one appended text per shown line.
// Lines keep their formatting codes and end in CR LF, with every other control escaped (a line
// break inside a line too) so that a log shown in a terminal or an editor shows what was said,
// one line for each shown line; times are UTC without leading zeros.
class ChatLog
{
public:
    // The log file of `nick` under `installDir`, or nothing when the nick cannot name a file
    // inside the logs folder (empty, "." or ".."). '/' and NUL become '_', so no nick ever
    // reaches outside the folder.
    static std::optional<QString> logFilePath(const QString& installDir, const QByteArray& nick);

    static QByteArray startedText(const QByteArray& nick);
    static QByteArray stampedLine(const QDateTime& utc, const QByteArray& line);

    // Appends `text` to the file, creating the logs folder (0700) and the file (0600) when they
    // are missing, and says where in the file it starts. Nothing when the file could not be
    // written, or is a symlink; a chat never stops for its log.
    static std::optional<qint64> append(const QString& path, const QByteArray& text);

    // The time of the newest stamped line in `tail` (the end of a log); nothing without one.
    static std::optional<QDateTime> lastStamp(const QByteArray& tail);
    // The same, read from the last few KiB of the file at `path`.
    static std::optional<QDateTime> lastStampOf(const QString& path);

    // The stamped line `line` (without its line end) that starts at `offset`; nothing for the
    // "Started chat" notes and for anything a hand or a crash left that is not a stamped line.
    static std::optional<LoggedLine> parseLine(QByteArrayView line, qint64 offset);
    // Calls `each` for every stamped line that ends in a line break within `bytes`, which start
    // at `base` in their file; returns the offset just past the last whole line.
    template <typename Each>
    static qint64 forEachLine(QByteArrayView bytes, qint64 base, Each each);

    // Up to `count` stamped lines that end at or before `before`, the oldest first: read back from
    // there a block at a time and never more than kReadBound bytes, so a log of any size costs
    // the same. A line cut at `before` is not one of them.
    static std::vector<LoggedLine> linesBefore(const QString& path, qint64 before, int count);
    // Up to `count` stamped lines from `from` on, `from` being the start of a line.
    static std::vector<LoggedLine> linesFrom(const QString& path, qint64 from, int count);
    // The bytes that reading the log around one place may cost, whatever is asked.
    static constexpr qint64 kReadBound = 4 << 20;
};

template <typename Each> qint64 ChatLog::forEachLine(QByteArrayView bytes, qint64 base, Each each)
{
    qsizetype from = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', from)) {
        QByteArrayView line = bytes.sliced(from, end - from);
        if (line.endsWith('\r'))
            line.chop(1);
        if (auto logged = parseLine(line, base + from))
            each(std::move(*logged));
        from = end + 1;
    }
    return base + from;
}

} // namespace peer

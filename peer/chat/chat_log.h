#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace peer {

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
    // are missing. False when the file could not be written, or is a symlink; a chat never
    // stops for its log.
    static bool append(const QString& path, const QByteArray& text);

    // The time of the newest stamped line in `tail` (the end of a log); nothing without one.
    static std::optional<QDateTime> lastStamp(const QByteArray& tail);
    // The same, read from the last few KiB of the file at `path`.
    static std::optional<QDateTime> lastStampOf(const QString& path);
};

} // namespace peer

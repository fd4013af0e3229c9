#pragma once

#include "peer/chat/chat_log.h"

#include <QFile>
#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace peer {

// Reads single lines of the chat logs at known places, each log opened once: the index keeps
// where a line is, and the line itself is read from its log.
class LogReader
{
public:
    explicit LogReader(QString folder);

    // The stamped line of log `name` that starts at `offset`; nothing when no such line is there
    // (the log changed since), or it runs past kMaxLine bytes.
    std::optional<LoggedLine> lineAt(const QString& name, qint64 offset);

    // A line as a search sees it and shows it: its formatting codes removed.
    static QString shownText(const QByteArray& line);

    static constexpr qint64 kMaxLine = 1 << 16;

private:
    QString m_folder;
    std::map<QString, std::unique_ptr<QFile>> m_files;
};

} // namespace peer

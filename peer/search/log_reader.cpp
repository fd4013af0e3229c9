#include "peer/search/log_reader.h"

#include "diag/server_text.h"
#include "peer/chat/format_runs.h"

namespace peer {

LogReader::LogReader(QString folder)
    : m_folder(std::move(folder))
{}

QString LogReader::shownText(const QByteArray& line)
{
    return diag::decodeServerText(StripFormatCodes(line));
}

std::optional<LoggedLine> LogReader::lineAt(const QString& name, qint64 offset)
{
    std::unique_ptr<QFile>& file = m_files[name];
    if (!file) {
        file = std::make_unique<QFile>(m_folder + QLatin1Char('/') + name);
        file->open(QIODevice::ReadOnly);
    }
    if (!file->isOpen() || !file->seek(offset))
        return std::nullopt;
    // Most lines are short; a long one is read on to its end, as far as a line may go.
    QByteArray bytes = file->read(4096);
    qsizetype end = bytes.indexOf('\n');
    while (end < 0 && bytes.size() < kMaxLine) {
        const QByteArray more = file->read(16384);
        if (more.isEmpty())
            return std::nullopt;
        bytes += more;
        end = bytes.indexOf('\n');
    }
    if (end < 0)
        return std::nullopt;
    QByteArrayView line = QByteArrayView(bytes).first(end);
    if (line.endsWith('\r'))
        line.chop(1);
    return ChatLog::parseLine(line, offset);
}

} // namespace peer

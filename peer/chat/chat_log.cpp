#include "peer/chat/chat_log.h"

#include "config/paths.h"
#include "diag/control_escape.h"
#include "peer/common/chat_text.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

namespace peer {

std::optional<QString> ChatLog::logFilePath(const QString& installDir, const QByteArray& nick)
{
    if (installDir.isEmpty() || nick.isEmpty() || nick == "." || nick == "..")
        return std::nullopt;
    QByteArray name = nick;
    name.replace('/', '_').replace('\0', '_');
    return installDir + QStringLiteral("/logs/") + QString::fromUtf8(name) + QStringLiteral(".txt");
}

QByteArray ChatLog::startedText(const QByteArray& nick)
{
    return "\r\n" + noteLine("Started chat with " + diag::escapeControlBytes(nick));
}

QByteArray ChatLog::stampedLine(const QDateTime& utc, const QByteArray& line)
{
    const QDateTime t = utc.toUTC();
    const QDate d = t.date();
    const QTime h = t.time();
    // One shown line, one logged line: only its own line end stays a line end.
    const QByteArrayView body = line.endsWith("\r\n") ? QByteArrayView(line).chopped(2) : line;
    return '[' + QByteArray::number(d.day()) + '/' + QByteArray::number(d.month()) + '/'
           + QByteArray::number(d.year()) + ' ' + QByteArray::number(h.hour()) + ':'
           + QByteArray::number(h.minute()) + ':' + QByteArray::number(h.second()) + "] "
           + diag::escapeControlBytes(body) + "\r\n";
}

bool ChatLog::append(const QString& path, const QByteArray& text)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!config::makePrivateFolder(folder))
        return false;
    const int fd = config::openPrivateForAppend(path);
    QFile file;
    if (fd < 0
        || !file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFile::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return file.write(text) == text.size();
}

} // namespace peer

namespace peer {

std::optional<QDateTime> ChatLog::lastStamp(const QByteArray& tail)
{
    static const QRegularExpression stamp(QStringLiteral(
        "(?:^|\\n)\\[(\\d{1,2})/(\\d{1,2})/(\\d{1,4}) (\\d{1,2}):(\\d{1,2}):(\\d{1,2})\\] "));
    std::optional<QDateTime> last;
    QRegularExpressionMatchIterator it = stamp.globalMatch(QString::fromLatin1(tail));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
        const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
        const QDateTime at(date, time, Qt::UTC);
        if (at.isValid())
            last = at;
    }
    return last;
}

std::optional<QDateTime> ChatLog::lastStampOf(const QString& path)
{
    constexpr qint64 kTail = 8192;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (file.size() > kTail)
        file.seek(file.size() - kTail);
    return lastStamp(file.read(kTail));
}

} // namespace peer

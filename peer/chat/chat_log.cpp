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

std::optional<qint64> ChatLog::append(const QString& path, const QByteArray& text)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!config::makePrivateFolder(folder))
        return std::nullopt;
    const int fd = config::openPrivateForAppend(path);
    QFile file;
    if (fd < 0
        || !file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFile::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    // The file is opened for appending, so its end is where the text goes.
    const qint64 at = ::lseek(fd, 0, SEEK_END);
    if (at < 0 || file.write(text) != text.size())
        return std::nullopt;
    return at;
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

namespace peer {

namespace {

// The number of at most `digits` digits at `at`, which moves past it; nothing without one.
std::optional<int> readNumber(QByteArrayView text, qsizetype& at, int digits)
{
    int value = 0;
    const qsizetype from = at;
    while (at < text.size() && at - from < digits && text[at] >= '0' && text[at] <= '9')
        value = value * 10 + (text[at++] - '0');
    if (at == from)
        return std::nullopt;
    return value;
}

bool readChar(QByteArrayView text, qsizetype& at, char c)
{
    if (at >= text.size() || text[at] != c)
        return false;
    ++at;
    return true;
}

} // namespace

std::optional<LoggedLine> ChatLog::parseLine(QByteArrayView line, qint64 offset)
{
    // "[d/m/y h:m:s] text", as stampedLine() writes it.
    qsizetype at = 0;
    int parts[6] = {};
    const char after[6] = {'/', '/', ' ', ':', ':', ']'};
    const int digits[6] = {2, 2, 4, 2, 2, 2};
    if (!readChar(line, at, '['))
        return std::nullopt;
    for (int i = 0; i < 6; ++i) {
        const auto number = readNumber(line, at, digits[i]);
        if (!number || !readChar(line, at, after[i]))
            return std::nullopt;
        parts[i] = *number;
    }
    if (!readChar(line, at, ' '))
        return std::nullopt;
    const QDate date(parts[2], parts[1], parts[0]);
    const QTime time(parts[3], parts[4], parts[5]);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return LoggedLine{offset, QDateTime(date, time, Qt::UTC), line.sliced(at).toByteArray()};
}

std::vector<LoggedLine> ChatLog::linesBefore(const QString& path, qint64 before, int count)
{
    constexpr qint64 kBlock = 64 * 1024;
    QFile file(path);
    if (count <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 end = std::min(before, file.size());
    // Read back a block at a time until enough whole lines are in hand; the bytes before the
    // first line break may be the end of an earlier line and wait for the next block.
    qint64 from = end;
    std::vector<LoggedLine> lines;
    while (from > 0 && end - from < kReadBound) {
        from = std::max<qint64>(0, from - kBlock);
        file.seek(from);
        const QByteArray bytes = file.read(end - from);
        const qsizetype start = from == 0 ? 0 : bytes.indexOf('\n') + 1;
        if (from > 0 && start == 0)
            continue;
        lines.clear();
        forEachLine(QByteArrayView(bytes).sliced(start), from + start,
                    [&](LoggedLine&& line) { lines.push_back(std::move(line)); });
        if (int(lines.size()) >= count)
            break;
    }
    if (int(lines.size()) > count)
        lines.erase(lines.begin(), lines.end() - count);
    return lines;
}

std::vector<LoggedLine> ChatLog::linesFrom(const QString& path, qint64 from, int count)
{
    QFile file(path);
    if (count <= 0 || from < 0 || !file.open(QIODevice::ReadOnly) || !file.seek(from))
        return {};
    std::vector<LoggedLine> lines;
    qint64 at = from;
    bool insideLongLine = false;
    while (int(lines.size()) < count && at - from < kReadBound) {
        QByteArray bytes = file.read(64 * 1024);
        if (bytes.isEmpty())
            break;
        qsizetype skip = 0;
        if (insideLongLine) {
            // The rest of a line longer than a block is no line of its own.
            skip = bytes.indexOf('\n') + 1;
            insideLongLine = skip == 0;
            at += insideLongLine ? bytes.size() : skip;
            if (insideLongLine)
                continue;
        }
        const qint64 next =
            forEachLine(QByteArrayView(bytes).sliced(skip), at, [&](LoggedLine&& line) {
                if (int(lines.size()) < count)
                    lines.push_back(std::move(line));
            });
        insideLongLine = next == at;
        at = insideLongLine ? at + bytes.size() - skip : next;
        file.seek(at);
    }
    return lines;
}

} // namespace peer

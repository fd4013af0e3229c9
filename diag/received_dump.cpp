#include "diag/received_dump.h"

#include "diag/private_files.h"
#include "diag/secret_mask.h"
#include "diag/texts.h"

#include <QFile>

#include <unistd.h>

namespace diag {

namespace {

// The command word as the dump names it: after a prefix, the word between the first and second
// blank; without one, the word before the first blank. Lines that lack those blanks have none;
// a word may be empty (two blanks in a row) and is still shown.
bool commandWord(QByteArrayView line, QByteArray* word)
{
    const qsizetype first = line.indexOf(' ');
    if (first < 0)
        return false;
    if (!line.startsWith(':')) {
        *word = line.first(first).toByteArray();
        return true;
    }
    const qsizetype second = line.indexOf(' ', first + 1);
    if (second < 0)
        return false;
    *word = line.sliced(first + 1, second - first - 1).toByteArray();
    return true;
}

} // namespace

void ReceivedDump::DumpReceivedLines(const QList<QByteArrayView>& lines)
{
    // Opened for appending even without "DEBUG", so that the file exists after a run either
    // way: a dump that an earlier run wrote with "DEBUG" must survive a run without it. The
    // current folder may be anyone's: a symlink planted at the name is not followed.
    const int fd = openPrivateForAppend(m_path);
    if (fd < 0)
        return;
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFile::AutoCloseHandle)) {
        ::close(fd);
        return;
    }
    if (!m_enabled)
        return;

    // Built by concatenation: a server line must never reach a format string.
    QByteArray out = text::kDumpBatch + QByteArray::number(lines.size()) + '\n';
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = maskSecrets(lines.at(i));
        out += text::kDumpLine + QByteArray::number(i) + ": ";
        out += line;
        out += text::kDumpLineEnd;
        if (QByteArray word; commandWord(line, &word))
            out += text::kDumpCommand + word;
        out += '\n';
    }
    file.write(out);
}

} // namespace diag

#include "diag/secret_mask.h"

namespace diag {

namespace {

constexpr char kMask[] = "****";

bool isWord(QByteArrayView word, const char* name)
{
    return word.compare(QByteArrayView(name), Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray maskSecrets(QByteArrayView line)
{
    // Tags and a prefix go before the command; both are skipped as the parser would.
    qsizetype at = 0;
    const auto skipBlanks = [&] {
        while (at < line.size() && line.at(at) == ' ')
            ++at;
    };
    const auto skipWord = [&] {
        while (at < line.size() && line.at(at) != ' ')
            ++at;
    };
    skipBlanks();
    if (at < line.size() && line.at(at) == '@') {
        skipWord();
        skipBlanks();
    }
    if (at < line.size() && line.at(at) == ':') {
        skipWord();
        skipBlanks();
    }
    const qsizetype commandStart = at;
    skipWord();
    const QByteArrayView command = line.sliced(commandStart, at - commandStart);
    const bool pass = isWord(command, "PASS");
    if (!pass && !isWord(command, "AUTHENTICATE"))
        return line.toByteArray();

    skipBlanks();
    QByteArrayView rest = line.sliced(at);
    if (rest.isEmpty())
        return line.toByteArray();
    if (!pass) {
        QByteArrayView payload = rest.startsWith(':') ? rest.sliced(1) : rest;
        payload = payload.trimmed();
        if (payload == "+" || payload == "*" || isWord(payload, "PLAIN"))
            return line.toByteArray();
    }
    // A line end typed with the line stays, so the log keeps its layout.
    qsizetype end = line.size();
    while (end > at && (line.at(end - 1) == '\r' || line.at(end - 1) == '\n'))
        --end;
    return line.first(at).toByteArray() + kMask + line.sliced(end).toByteArray();
}

} // namespace diag

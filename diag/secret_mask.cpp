#include "diag/secret_mask.h"

#include <cctype>

namespace diag {

namespace {

constexpr char kMask[] = "****";

bool isWord(QByteArrayView word, const char* name)
{
    return word.compare(QByteArrayView(name), Qt::CaseInsensitive) == 0;
}

// Walks a line word by word, the way the parser splits it.
class Cursor
{
public:
    explicit Cursor(QByteArrayView line, qsizetype at = 0)
        : m_line(line)
        , m_at(at)
    {}

    qsizetype at() const { return m_at; }
    bool atEnd() const { return m_at >= m_line.size(); }
    char peek() const { return atEnd() ? '\0' : m_line.at(m_at); }
    void skip(char c)
    {
        if (peek() == c)
            ++m_at;
    }
    void skipBlanks()
    {
        while (peek() == ' ')
            ++m_at;
    }
    QByteArrayView word()
    {
        const qsizetype start = m_at;
        while (!atEnd() && m_line.at(m_at) != ' ')
            ++m_at;
        return m_line.sliced(start, m_at - start);
    }
    // The next word, its blanks skipped before it.
    QByteArrayView nextWord()
    {
        skipBlanks();
        return word();
    }

private:
    QByteArrayView m_line;
    qsizetype m_at;
};

bool isNickServ(QByteArrayView target)
{
    const qsizetype at = target.indexOf('@');
    return isWord(at < 0 ? target : target.first(at), "NickServ");
}

bool isErrorNumeric(QByteArrayView command)
{
    return command.size() == 3 && (command.at(0) == '4' || command.at(0) == '5')
           && std::isdigit(static_cast<unsigned char>(command.at(1)))
           && std::isdigit(static_cast<unsigned char>(command.at(2)));
}

// From where on the text of a message to the nick services (at `cursor`) is secret: all after
// IDENTIFY, REGISTER and SET PASSWORD, and after the nick of GHOST and RECOVER; -1 when nothing is.
qsizetype secretToServices(Cursor cursor)
{
    const auto rest = [&]() -> qsizetype {
        cursor.skipBlanks();
        return cursor.atEnd() ? -1 : cursor.at();
    };
    const QByteArrayView word = cursor.nextWord();
    if (isWord(word, "IDENTIFY") || isWord(word, "REGISTER"))
        return rest();
    if (isWord(word, "SET"))
        return isWord(cursor.nextWord(), "PASSWORD") ? rest() : -1;
    if (isWord(word, "GHOST") || isWord(word, "RECOVER"))
        return cursor.nextWord().isEmpty() ? -1 : rest();
    return -1;
}

// From where on the line after its command word is secret, or -1 when nothing is.
qsizetype secretFrom(QByteArrayView line, QByteArrayView command, Cursor cursor);

// Error numerics may repeat the line they refuse ("421 alice PASS secret :Unknown command"):
// the repeated line is masked as the line itself would be. Repeated among the middle parameters,
// the line ends where the server's own text begins, so that "461 alice PASS :Not enough
// parameters" stays readable; repeated inside that text, it runs to the end.
qsizetype secretInNumeric(QByteArrayView line, Cursor cursor)
{
    cursor.nextWord(); // our nick
    const qsizetype trailing = line.indexOf(" :", cursor.at());
    const QByteArrayView middle = trailing < 0 ? line : line.first(trailing);
    for (;;) {
        cursor.skipBlanks();
        const bool inText = trailing >= 0 && cursor.at() > trailing;
        cursor.skip(':');
        if (cursor.atEnd())
            return -1;
        const QByteArrayView word = cursor.word();
        const QByteArrayView scope = inText ? line : middle;
        const qsizetype from = secretFrom(scope, word, Cursor(scope, cursor.at()));
        if (from >= 0)
            return from;
    }
}

qsizetype secretFrom(QByteArrayView line, QByteArrayView command, Cursor cursor)
{
    const auto rest = [&]() -> qsizetype {
        cursor.skipBlanks();
        return cursor.atEnd() ? -1 : cursor.at();
    };
    if (isWord(command, "PASS"))
        return rest();
    if (isWord(command, "AUTHENTICATE")) {
        const qsizetype from = rest();
        if (from < 0)
            return -1;
        QByteArrayView payload = line.sliced(from);
        payload = (payload.startsWith(':') ? payload.sliced(1) : payload).trimmed();
        // The steps of the login carry no secret and keep the log readable.
        return payload == "+" || payload == "*" || isWord(payload, "PLAIN") ? -1 : from;
    }
    if (isWord(command, "OPER")) {
        if (cursor.nextWord().isEmpty())
            return -1;
        return rest();
    }
    if (isWord(command, "NS") || isWord(command, "NICKSERV")) {
        cursor.skipBlanks();
        cursor.skip(':');
        return secretToServices(cursor);
    }
    if (isWord(command, "PRIVMSG") || isWord(command, "NOTICE")) {
        if (!isNickServ(cursor.nextWord()))
            return -1;
        cursor.skipBlanks();
        cursor.skip(':');
        return secretToServices(cursor);
    }
    if (isErrorNumeric(command))
        return secretInNumeric(line, cursor);
    return -1;
}

} // namespace

QByteArray maskSecrets(QByteArrayView line)
{
    // Tags and a prefix go before the command; both are skipped as the parser would.
    Cursor cursor(line);
    cursor.skipBlanks();
    if (cursor.peek() == '@')
        cursor.nextWord();
    cursor.skipBlanks();
    if (cursor.peek() == ':')
        cursor.word();
    const QByteArrayView command = cursor.nextWord();
    const qsizetype from = secretFrom(line, command, cursor);
    if (from < 0)
        return line.toByteArray();
    // A line end typed with the line stays, so the log keeps its layout.
    qsizetype end = line.size();
    while (end > from && (line.at(end - 1) == '\r' || line.at(end - 1) == '\n'))
        --end;
    if (end == from)
        return line.toByteArray();
    return line.first(from).toByteArray() + kMask + line.sliced(end).toByteArray();
}

QByteArray maskSentText(QByteArrayView target, QByteArrayView text)
{
    const QByteArray prefix = "PRIVMSG " + target.toByteArray() + " :";
    const QByteArray masked = maskSecrets(prefix + text.toByteArray());
    return masked.startsWith(prefix) ? masked.sliced(prefix.size()) : text.toByteArray();
}

} // namespace diag

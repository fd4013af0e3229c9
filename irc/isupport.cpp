#include "irc/isupport.h"

#include "irc/message.h"

#include <optional>

namespace irc {

namespace {

// A decimal value of at most a few digits; anything else is not a value we trust.
std::optional<int> smallNumber(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 6)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

char foldByte(char c, CaseMapping mapping)
{
    if (c >= 'A' && c <= 'Z')
        return char(c - 'A' + 'a');
    if (mapping == CaseMapping::Ascii)
        return c;
    switch (c) {
    case '[':
        return '{';
    case ']':
        return '}';
    case '\\':
        return '|';
    case '~':
        return mapping == CaseMapping::Rfc1459 ? '^' : c;
    default:
        return c;
    }
}

} // namespace

QList<QByteArray> isupportTokens(const Message& message)
{
    // ":server 005 nick TOKEN TOKEN=value :are supported by this server"
    QList<QByteArray> tokens;
    if (message.command != "005")
        return tokens;
    for (qsizetype i = 1; i < message.middleCount(); ++i)
        tokens.append(message.params[i].toByteArray());
    return tokens;
}

void applyIsupportTokens(ServerSupport& support, const QList<QByteArray>& tokens)
{
    for (const QByteArray& token : tokens) {
        if (token.startsWith('-')) {
            const QByteArray name = token.mid(1).toUpper();
            if (name == "MONITOR") {
                support.monitor = false;
                support.monitorLimit = ServerSupport::kNoMonitorLimit;
            } else if (name == "NICKLEN") {
                support.nickLen = ServerSupport::kNoNickLimit;
            } else if (name == "CASEMAPPING") {
                support.caseMapping = CaseMapping::Rfc1459;
            }
            continue;
        }
        const qsizetype equals = token.indexOf('=');
        const QByteArray name = (equals < 0 ? token : token.first(equals)).toUpper();
        const QByteArrayView value =
            equals < 0 ? QByteArrayView() : QByteArrayView(token).sliced(equals + 1);
        if (name == "MONITOR") {
            // An empty or unreadable limit is no limit: the server still watches for us.
            support.monitor = true;
            support.monitorLimit = smallNumber(value).value_or(ServerSupport::kNoMonitorLimit);
        } else if (name == "NICKLEN") {
            if (const auto length = smallNumber(value); length && *length > 0)
                support.nickLen = *length;
        } else if (name == "CASEMAPPING") {
            const QByteArray mapping = value.toByteArray().toLower();
            // "ascii", and any mapping we do not know (rfc7613, say), fold A-Z only: taking
            // more bytes as equal than the server does would merge two people into one.
            if (mapping == "rfc1459")
                support.caseMapping = CaseMapping::Rfc1459;
            else if (mapping == "strict-rfc1459")
                support.caseMapping = CaseMapping::StrictRfc1459;
            else if (!mapping.isEmpty())
                support.caseMapping = CaseMapping::Ascii;
        }
    }
}

QByteArray foldNick(QByteArrayView nick, CaseMapping mapping)
{
    QByteArray folded(nick.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < nick.size(); ++i)
        folded[i] = foldByte(nick[i], mapping);
    return folded;
}

bool sameNick(QByteArrayView a, QByteArrayView b, CaseMapping mapping)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (foldByte(a[i], mapping) != foldByte(b[i], mapping))
            return false;
    }
    return true;
}

bool nickFits(QByteArrayView nick, const ServerSupport& support)
{
    if (nick.isEmpty())
        return false;
    if (support.nickLen != ServerSupport::kNoNickLimit && nick.size() > support.nickLen)
        return false;
    for (const char c : nick) {
        if (c == ' ' || c == ',' || c == '\r' || c == '\n' || c == '\0')
            return false;
    }
    return !nick.startsWith(':');
}

} // namespace irc

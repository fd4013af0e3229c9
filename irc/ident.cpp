#include "irc/ident.h"

#include "irc/line_tools.h"

#include <utility>

namespace irc {

namespace {

constexpr char kUserIdReply[] = " : USERID : WINDOWS : ";
constexpr char kInvalidPortReply[] = " : ERROR : INVALID-PORT";
constexpr int kMaxPort = 65535;

// RFC 1413 lets blanks and tabs stand between tokens.
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArrayView trimBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

std::optional<quint16> parsePort(QByteArrayView field)
{
    field = trimBlanks(field);
    if (field.isEmpty())
        return std::nullopt;
    int value = 0;
    for (char c : field) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > kMaxPort)
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    return static_cast<quint16>(value);
}

// The request as it is echoed: RFC 1413 replies begin with the request, so a querier matches
// our answer to its question even when the question was malformed. Only bytes that could
// disturb the querier's terminal or log (controls other than the tab blanks, and anything
// outside ASCII) are left out.
QByteArray echoedRequest(QByteArrayView request)
{
    QByteArray echo;
    echo.reserve(request.size());
    for (char c : request) {
        if (c == '\t' || (c >= 0x20 && c < 0x7F))
            echo += c;
    }
    return echo;
}

} // namespace

std::optional<IdentPortPair> ParseIdentRequest(QByteArrayView request)
{
    const qsizetype comma = request.indexOf(',');
    if (comma < 0)
        return std::nullopt;
    const std::optional<quint16> local = parsePort(request.first(comma));
    const std::optional<quint16> remote = parsePort(request.sliced(comma + 1));
    if (!local || !remote)
        return std::nullopt;
    return IdentPortPair{*local, *remote};
}

QByteArray BuildIdentReply(QByteArrayView request, QByteArrayView nick)
{
    QByteArray reply = echoedRequest(request);
    if (ParseIdentRequest(request)) {
        reply += kUserIdReply;
        reply += nick;
    } else {
        reply += kInvalidPortReply;
    }
    reply += "\r\n";
    return reply;
}

IdentRequestFramer::Result IdentRequestFramer::feed(QByteArrayView bytes)
{
    Result result;
    if (m_overLong) {
        result.overLong = true;
        return result;
    }
    m_pending.append(bytes);

    qsizetype start = 0;
    for (qsizetype lf = m_pending.indexOf('\n'); lf >= 0; lf = m_pending.indexOf('\n', start)) {
        // The request is its line cut at the CR LF; a querier that ends it with a bare LF, or
        // sends an empty line, is answered all the same.
        QByteArray request = m_pending.mid(start, lf + 1 - start);
        if (CutAtLastCrLf(request) == 0)
            request.chop(request.endsWith("\r\n") ? 2 : 1);
        if (request.size() > kMaxIdentRequestBytes) {
            m_overLong = true;
            break;
        }
        result.requests.append(std::move(request));
        start = lf + 1;
    }
    m_pending.remove(0, start);

    // A trailing CR may be the first half of the line end, not part of the request.
    const qsizetype partialLength = m_pending.size() - (m_pending.endsWith('\r') ? 1 : 0);
    if (partialLength > kMaxIdentRequestBytes)
        m_overLong = true;
    if (m_overLong) {
        m_pending.clear();
        m_pending.squeeze();
    }
    result.overLong = m_overLong;
    return result;
}

} // namespace irc

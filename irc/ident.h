#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace irc {

// An ident query cannot hold more than two port numbers and a few blanks; anything this long is
// not a query, and stopping there bounds what one connection can make us keep.
inline constexpr qsizetype kMaxIdentRequestBytes = 1000;

// The two ports of an ident query (RFC 1413): the first is the port on our side of the
// connection being asked about, the second the port on the querying side.
struct IdentPortPair
{
    quint16 local = 0;
    quint16 remote = 0;

    friend bool operator==(const IdentPortPair& a, const IdentPortPair& b)
    {
        return a.local == b.local && a.remote == b.remote;
    }
};

// <port> , <port>, each 1-65535, with blanks or tabs allowed around the comma and at the ends.
std::optional<IdentPortPair> ParseIdentRequest(QByteArrayView request);

// The answer to one request (without its line end), CR LF included. A well-formed request is
// echoed as received: "<request> : USERID : WINDOWS : <nick>". Any other gets
// "<request> : ERROR : INVALID-PORT", the request echoed without its control characters and
// bytes outside ASCII.
QByteArray BuildIdentReply(QByteArrayView request, QByteArrayView nick);

// Cuts the bytes of one ident connection into requests ended by LF or CR LF. A request longer
// than kMaxIdentRequestBytes (line end not counted) ends the framing for good: the caller
// answers the requests completed before it and closes the connection.
class IdentRequestFramer
{
public:
    struct Result
    {
        QList<QByteArray> requests; // complete, in order, without their line ends
        bool overLong = false;
    };

    Result feed(QByteArrayView bytes);

    bool isOverLong() const { return m_overLong; }

private:
    QByteArray m_pending;
    bool m_overLong = false;
};

} // namespace irc

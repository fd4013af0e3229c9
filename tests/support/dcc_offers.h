#pragma once

#include "irc/dcc_offer.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>

#include <algorithm>

namespace test {

// An offer as the tables write it: active over IPv4 unless a token or an IPv6 address says else.
inline irc::DccOffer offer(irc::DccKind kind, const QByteArray& sender, const QByteArray& fileName,
                           quint32 address, quint16 port, quint64 size,
                           const QByteArray& token = {})
{
    irc::DccOffer o = irc::DccOffer::active(kind, sender, fileName, address, port, size);
    o.token = token;
    return o;
}

inline irc::DccOffer secured(irc::DccOffer o)
{
    o.secure = true;
    return o;
}

inline irc::DccOffer overIPv6(irc::DccOffer o, const char* literal)
{
    o.address = QHostAddress(QString::fromLatin1(literal));
    return o;
}

// What a request is read from: the arguments of its CTCP message, after "\x01DCC " and without
// the closing 0x01.
inline QByteArrayView dccArguments(const QByteArray& body)
{
    return QByteArrayView(body).sliced(std::min<qsizetype>(4, body.size()));
}

} // namespace test

#pragma once

#include "peer/transfer/transfer_core.h"

#include <QByteArray>

namespace test {

// The 4-byte acknowledgement of `count` bytes, as a receiver sends it.
inline QByteArray ack(quint64 count)
{
    const auto bytes = peer::encodeAck(count);
    return QByteArray(bytes.data(), 4);
}

// The 8-byte acknowledgement of `count` bytes, as a receiver of a file past 4 GiB sends it.
inline QByteArray wideAck(quint64 count)
{
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = char(count >> (56 - 8 * i));
    return bytes;
}

} // namespace test

#pragma once

#include "peer/transfer_core.h"

#include <QByteArray>

namespace test {

// The 4-byte acknowledgement of `count` bytes, as a receiver sends it.
inline QByteArray ack(quint64 count)
{
    const auto bytes = peer::encodeAck(count);
    return QByteArray(bytes.data(), 4);
}

} // namespace test

#pragma once

#include <QByteArrayView>
#include <QString>

namespace diag {

// Server text for display: UTF-8 when the bytes are valid UTF-8, else Latin-1, so that nothing
// is ever shown as replacement characters or dropped. Wire bytes are never re-encoded.
QString decodeServerText(QByteArrayView bytes);

// The first `maxBytes` bytes of `bytes`, moved back (at most three bytes) so that a UTF-8
// character is never cut in half; the whole of `bytes` when it fits.
QByteArrayView cutUtf8(QByteArrayView bytes, qsizetype maxBytes);

} // namespace diag

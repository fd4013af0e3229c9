#include "diag/server_text.h"

#include <QStringDecoder>

namespace diag {

QString decodeServerText(QByteArrayView bytes)
{
    // Stateless so that a sequence cut off at the end counts as an error instead of being held
    // back; an initial BOM is kept so that no byte vanishes from the display.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                                     | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QString::fromLatin1(bytes.data(), bytes.size());
    return text;
}

QByteArrayView cutUtf8(QByteArrayView bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype end = qMax<qsizetype>(maxBytes, 0);
    for (int back = 0; back < 3 && end > 0; ++back) {
        if ((static_cast<unsigned char>(bytes[end]) & 0xC0) != 0x80)
            break;
        --end;
    }
    return bytes.first(end);
}

} // namespace diag

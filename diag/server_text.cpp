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

} // namespace diag

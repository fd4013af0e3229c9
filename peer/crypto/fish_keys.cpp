#include "peer/crypto/fish_keys.h"

#include <QList>

namespace peer {

// "<ecb|cbc> <0|1> <digest hex, or - for a typed key> <key>": the key comes last, since it is
// the one field that may hold blanks.
QByteArray encodeStoredFishKey(const StoredFishKey& key)
{
    return QByteArray(key.mode == FishMode::Cbc ? "cbc" : "ecb") + ' ' + (key.verified ? '1' : '0')
           + ' ' + (key.digest.isEmpty() ? QByteArray("-") : key.digest.toHex()) + ' ' + key.key;
}

namespace {

std::optional<StoredFishKey> decode(QByteArrayView text, bool keyRequired)
{
    QList<QByteArrayView> fields;
    qsizetype from = 0;
    for (int i = 0; i < 3; ++i) {
        const qsizetype blank = text.indexOf(' ', from);
        if (blank < 0)
            return std::nullopt;
        fields.push_back(text.sliced(from, blank - from));
        from = blank + 1;
    }
    StoredFishKey key;
    if (fields[0] == "cbc")
        key.mode = FishMode::Cbc;
    else if (fields[0] != "ecb")
        return std::nullopt;
    if (fields[1] != "0" && fields[1] != "1")
        return std::nullopt;
    key.verified = fields[1] == "1";
    if (fields[2] != "-") {
        key.digest = QByteArray::fromHex(fields[2].toByteArray());
        if (key.digest.size() != 32 || key.digest.toHex() != fields[2])
            return std::nullopt;
    }
    key.key = text.sliced(from).toByteArray();
    if ((keyRequired && key.key.isEmpty()) || key.key.size() > kMaxFishKeyBytes)
        return std::nullopt;
    // Only an exchange's key can have been verified.
    if (key.digest.isEmpty())
        key.verified = false;
    return key;
}

} // namespace

std::optional<StoredFishKey> decodeStoredFishKey(QByteArrayView text)
{
    return decode(text, true);
}

QByteArray encodeFishKeyRecord(const StoredFishKey& key)
{
    StoredFishKey record = key;
    record.key.clear();
    return encodeStoredFishKey(record);
}

std::optional<StoredFishKey> decodeFishKeyRecord(QByteArrayView text)
{
    return decode(text, false);
}

} // namespace peer

#include "peer/crypto/encrypted_chat.h"

#include <QRandomGenerator>

namespace peer {
namespace {

constexpr qsizetype kBlock = 8;
constexpr qsizetype kHeader = 4;
constexpr char kLineEnd = '\n';

quint32 readLittleEndian(const char* bytes)
{
    const auto* b = reinterpret_cast<const quint8*>(bytes);
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

void writeLittleEndian(char* bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

quint32 readBigEndian(QByteArrayView bytes)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<quint8>(bytes[i]);
    return value;
}

// Both ends read a block's halves little-endian, unlike the usual test vectors; the wire
// depends on it.
template <typename Cipher>
void transformBlocks(const BlowfishState& state, char* data, qsizetype size, Cipher cipher)
{
    for (qsizetype offset = 0; offset + kBlock <= size; offset += kBlock) {
        quint32 left = readLittleEndian(data + offset);
        quint32 right = readLittleEndian(data + offset + 4);
        cipher(state, left, right);
        writeLittleEndian(data + offset, left);
        writeLittleEndian(data + offset + 4, right);
    }
}

bool isUtf8Continuation(char byte)
{
    return (static_cast<quint8>(byte) & 0xC0) == 0x80;
}

} // namespace

bool isValidPacketLength(quint32 lengthField)
{
    if (lengthField < kHeader || lengthField > kMaxPacketLengthField)
        return false;
    return (lengthField - kHeader) % kBlock == 0;
}

std::optional<QByteArray> SealChatText(const BlowfishState& state, QByteArrayView text)
{
    if (text.size() > kMaxSealedText)
        return std::nullopt;
    const qsizetype n = (text.size() + kBlock - 1) / kBlock * kBlock;
    const auto lengthField = static_cast<quint32>(n + kHeader);

    QByteArray packet(kHeader + n + 1, '\0');
    for (int i = 0; i < 4; ++i)
        packet[i] = static_cast<char>((lengthField >> (8 * (3 - i))) & 0xFF);
    std::copy(text.begin(), text.end(), packet.begin() + kHeader);
    transformBlocks(state, packet.data() + kHeader, n, BlowfishEncrypt);
    packet[kHeader + n] = kLineEnd;
    return packet;
}

std::optional<OpenedChatPacket> OpenChatPacket(const BlowfishState& state, QByteArrayView packet)
{
    if (packet.size() < kHeader)
        return std::nullopt;
    const quint32 lengthField = readBigEndian(packet);
    if (!isValidPacketLength(lengthField))
        return std::nullopt;
    const qsizetype n = lengthField - kHeader;
    const qsizetype rest = packet.size() - kHeader;
    const bool exact = rest == n || (rest == n + 1 && packet.back() == kLineEnd);
    if (!exact)
        return std::nullopt;

    OpenedChatPacket opened;
    opened.ciphertext = packet.sliced(kHeader, n).toByteArray();
    QByteArray plain = opened.ciphertext;
    transformBlocks(state, plain.data(), n, BlowfishDecrypt);
    // The sender's zero fill ends the text; so does the end of the last block.
    const qsizetype end = plain.indexOf('\0');
    opened.text = end < 0 ? plain : plain.left(end);
    return opened;
}

QList<QByteArray> splitChatText(QByteArrayView text)
{
    QList<QByteArray> pieces;
    while (!text.isEmpty()) {
        qsizetype cut = std::min(text.size(), kMaxSealedText);
        if (cut < text.size()) {
            qsizetype back = cut;
            while (back > 0 && isUtf8Continuation(text[back]))
                --back;
            // A run of continuation bytes longer than a piece is not UTF-8; cut it anywhere.
            if (back > 0)
                cut = back;
        }
        pieces.append(text.first(cut).toByteArray());
        text = text.sliced(cut);
    }
    return pieces;
}

RandomSource systemRandomSource()
{
    return [] { return QRandomGenerator::system()->generate(); };
}

QByteArray MakeChatKey(const RandomSource& source)
{
    QByteArray key(kChatKeyLength, '\0');
    do {
        for (char& byte : key) {
            quint32 value = 0;
            do {
                value = source() & 0xFF;
            } while (value == 0 || value == 0xFF);
            byte = static_cast<char>(value);
        }
    } while (key.startsWith("END"));
    return key;
}

std::optional<QByteArray> chatKeyMessage(QByteArrayView key)
{
    if (key.size() != kChatKeyLength)
        return std::nullopt;
    QByteArray message(kKeyMessagePrefix);
    message.append(key);
    message.append('\x01');
    return message;
}

bool installChatKey(BlowfishState& state, QByteArrayView key)
{
    state.reset();
    if (key.size() != kChatKeyLength)
        return false;
    return BlowfishInit(state, key);
}

} // namespace peer

#include "peer/crypto/fish.h"

#include "peer/common/chat_text.h"
#include "peer/crypto/dh1080.h"

#include <algorithm>
#include <limits>

namespace peer {
namespace {

constexpr qsizetype kBlock = 8;
constexpr qsizetype kGroup = 12; // FiSH base64 characters per block
constexpr char kAlphabet[] = "./0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr QByteArrayView kEcbPrefix = "+OK ";
constexpr QByteArrayView kMircryptionPrefix = "mcps ";
constexpr char kCbcMark = '*';
// Our own messages always use "+OK "; the CBC form adds the mark.
constexpr qsizetype kEcbOverhead = 4;
constexpr qsizetype kCbcOverhead = 5;

int alphabetIndex(char c)
{
    if (c == '.')
        return 0;
    if (c == '/')
        return 1;
    if (c >= '0' && c <= '9')
        return 2 + (c - '0');
    if (c >= 'a' && c <= 'z')
        return 12 + (c - 'a');
    if (c >= 'A' && c <= 'Z')
        return 38 + (c - 'A');
    return -1;
}

quint32 readBigEndian(const char* bytes)
{
    const auto* b = reinterpret_cast<const quint8*>(bytes);
    return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | quint32(b[3]);
}

void writeBigEndian(char* bytes, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * (3 - i))) & 0xFF);
}

QByteArray zeroPadded(QByteArrayView text)
{
    QByteArray padded = text.toByteArray();
    padded.append((kBlock - text.size() % kBlock) % kBlock, '\0');
    return padded;
}

// Each block alone, its halves big-endian: ECB as every FiSH peer writes it.
template <void (*cipher)(const BlowfishState&, quint32&, quint32&)>
void eachBlock(const BlowfishState& state, QByteArray& data)
{
    for (qsizetype at = 0; at + kBlock <= data.size(); at += kBlock) {
        quint32 left = readBigEndian(data.constData() + at);
        quint32 right = readBigEndian(data.constData() + at + 4);
        cipher(state, left, right);
        writeBigEndian(data.data() + at, left);
        writeBigEndian(data.data() + at + 4, right);
    }
}

void encryptEcb(const BlowfishState& state, QByteArray& data)
{
    eachBlock<BlowfishEncrypt>(state, data);
}

void decryptEcb(const BlowfishState& state, QByteArray& data)
{
    eachBlock<BlowfishDecrypt>(state, data);
}

// `data` starts with the IV, which stays as it is: the wire carries it in the clear.
void encryptCbc(const BlowfishState& state, QByteArray& data)
{
    quint32 chainLeft = readBigEndian(data.constData());
    quint32 chainRight = readBigEndian(data.constData() + 4);
    for (qsizetype at = kBlock; at + kBlock <= data.size(); at += kBlock) {
        quint32 left = readBigEndian(data.constData() + at) ^ chainLeft;
        quint32 right = readBigEndian(data.constData() + at + 4) ^ chainRight;
        BlowfishEncrypt(state, left, right);
        writeBigEndian(data.data() + at, left);
        writeBigEndian(data.data() + at + 4, right);
        chainLeft = left;
        chainRight = right;
    }
}

// The reverse of encryptCbc; the first block (the IV) is left out of the result.
QByteArray decryptCbc(const BlowfishState& state, QByteArrayView data)
{
    QByteArray plain(data.size() - kBlock, '\0');
    quint32 chainLeft = readBigEndian(data.data());
    quint32 chainRight = readBigEndian(data.data() + 4);
    for (qsizetype at = kBlock; at + kBlock <= data.size(); at += kBlock) {
        const quint32 cipherLeft = readBigEndian(data.data() + at);
        const quint32 cipherRight = readBigEndian(data.data() + at + 4);
        quint32 left = cipherLeft;
        quint32 right = cipherRight;
        BlowfishDecrypt(state, left, right);
        writeBigEndian(plain.data() + at - kBlock, left ^ chainLeft);
        writeBigEndian(plain.data() + at - kBlock + 4, right ^ chainRight);
        chainLeft = cipherLeft;
        chainRight = cipherRight;
    }
    return plain;
}

// The body of a message after its prefix, or nothing when it has none.
std::optional<QByteArrayView> fishBody(QByteArrayView message)
{
    for (QByteArrayView prefix : {kEcbPrefix, kMircryptionPrefix}) {
        if (message.startsWith(prefix))
            return message.sliced(prefix.size());
    }
    return std::nullopt;
}

std::optional<QByteArray> ecbCiphertext(QByteArrayView body)
{
    if (body.isEmpty() || body.size() % kGroup != 0)
        return std::nullopt;
    return fishBase64Decode(body);
}

// The IV and the blocks after it: at least one block of text.
std::optional<QByteArray> cbcCiphertext(QByteArrayView body)
{
    // dh1080's decoder forgives the stray 'A' of its own keys, which no CBC message carries.
    if (body.size() % 4 == 1)
        return std::nullopt;
    auto bytes = dh1080::decodeBase64(body);
    if (!bytes || bytes->size() < 2 * kBlock || bytes->size() % kBlock != 0)
        return std::nullopt;
    return bytes;
}

// Whether `byte` may stand in a chat line: a tab, the formatting codes, CTCP's 0x01, or no
// control at all.
bool isTextByte(unsigned char byte)
{
    if (byte >= 0x20 && byte != 0x7f)
        return true;
    switch (byte) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x09:
    case 0x0f:
    case 0x11:
    case 0x16:
    case 0x1d:
    case 0x1e:
    case 0x1f:
        return true;
    default:
        return false;
    }
}

// Zeros end the text, and only zeros may follow (the sender's padding). Blowfish under another
// key gives bytes that look random, which almost never pass: a non-zero byte in the padding, a
// line break or other control, or a broken UTF-8 sequence gives them away, so another key's
// garbage is not shown. The price is that a peer writing Latin-1 is not read.
std::optional<QByteArray> plausibleText(QByteArray plain)
{
    const qsizetype end = plain.indexOf('\0');
    if (end >= 0) {
        for (qsizetype i = end; i < plain.size(); ++i) {
            if (plain[i] != '\0')
                return std::nullopt;
        }
        plain.truncate(end);
    }
    if (plain.isEmpty() || !QByteArrayView(plain).isValidUtf8())
        return std::nullopt;
    for (const char byte : plain) {
        if (!isTextByte(static_cast<unsigned char>(byte)))
            return std::nullopt;
    }
    return plain;
}

} // namespace

QByteArray fishBase64Encode(QByteArrayView bytes)
{
    QByteArray text;
    text.reserve(bytes.size() / kBlock * kGroup);
    for (qsizetype at = 0; at + kBlock <= bytes.size(); at += kBlock) {
        quint32 left = readBigEndian(bytes.data() + at);
        quint32 right = readBigEndian(bytes.data() + at + 4);
        for (int i = 0; i < 6; ++i, right >>= 6)
            text.append(kAlphabet[right & 0x3F]);
        for (int i = 0; i < 6; ++i, left >>= 6)
            text.append(kAlphabet[left & 0x3F]);
    }
    return text;
}

std::optional<QByteArray> fishBase64Decode(QByteArrayView text)
{
    if (text.size() % kGroup != 0)
        return std::nullopt;
    QByteArray bytes(text.size() / kGroup * kBlock, '\0');
    for (qsizetype group = 0; group * kGroup < text.size(); ++group) {
        // Six characters carry 36 bits; like every other FiSH, keep the low 32.
        quint32 halves[2] = {0, 0}; // right, then left
        for (int i = 0; i < kGroup; ++i) {
            const int value = alphabetIndex(text[group * kGroup + i]);
            if (value < 0)
                return std::nullopt;
            halves[i / 6] |= quint32(value) << (6 * (i % 6));
        }
        writeBigEndian(bytes.data() + group * kBlock, halves[1]);
        writeBigEndian(bytes.data() + group * kBlock + 4, halves[0]);
    }
    return bytes;
}

std::optional<FishKeyText> parseFishKeyText(QByteArrayView text)
{
    text = text.trimmed();
    FishKeyText parsed;
    const QByteArray head = text.first(std::min<qsizetype>(4, text.size())).toByteArray().toLower();
    if (head == "cbc:" || head == "ecb:") {
        parsed.mode = head == "cbc:" ? FishMode::Cbc : FishMode::Ecb;
        text = text.sliced(4);
    }
    if (text.isEmpty() || text.size() > kMaxFishKeyBytes)
        return std::nullopt;
    parsed.key = text.toByteArray();
    return parsed;
}

bool FishKey::set(QByteArrayView key)
{
    clear();
    if (key.isEmpty() || key.size() > kMaxFishKeyBytes)
        return false;
    m_set = BlowfishInit(m_state, key);
    return m_set;
}

void FishKey::clear()
{
    m_state.reset();
    m_set = false;
}

QByteArray sealFishText(const FishKey& key, FishMode mode, QByteArrayView text,
                        const RandomSource& random)
{
    if (!key.isSet() || text.isEmpty())
        return {};
    if (mode == FishMode::Ecb) {
        QByteArray data = zeroPadded(text);
        encryptEcb(key.state(), data);
        return kEcbPrefix.toByteArray() + fishBase64Encode(data);
    }
    QByteArray data(kBlock, '\0');
    for (char& byte : data)
        byte = static_cast<char>(random() & 0xFF);
    data += zeroPadded(text);
    encryptCbc(key.state(), data);
    return kEcbPrefix.toByteArray() + kCbcMark + data.toBase64();
}

OpenedFishText openFishText(const FishKey& key, QByteArrayView message)
{
    OpenedFishText opened;
    const auto body = fishBody(message);
    if (!body)
        return opened;
    opened.status = OpenedFishText::Status::Undecryptable;
    const bool cbc = body->startsWith(kCbcMark);
    opened.mode = cbc ? FishMode::Cbc : FishMode::Ecb;
    if (!key.isSet())
        return opened;

    std::optional<QByteArray> text;
    if (cbc) {
        if (const auto data = cbcCiphertext(body->sliced(1)))
            text = plausibleText(decryptCbc(key.state(), *data));
    } else if (auto data = ecbCiphertext(*body)) {
        decryptEcb(key.state(), *data);
        text = plausibleText(*data);
    }
    if (text) {
        opened.status = OpenedFishText::Status::Opened;
        opened.text = *text;
    }
    return opened;
}

QByteArray readableFishText(QByteArrayView text)
{
    QByteArray readable =
        text.isValidUtf8() ? text.toByteArray() : QString::fromUtf8(text).toUtf8();
    for (char& byte : readable) {
        if (!isTextByte(static_cast<unsigned char>(byte)))
            byte = ' ';
    }
    return readable;
}

bool isFishMessage(QByteArrayView message)
{
    const auto body = fishBody(message);
    if (!body)
        return false;
    if (body->startsWith(kCbcMark))
        return cbcCiphertext(body->sliced(1)).has_value();
    return ecbCiphertext(*body).has_value();
}

qsizetype fishPlainRoom(FishMode mode, qsizetype room)
{
    if (mode == FishMode::Ecb) {
        if (room < kEcbOverhead)
            return 0;
        return (room - kEcbOverhead) / kGroup * kBlock;
    }
    if (room < kCbcOverhead)
        return 0;
    // Padded base64 of the IV and n bytes takes 4 * ceil((8 + n) / 3) characters.
    const qsizetype quads = (room - kCbcOverhead) / 4;
    const qsizetype bytes = 3 * quads - kBlock;
    return bytes < kBlock ? 0 : bytes / kBlock * kBlock;
}

QList<QByteArray> splitForFish(QByteArrayView text, FishMode mode, qsizetype room)
{
    const qsizetype plainRoom = fishPlainRoom(mode, room);
    if (text.isEmpty() || plainRoom == 0)
        return {};
    const auto maxBytes = int(std::min<qsizetype>(plainRoom, std::numeric_limits<int>::max()));
    return splitAtWords(text.toByteArray(), maxBytes);
}

} // namespace peer

#pragma once

#include "peer/crypto/blowfish.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <functional>
#include <optional>

namespace peer {

// The encrypted direct chat's wire format: ECB-sealed packets, the key and its messages.
//
// Packet: [L, 4 bytes big-endian = n + 4][n bytes: the text zero-padded to a multiple of 8, each
// 8-byte block encrypted alone, its halves read little-endian][LF].

constexpr qsizetype kChatKeyLength = 16;
// Length fields of 512 and more are refused: no sane line needs one, and a bound keeps a hostile
// peer from making us buffer megabytes. That leaves 508 ciphertext bytes.
constexpr quint32 kMaxPacketLengthField = 511;
// Peers of the first protocol version drop every packet whose length field is 512 or more, so a
// text longer than 504 bytes (L = 516) would vanish on their side. We never seal one.
constexpr qsizetype kMaxSealedText = 504;
// 0x01 "ENCRYPT " <16 key bytes> 0x01, no line end.
constexpr qsizetype kKeyMessageLength = 26;

inline constexpr char kKeyMessagePrefix[] = "\x01"
                                            "ENCRYPT ";
inline constexpr char kEndMessage[] = "\x01"
                                      "ENCRYPT END\x01";

// Whether a packet's length field can belong to a packet: a whole number of blocks, at most the
// 512 ciphertext bytes that a peer's longest line needs.
bool isValidPacketLength(quint32 lengthField);

// The packet for `text`, or nothing for a text longer than kMaxSealedText (split it first, see
// splitChatText). The receiver ends the text at its first zero byte, so text after an embedded
// NUL does not arrive.
std::optional<QByteArray> SealChatText(const BlowfishState& state, QByteArrayView text);

struct OpenedChatPacket
{
    QByteArray text;       // up to the first zero byte of the decrypted blocks
    QByteArray ciphertext; // as received, for the "Encrypted text:" field

    bool operator==(const OpenedChatPacket& other) const
    {
        return text == other.text && ciphertext == other.ciphertext;
    }
};

// Opens one packet: the length field and ciphertext, optionally with its closing LF and nothing
// else. Refused (nothing) when the length field is invalid or the bytes do not match it.
std::optional<OpenedChatPacket> OpenChatPacket(const BlowfishState& state, QByteArrayView packet);

// Cuts `text` into pieces that SealChatText takes, never inside a UTF-8 sequence. An empty text
// gives no pieces.
QList<QByteArray> splitChatText(QByteArrayView text);

// A source of uniformly random 32-bit values; only the low byte of each draw is used.
using RandomSource = std::function<quint32()>;

// The operating system's CSPRNG (QRandomGenerator::system()).
RandomSource systemRandomSource();

// A fresh 16-byte chat key: each byte uniform in 1..254 (draws of 0 and 255 are rejected, not
// folded, so no value is likelier than another) and never beginning with "END", which the
// receiver would read as the end message.
QByteArray MakeChatKey(const RandomSource& source = systemRandomSource());

// The key message for a 16-byte key, or nothing for a key of any other length.
std::optional<QByteArray> chatKeyMessage(QByteArrayView key);

// Zeroes `state` and schedules `key`, replacing any key before it. False (state left zeroed)
// unless the key has 16 bytes.
bool installChatKey(BlowfishState& state, QByteArrayView key);

} // namespace peer

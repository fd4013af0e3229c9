#pragma once

#include "peer/crypto/encrypted_chat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace peer {

// DH1080, the key exchange of FiSH: Diffie-Hellman over the published 1080-bit prime with
// generator 2, the keys sent in NOTICEs as
//   "DH1080_INIT <public key>[ CBC]"  and  "DH1080_FINISH <public key>[ CBC]"
// and the shared key the base64 of SHA-256 over the shared value (its bytes without leading
// zeros), without '=' padding: a 43-character text, used as the Blowfish key.
namespace dh1080 {

constexpr qsizetype kKeyBytes = 135;
// Standard base64 of the 135 bytes with FiSH's rule: no '=', and an 'A' appended when the
// length needs no padding.
constexpr qsizetype kEncodedKeyLength = 181;

// The prime as 135 big-endian bytes.
QByteArray prime();

struct KeyPair
{
    QByteArray privateKey; // big-endian, 135 bytes
    QByteArray publicKey;  // 2^private mod p, big-endian, left-padded to 135 bytes
};

// A fresh pair from `random` (the private exponent drawn below p - 1, never 0 or 1); nothing if
// the arithmetic failed.
std::optional<KeyPair> makeKeyPair(const RandomSource& random = systemRandomSource());
// The pair of a given private exponent (tests use fixed ones); nothing unless 1 < x < p - 1.
std::optional<KeyPair> keyPairFromPrivate(QByteArrayView privateKey);

// FiSH's base64 of bytes: no '=', an 'A' appended when none would have been needed.
QByteArray encodeBase64(QByteArrayView bytes);
// The reverse, lenient as peers need it: an 'A' that makes the length 1 modulo 4 is dropped,
// '=' padding is taken or left out. Nothing for characters outside the alphabet.
std::optional<QByteArray> decodeBase64(QByteArrayView text);

// A public key as sent: 181 characters.
QByteArray encodePublicKey(QByteArrayView publicKey);
// A peer's public key as 135 bytes (left-padded); nothing unless it decodes, fits 135 bytes and
// lies in 1 < y < p - 1.
std::optional<QByteArray> decodePublicKey(QByteArrayView text);

// The 43-character key both sides arrive at; nothing when `theirPublic` is out of range.
std::optional<QByteArray> sharedKey(const KeyPair& ours, QByteArrayView theirPublic);

enum class Step { Init, Finish };
struct KeyExchange
{
    Step step = Step::Init;
    QByteArray publicKey; // 135 bytes, already checked to be in range
    bool cbc = false;     // " CBC" followed the key (or FiSH10's DH1080_INIT_CBC was used)
    bool operator==(const KeyExchange& other) const
    {
        return step == other.step && publicKey == other.publicKey && cbc == other.cbc;
    }
};
// Reads the text of a NOTICE; nothing when it is not a well-formed key exchange message.
std::optional<KeyExchange> parseKeyExchange(QByteArrayView text);
// "DH1080_INIT <key>" or "DH1080_FINISH <key>", with " CBC" when `cbc`.
QByteArray keyExchangeText(Step step, QByteArrayView publicKey, bool cbc);

// What both users compare to know that nobody stood between them in the exchange: SHA-256 over
// a fixed label and the whole exchange as one side saw it, each message that carried a public key
// (its step, whether " CBC" followed, the key left-padded to 135 bytes), the smaller key first,
// so that both sides get the same whatever their role. A message changed on its way (a key
// replaced, " CBC" taken off) makes the two sides' digests differ.
QByteArray exchangeDigest(const KeyExchange& ours, const KeyExchange& theirs);
// The digest as five groups of four digits ("0123 4567 8901 2345 6789") to read aloud.
QString shortAuthenticationString(QByteArrayView digest);

} // namespace dh1080
} // namespace peer

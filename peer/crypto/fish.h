#pragma once

#include "peer/crypto/blowfish.h"
#include "peer/crypto/encrypted_chat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace peer {

// Relayed messages encrypted the way FiSH (mIRC's FiSH10, HexChat's fishlim, WeeChat's fish.py,
// ZNC's crypt) writes them:
//   ECB: "+OK " <FiSH base64 of Blowfish-ECB over the zero-padded text>
//   CBC: "+OK *" <standard base64 of an 8-byte IV and Blowfish-CBC over the zero-padded text>
// Blowfish here is the published one, halves big-endian (unlike our direct chat's packets).
enum class FishMode { Ecb, Cbc };

// FiSH's own base64: alphabet "./0-9a-zA-Z", each 8-byte block as 12 characters, the right half
// first, six bits at a time from the low end. `bytes` must be a whole number of blocks; any
// rest is left out.
QByteArray fishBase64Encode(QByteArrayView bytes);
// Nothing unless `text` is a whole number of 12-character groups of the alphabet.
std::optional<QByteArray> fishBase64Decode(QByteArrayView text);

// Keys FiSH users type or paste may say their mode the way FiSH10 and mircryption write it
// ("cbc:" or "ecb:" before the key). FiSH keys are at most 56 bytes (Blowfish's own bound in the
// other implementations); shorter than 1 byte is no key.
constexpr qsizetype kMaxFishKeyBytes = 56;
struct FishKeyText
{
    QByteArray key;
    std::optional<FishMode> mode; // when the text named one
    bool operator==(const FishKeyText& other) const
    {
        return key == other.key && mode == other.mode;
    }
};
std::optional<FishKeyText> parseFishKeyText(QByteArrayView text);

// A contact's key, scheduled once.
class FishKey
{
public:
    FishKey() = default;
    // False (and no key) for an empty key or one over kMaxFishKeyBytes.
    bool set(QByteArrayView key);
    bool isSet() const { return m_set; }
    const BlowfishState& state() const { return m_state; }
    void clear();

private:
    BlowfishState m_state;
    bool m_set = false;
};

// The message for `text` (no NUL, no CR or LF: the caller cuts lines first). CBC draws its IV
// from `random`.
QByteArray sealFishText(const FishKey& key, FishMode mode, QByteArrayView text,
                        const RandomSource& random = systemRandomSource());

// What a received relayed text was.
struct OpenedFishText
{
    enum class Status {
        Plain,         // not a FiSH message at all
        Opened,        // decrypted: `text` holds the plain text
        Undecryptable, // a FiSH message that this key cannot open (malformed, or another key)
    };
    Status status = Status::Plain;
    QByteArray text;
    FishMode mode = FishMode::Ecb;
    bool operator==(const OpenedFishText& other) const
    {
        return status == other.status && text == other.text && mode == other.mode;
    }
};

// Reads "+OK " and "mcps " messages, ECB or CBC ("*" after the prefix); the text ends at its
// first zero byte. A text that decrypts to bytes that cannot stand in a line (CR, LF) or to
// nothing at all counts as undecryptable: another key's garbage is never shown.
OpenedFishText openFishText(const FishKey& key, QByteArrayView message);

// `text` as openFishText() takes it for text: controls other than the formatting codes, tab and
// CTCP's 0x01 become blanks, and bytes that are no UTF-8 become U+FFFD. What we seal goes
// through it, so that our own lines never look like another key's garbage to the receiver.
QByteArray readableFishText(QByteArrayView text);

// Whether `message` has the form of a FiSH message, whatever key would open it.
bool isFishMessage(QByteArrayView message);

// The longest plain text (bytes) whose sealed message fits in `room` bytes.
qsizetype fishPlainRoom(FishMode mode, qsizetype room);

// Cuts `text` into pieces whose sealed messages each fit in `room` bytes, never inside a UTF-8
// sequence. An empty text gives no pieces; a room too small for one character gives none.
QList<QByteArray> splitForFish(QByteArrayView text, FishMode mode, qsizetype room);

} // namespace peer

#pragma once

#include "peer/crypto/fish.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace peer {

// What protects the relayed chats with one contact, as their windows say it.
struct FishStatus
{
    bool keyed = false;
    FishMode mode = FishMode::Ecb;
    bool verified = false;
    bool typed = false;      // the user typed the key: there is no exchange to compare
    bool exchanging = false; // our key exchange waits for the contact's answer
    // A key is stored but cannot be read now: nothing goes to the contact, in clear or sealed.
    bool unreadable = false;
    QString comparison; // the short authentication string of the exchange, when there was one

    bool operator==(const FishStatus& o) const
    {
        return keyed == o.keyed && mode == o.mode && verified == o.verified && typed == o.typed
               && exchanging == o.exchanging && unreadable == o.unreadable
               && comparison == o.comparison;
    }
    bool operator!=(const FishStatus& o) const { return !(*this == o); }
};

// How a received relayed line reached us, for the mark its window gives it.
enum class LineProtection {
    None,          // no key with this contact: shown as it came
    Encrypted,     // decrypted with the contact's key
    Clear,         // sent in clear although the chat is encrypted
    Undecryptable, // encrypted, but not with a key we hold
    // Decrypted with the key we had before we stopped encrypting: the contact still encrypts,
    // though we no longer do.
    StillEncrypted,
};

// A contact's FiSH key as kept between runs.
struct StoredFishKey
{
    QByteArray key; // the Blowfish key text, as FiSH peers hold it
    FishMode mode = FishMode::Ecb;
    // The verification digest of the exchange that made the key; empty for a key the user typed,
    // which has nothing to compare.
    QByteArray digest;
    bool verified = false;

    bool operator==(const StoredFishKey& other) const
    {
        return key == other.key && mode == other.mode && digest == other.digest
               && verified == other.verified;
    }
};

// Where the keys of relayed chats are kept, one per contact; the program keeps them as secrets.
class FishKeyStore
{
public:
    virtual ~FishKeyStore() = default;
    // Nothing only when nothing is stored for `nick`. A record whose key text cannot be read now
    // (the secret service is locked, failing or holds no copy, or the record is damaged) comes
    // back with an empty key: the chats with `nick` are encrypted all the same.
    virtual std::optional<StoredFishKey> find(const QByteArray& nick) = 0;
    virtual bool save(const QByteArray& nick, const StoredFishKey& key) = 0;
    // True also when there was none.
    virtual bool forget(const QByteArray& nick) = 0;
};

// A stored key as one text ("cbc 1 <digest hex> <key>"), and back; nothing for a text that is
// not one.
QByteArray encodeStoredFishKey(const StoredFishKey& key);
std::optional<StoredFishKey> decodeStoredFishKey(QByteArrayView text);
// The same text with an empty key ("cbc 1 <digest hex> "), for a store whose key text is kept
// elsewhere; reading takes either form and leaves the key empty when the text holds none.
QByteArray encodeFishKeyRecord(const StoredFishKey& key);
std::optional<StoredFishKey> decodeFishKeyRecord(QByteArrayView text);

} // namespace peer

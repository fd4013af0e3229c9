#pragma once

#include "peer/crypto/dh1080.h"
#include "peer/crypto/fish.h"
#include "peer/crypto/fish_exchange.h"
#include "peer/crypto/fish_keys.h"
#include "peer/crypto/link_check.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <chrono>
#include <memory>
#include <optional>

namespace irc {
class LineRouter;
class ServerEvents;
class ServerLink;
} // namespace irc

namespace peer {

class ChatHost;

// The encryption of relayed chats as FiSH peers speak it: the DH1080 key exchange over NOTICE
// (with the user's consent to a contact's), the contacts' keys, sealing what we send and
// opening what arrives, and the verification of an exchange: by the user comparing the short
// authentication string, or by our program on the other end over a private link whose
// certificate the two users compared. The exchanges themselves are FishExchanges'.
class FishChats : public QObject
{
    Q_OBJECT

public:
    // Takes the notices that carry key exchanges, and seals the away reply to a contact whose
    // chats are encrypted (withheld where the key cannot be read).
    void follow(irc::ServerEvents& events, irc::LineRouter& router);
    // Neither an exchange of ours nor a contact's offer waits longer for its answer.
    static constexpr std::chrono::seconds kExchangeTimeout{60};
    // Offers of strangers waiting for the user's answer at once; more are dropped. A contact's
    // offer always waits: strangers cannot crowd it out. Each nick has one offer at most.
    static constexpr int kMaxOffers = 4;

    FishChats(ChatHost& host, FishKeyStore& keys, QObject* parent = nullptr);
    ~FishChats() override;
    FishChats(const FishChats&) = delete;
    FishChats& operator=(const FishChats&) = delete;

    FishStatus status(const QByteArray& nick);
    // The widest folding, whatever the server announces: a CASEMAPPING of the day must not
    // make a contact's key vanish and the chat fall back to clear text.
    static QByteArray fold(const QByteArray& nick);

    // The PRIVMSG texts for what the user typed to `nick`, each fitting `room` bytes (room left
    // for the server's prefix: Command::roomForRelayedText): sealed
    // when the contact has a key (short enough that the line the server relays, with our
    // prefix before it, still fits), else the text as it is, cut as before. None at all when
    // the contact's key is stored but cannot be read: the chat says why instead.
    QList<QByteArray> outgoing(const QByteArray& nick, const QByteArray& text, qsizetype room);
    // The away reply to `nick` sealed (as much of `text` as fits `room`), or nothing when the
    // contact has no key; withheld when the key is stored but cannot be read.
    struct SealedAway
    {
        QByteArray wire;
        QByteArray plain;
        bool withheld = false;
    };
    std::optional<SealedAway> sealedAway(const QByteArray& nick, QByteArrayView text,
                                         qsizetype room);

    struct Incoming
    {
        QByteArray text;
        LineProtection protection = LineProtection::None;
    };
    Incoming incoming(const QByteArray& nick, QByteArrayView text);

    // The user asked to encrypt the chat with `nick`.
    void startExchange(const QByteArray& nick) { m_exchanges.start(nick); }
    // A NOTICE from `sender`: acted on when it is a key exchange.
    void takeNotice(const QByteArray& sender, QByteArrayView text)
    {
        m_exchanges.takeNotice(sender, text);
    }
    // The user's answer to exchangeOffered().
    void acceptOffer(const QByteArray& nick) { m_exchanges.accept(nick); }
    void declineOffer(const QByteArray& nick) { m_exchanges.decline(nick); }
    bool hasOffer(const QByteArray& nick) const { return m_exchanges.hasOffer(nick); }

    enum class KeyEntry { Set, Invalid, NotKept };
    // A key the user typed or pasted ("cbc:" or "ecb:" may say the mode; ECB otherwise).
    KeyEntry setTypedKey(const QByteArray& nick, const QString& text);
    // Back to clear text with `nick`; false when the store would not let the key go. What
    // the contact still encrypts is read with the key we had, until a new one is set.
    bool stopEncrypting(const QByteArray& nick);
    // The user compared the short authentication string with the contact and it matched.
    void markVerified(const QByteArray& nick);

    // What our program says over a compared private link (`link`, as this side sees it) to the
    // contact's, so that both compare the exchange's digest; nothing when the key came from no
    // exchange. Bound to the link and to its direction: sent back to us, it does not match.
    std::optional<QByteArray> checkMessage(const QByteArray& nick, const LinkEnds& link);
    // Whether a line from a direct link is such a message.
    static bool isCheckMessage(QByteArrayView text);
    // The contact's program said its digest over a compared private link. The caller makes sure
    // that the link may vouch: a check taken here verifies the key, or, when it does not match,
    // ends its verification.
    void takeCheck(const QByteArray& nick, QByteArrayView message, const LinkEnds& link);

    // The keys are read from their store again at their next use: the secret service answers
    // after start, and a contact looked up before it did must not stay without a key.
    void rereadKeys();

    // Every exchange and offer ends; the keys stay stored.
    void closeAll();

signals:
    void statusChanged(const QByteArray& nick);
    // A new key: a pinned private link open to the contact may compare it now.
    void keyChanged(const QByteArray& nick);
    // A line for the relayed chat with `nick` ("*...*\r\n").
    void noteShown(const QByteArray& nick, const QByteArray& line);
    // `nick` asks to encrypt the chat: the user answers with acceptOffer() or declineOffer().
    void exchangeOffered(const QByteArray& nick);

private:
    struct Keyed
    {
        StoredFishKey stored;
        FishKey key;
    };

    bool unreadable(const QByteArray& nick);
    // The contact's key, read from the store at its first use.
    Keyed* keyed(const QByteArray& nick);
    // `ours` and `theirs`: the messages that carried the two public keys, as this side sent and
    // received them; the digest covers both.
    void finish(const QByteArray& nick, const dh1080::KeyExchange& ours,
                const dh1080::KeyExchange& theirs, const QByteArray& key, FishMode mode);
    bool keep(const QByteArray& nick, const StoredFishKey& stored);
    void note(const QByteArray& nick, const QString& text);

    ChatHost& m_host;
    FishKeyStore& m_keys;
    // By the nick as RFC 1459 folds it.
    QHash<QByteArray, std::shared_ptr<Keyed>> m_keyed;
    QHash<QByteArray, bool> m_looked; // nicks whose stored key was read (found or not)
    // Stored records whose key could not be read, without it: nothing goes to these nicks.
    QHash<QByteArray, StoredFishKey> m_unreadable;
    // The keys of chats we stopped encrypting, for this run only: what the contact still
    // encrypts is read with them, never sealed. `noted`: the contact was told to be so once.
    struct Retired
    {
        std::shared_ptr<Keyed> keyed;
        bool noted = false;
    };
    QHash<QByteArray, Retired> m_retired;
    std::optional<Incoming> openWithRetired(const QByteArray& nick, QByteArrayView text);
    FishExchanges m_exchanges;
};

} // namespace peer

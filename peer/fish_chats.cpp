#include "peer/fish_chats.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "irc/isupport.h"
#include "peer/chat_host.h"
#include "peer/chat_text.h"
#include "peer/texts.h"

#include <QTimer>

namespace peer {

namespace {

constexpr char kCheckPrefix[] = "\x01"
                                "FISHCHECK ";

} // namespace

struct FishChats::Exchange
{
    QByteArray nick;
    dh1080::KeyPair pair;
    std::unique_ptr<QTimer> timer;
};

struct FishChats::Offer
{
    QByteArray nick;
    dh1080::KeyExchange init;
    std::unique_ptr<QTimer> timer;
};

FishChats::FishChats(ChatHost& host, FishKeyStore& keys, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_keys(keys)
{}

FishChats::~FishChats()
{
    closeAll();
}

void FishChats::closeAll()
{
    m_exchanges.clear();
    m_offers.clear();
}

QByteArray FishChats::fold(const QByteArray& nick) const
{
    return irc::foldNick(nick, m_host.nicks().caseMapping().value_or(irc::CaseMapping::Rfc1459));
}

FishChats::Keyed* FishChats::keyed(const QByteArray& nick)
{
    const QByteArray key = fold(nick);
    if (const auto found = m_keyed.constFind(key); found != m_keyed.constEnd())
        return found->get();
    if (m_looked.contains(key))
        return nullptr;
    m_looked.insert(key, true);
    const std::optional<StoredFishKey> stored = m_keys.find(key);
    if (!stored)
        return nullptr;
    auto entry = std::make_shared<Keyed>();
    entry->stored = *stored;
    if (!entry->key.set(stored->key))
        return nullptr;
    m_keyed.insert(key, entry);
    return entry.get();
}

FishStatus FishChats::status(const QByteArray& nick)
{
    FishStatus status;
    status.exchanging = m_exchanges.contains(fold(nick));
    if (const Keyed* entry = keyed(nick)) {
        status.keyed = true;
        status.mode = entry->stored.mode;
        status.verified = entry->stored.verified;
        status.typed = entry->stored.digest.isEmpty();
        if (!status.typed)
            status.comparison = dh1080::shortAuthenticationString(entry->stored.digest);
    }
    return status;
}

QList<QByteArray> FishChats::outgoing(const QByteArray& nick, const QByteArray& text,
                                      qsizetype room)
{
    const Keyed* entry = keyed(nick);
    if (!entry)
        return splitUtf8(text, int(room));
    QList<QByteArray> sealed;
    for (const QByteArray& piece : splitForFish(text, entry->stored.mode, room))
        sealed.push_back(sealFishText(entry->key, entry->stored.mode, piece));
    return sealed;
}

std::optional<FishChats::SealedAway> FishChats::sealedAway(const QByteArray& nick,
                                                           QByteArrayView text, qsizetype room)
{
    const Keyed* entry = keyed(nick);
    if (!entry)
        return std::nullopt;
    const QList<QByteArray> pieces = splitForFish(text, entry->stored.mode, room);
    // An empty away text still goes out as an encrypted line: nothing goes in clear.
    const QByteArray plain = pieces.isEmpty() ? QByteArray() : pieces[0];
    return SealedAway{sealFishText(entry->key, entry->stored.mode, plain), plain};
}

FishChats::Incoming FishChats::incoming(const QByteArray& nick, QByteArrayView text)
{
    Keyed* entry = keyed(nick);
    if (!entry) {
        // Without a key it cannot be read; its base64 is no message to show.
        if (isFishMessage(text))
            return {{}, LineProtection::Undecryptable};
        return {text.toByteArray(), LineProtection::None};
    }
    const OpenedFishText opened = openFishText(entry->key, text);
    switch (opened.status) {
    case OpenedFishText::Status::Plain:
        return {text.toByteArray(), LineProtection::Clear};
    case OpenedFishText::Status::Undecryptable:
        return {{}, LineProtection::Undecryptable};
    case OpenedFishText::Status::Opened:
        break;
    }
    // A peer that writes CBC reads it too (ZNC's crypt reads nothing else), whatever its
    // exchange said.
    if (opened.mode == FishMode::Cbc && entry->stored.mode == FishMode::Ecb) {
        StoredFishKey learned = entry->stored;
        learned.mode = FishMode::Cbc;
        keep(nick, learned);
        emit statusChanged(nick);
    }
    return {opened.text, LineProtection::Encrypted};
}

bool FishChats::sendNotice(const QByteArray& nick, const QByteArray& text)
{
    const auto line = irc::Command::notice(nick, text);
    return line && m_host.sendServerLine(*line);
}

void FishChats::note(const QByteArray& nick, const QString& text)
{
    emit noteShown(nick, "*" + text.toUtf8() + "*\r\n");
}

QTimer* FishChats::expiry(const QByteArray& folded, bool offer)
{
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setInterval(kExchangeTimeout);
    connect(timer, &QTimer::timeout, this, [this, folded, offer] {
        if (offer) {
            m_offers.remove(folded);
            return;
        }
        const auto exchange = m_exchanges.take(folded);
        if (!exchange)
            return;
        note(exchange->nick, fishText::exchangeUnanswered(exchange->nick));
        emit statusChanged(exchange->nick);
    });
    timer->start();
    return timer;
}

void FishChats::startExchange(const QByteArray& nick)
{
    const std::optional<dh1080::KeyPair> pair = dh1080::makeKeyPair();
    if (!pair)
        return;
    const QByteArray folded = fold(nick);
    if (!sendNotice(nick, dh1080::keyExchangeText(dh1080::Step::Init, pair->publicKey, true))) {
        note(nick, fishText::exchangeNotSent());
        return;
    }
    auto exchange = std::make_shared<Exchange>();
    exchange->nick = nick;
    exchange->pair = *pair;
    exchange->timer.reset(expiry(folded, false));
    m_exchanges.insert(folded, exchange);
    note(nick, fishText::exchangeStarted(nick));
    emit statusChanged(nick);
}

void FishChats::takeNotice(const QByteArray& sender, QByteArrayView text)
{
    if (!text.startsWith("DH1080_"))
        return;
    const std::optional<dh1080::KeyExchange> message = dh1080::parseKeyExchange(text);
    const QString who = diag::decodeServerText(sender);
    if (!message) {
        diag::DebugLog(QStringLiteral("A malformed key exchange from %1 was ignored").arg(who));
        return;
    }
    const QByteArray folded = fold(sender);
    const auto exchange = m_exchanges.constFind(folded);
    if (message->step == dh1080::Step::Finish) {
        if (exchange == m_exchanges.constEnd()) {
            diag::DebugLog(
                QStringLiteral("A key exchange answer from %1 that nothing asked for was ignored")
                    .arg(who));
            return;
        }
        const std::shared_ptr<Exchange> ours = *exchange;
        m_exchanges.remove(folded);
        const auto key = dh1080::sharedKey(ours->pair, message->publicKey);
        if (key)
            finish(sender, ours->pair.publicKey, message->publicKey, *key,
                   message->cbc ? FishMode::Cbc : FishMode::Ecb);
        return;
    }
    if (exchange != m_exchanges.constEnd()) {
        // Both asked at once. Each side answers the other's with the key pair it already sent,
        // so both arrive at one key from the same two public keys, and the answers that follow
        // find no exchange waiting.
        const std::shared_ptr<Exchange> ours = *exchange;
        m_exchanges.remove(folded);
        const auto key = dh1080::sharedKey(ours->pair, message->publicKey);
        if (!key)
            return;
        sendNotice(sender, dh1080::keyExchangeText(dh1080::Step::Finish, ours->pair.publicKey,
                                                   message->cbc));
        finish(sender, ours->pair.publicKey, message->publicKey, *key,
               message->cbc ? FishMode::Cbc : FishMode::Ecb);
        return;
    }
    if (!m_offers.contains(folded) && m_offers.size() >= kMaxOffers) {
        diag::DebugLog(
            QStringLiteral("A key exchange from %1 was dropped: too many wait for an answer")
                .arg(who));
        return;
    }
    auto offer = std::make_shared<Offer>();
    offer->nick = sender;
    offer->init = *message;
    offer->timer.reset(expiry(folded, true));
    const bool asked = m_offers.contains(folded);
    m_offers.insert(folded, offer);
    // A second offer while the first is still being asked about only replaces its key.
    if (!asked)
        emit exchangeOffered(sender);
}

bool FishChats::hasOffer(const QByteArray& nick) const
{
    return m_offers.contains(fold(nick));
}

void FishChats::acceptOffer(const QByteArray& nick)
{
    const std::shared_ptr<Offer> offer = m_offers.take(fold(nick));
    if (!offer)
        return;
    const std::optional<dh1080::KeyPair> pair = dh1080::makeKeyPair();
    if (!pair)
        return;
    const auto key = dh1080::sharedKey(*pair, offer->init.publicKey);
    if (!key)
        return;
    if (!sendNotice(offer->nick, dh1080::keyExchangeText(dh1080::Step::Finish, pair->publicKey,
                                                         offer->init.cbc))) {
        note(offer->nick, fishText::exchangeNotSent());
        return;
    }
    finish(offer->nick, pair->publicKey, offer->init.publicKey, *key,
           offer->init.cbc ? FishMode::Cbc : FishMode::Ecb);
}

void FishChats::declineOffer(const QByteArray& nick)
{
    m_offers.remove(fold(nick));
}

void FishChats::finish(const QByteArray& nick, const QByteArray& ourPublic,
                       const QByteArray& theirPublic, const QByteArray& key, FishMode mode)
{
    const Keyed* before = keyed(nick);
    const bool wasVerified = before && before->stored.verified;
    StoredFishKey stored;
    stored.key = key;
    stored.mode = mode;
    stored.digest = dh1080::verificationDigest(ourPublic, theirPublic);
    if (before && before->stored.key == key && before->stored.digest == stored.digest)
        stored.verified = wasVerified;
    if (!keep(nick, stored))
        note(nick, fishText::keyNotStored());
    if (wasVerified && !stored.verified)
        note(nick, fishText::keyChangedUnverified());
    note(nick, fishText::encryptedWith(mode, dh1080::shortAuthenticationString(stored.digest)));
    emit statusChanged(nick);
    emit keyChanged(nick);
}

bool FishChats::keep(const QByteArray& nick, const StoredFishKey& stored)
{
    const QByteArray folded = fold(nick);
    auto entry = std::make_shared<Keyed>();
    entry->stored = stored;
    if (!entry->key.set(stored.key))
        return false;
    m_keyed.insert(folded, entry);
    m_looked.insert(folded, true);
    return m_keys.save(folded, stored);
}

FishChats::KeyEntry FishChats::setTypedKey(const QByteArray& nick, const QString& text)
{
    const std::optional<FishKeyText> parsed = parseFishKeyText(text.toUtf8());
    if (!parsed)
        return KeyEntry::Invalid;
    StoredFishKey stored;
    stored.key = parsed->key;
    stored.mode = parsed->mode.value_or(FishMode::Ecb);
    m_exchanges.remove(fold(nick));
    const bool kept = keep(nick, stored);
    note(nick, fishText::keyTyped(stored.mode));
    emit statusChanged(nick);
    emit keyChanged(nick);
    return kept ? KeyEntry::Set : KeyEntry::NotKept;
}

bool FishChats::stopEncrypting(const QByteArray& nick)
{
    const QByteArray folded = fold(nick);
    m_exchanges.remove(folded);
    const bool had = m_keyed.remove(folded) > 0;
    m_looked.insert(folded, true);
    const bool forgotten = m_keys.forget(folded);
    if (had)
        note(nick, fishText::stopped());
    emit statusChanged(nick);
    return forgotten;
}

void FishChats::markVerified(const QByteArray& nick)
{
    const Keyed* entry = keyed(nick);
    if (!entry || entry->stored.digest.isEmpty() || entry->stored.verified)
        return;
    StoredFishKey stored = entry->stored;
    stored.verified = true;
    keep(nick, stored);
    note(nick, fishText::verifiedByUser());
    emit statusChanged(nick);
}

std::optional<QByteArray> FishChats::checkMessage(const QByteArray& nick)
{
    const Keyed* entry = keyed(nick);
    if (!entry || entry->stored.digest.isEmpty())
        return std::nullopt;
    return kCheckPrefix + entry->stored.digest.toHex() + '\x01';
}

bool FishChats::isCheckMessage(QByteArrayView text)
{
    return text.startsWith(kCheckPrefix);
}

void FishChats::takeCheck(const QByteArray& nick, QByteArrayView message)
{
    if (!isCheckMessage(message))
        return;
    QByteArrayView hex = message.sliced(qsizetype(sizeof(kCheckPrefix)) - 1);
    if (hex.endsWith('\x01'))
        hex.chop(1);
    const Keyed* entry = keyed(nick);
    if (!entry || entry->stored.digest.isEmpty())
        return;
    if (QByteArray::fromHex(hex.toByteArray()) != entry->stored.digest) {
        if (entry->stored.verified) {
            StoredFishKey stored = entry->stored;
            stored.verified = false;
            keep(nick, stored);
        }
        note(nick, fishText::checkMismatch(nick));
        emit statusChanged(nick);
        return;
    }
    if (entry->stored.verified)
        return;
    StoredFishKey stored = entry->stored;
    stored.verified = true;
    keep(nick, stored);
    note(nick, fishText::verifiedOverLink());
    emit statusChanged(nick);
}

} // namespace peer

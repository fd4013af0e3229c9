#include "peer/crypto/fish_chats.h"

#include "irc/isupport.h"
#include "irc/line_router.h"
#include "irc/server_events.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/common/texts.h"

namespace peer {

namespace {

constexpr char kCheckPrefix[] = "\x01"
                                "FISHCHECK ";

} // namespace

FishChats::FishChats(ChatHost& host, FishKeyStore& keys, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_keys(keys)
    , m_exchanges(host)
{
    connect(&m_exchanges, &FishExchanges::agreed, this, &FishChats::finish);
    connect(&m_exchanges, &FishExchanges::noted, this, &FishChats::note);
    connect(&m_exchanges, &FishExchanges::statusChanged, this, &FishChats::statusChanged);
    connect(&m_exchanges, &FishExchanges::offered, this, &FishChats::exchangeOffered);
}

FishChats::~FishChats()
{
    closeAll();
}

void FishChats::closeAll()
{
    m_exchanges.closeAll();
}

void FishChats::note(const QByteArray& nick, const QString& text)
{
    emit noteShown(nick, noteLine(text.toUtf8()));
}

QByteArray FishChats::fold(const QByteArray& nick)
{
    return irc::foldNick(nick, irc::CaseMapping::Rfc1459);
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
    if (!entry->key.set(stored->key)) {
        // The chats are encrypted, only not now: they must not fall back to clear text.
        entry->stored.key.clear();
        m_unreadable.insert(key, entry->stored);
        return nullptr;
    }
    m_keyed.insert(key, entry);
    return entry.get();
}

bool FishChats::unreadable(const QByteArray& nick)
{
    return !keyed(nick) && m_unreadable.contains(fold(nick));
}

void FishChats::rereadKeys()
{
    const QList<QByteArray> nicks = m_keyed.keys() + m_looked.keys();
    m_keyed.clear();
    m_looked.clear();
    m_unreadable.clear();
    for (const QByteArray& folded : nicks)
        emit statusChanged(folded);
}

FishStatus FishChats::status(const QByteArray& nick)
{
    FishStatus status;
    status.exchanging = m_exchanges.isExchanging(nick);
    if (const Keyed* entry = keyed(nick)) {
        status.keyed = true;
        status.mode = entry->stored.mode;
        status.verified = entry->stored.verified;
        status.typed = entry->stored.digest.isEmpty();
        if (!status.typed)
            status.comparison = dh1080::shortAuthenticationString(entry->stored.digest);
    } else {
        status.unreadable = unreadable(nick);
    }
    return status;
}

QList<QByteArray> FishChats::outgoing(const QByteArray& nick, const QByteArray& text,
                                      qsizetype room)
{
    const Keyed* entry = keyed(nick);
    if (!entry && unreadable(nick)) {
        note(nick, fishText::notSentKeyUnreadable());
        return {};
    }
    if (!entry)
        return splitAtWords(text, int(room));
    QList<QByteArray> sealed;
    for (const QByteArray& piece : splitForFish(readableFishText(text), entry->stored.mode, room))
        sealed.push_back(sealFishText(entry->key, entry->stored.mode, piece));
    return sealed;
}

std::optional<FishChats::SealedAway> FishChats::sealedAway(const QByteArray& nick,
                                                           QByteArrayView text, qsizetype room)
{
    const Keyed* entry = keyed(nick);
    if (!entry && unreadable(nick))
        return SealedAway{{}, {}, true};
    if (!entry)
        return std::nullopt;
    const QList<QByteArray> pieces = splitForFish(readableFishText(text), entry->stored.mode, room);
    // An empty away text still goes out as an encrypted line: nothing goes in clear.
    const QByteArray plain = pieces.isEmpty() ? QByteArray() : pieces[0];
    return SealedAway{sealFishText(entry->key, entry->stored.mode, plain), plain};
}

FishChats::Incoming FishChats::incoming(const QByteArray& nick, QByteArrayView text)
{
    // FiSH peers encrypt an action inside its CTCP frame: "\x01ACTION +OK ...\x01".
    constexpr QByteArrayView kAction("\x01"
                                     "ACTION ");
    if (text.startsWith(kAction) && text.endsWith('\x01') && text.size() > kAction.size()) {
        const QByteArrayView inner = text.sliced(kAction.size(), text.size() - kAction.size() - 1);
        if (isFishMessage(inner)) {
            Incoming opened = incoming(nick, inner);
            if (opened.protection == LineProtection::Encrypted
                || opened.protection == LineProtection::StillEncrypted)
                opened.text = kAction.toByteArray() + opened.text + '\x01';
            return opened;
        }
    }
    Keyed* entry = keyed(nick);
    if (!entry) {
        if (const auto opened = openWithRetired(nick, text))
            return *opened;
        // Without a key it cannot be read; its base64 is no message to show.
        if (isFishMessage(text))
            return {{}, LineProtection::Undecryptable};
        return {text.toByteArray(),
                unreadable(nick) ? LineProtection::Clear : LineProtection::None};
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

std::optional<FishChats::Incoming> FishChats::openWithRetired(const QByteArray& nick,
                                                              QByteArrayView text)
{
    const auto found = m_retired.find(fold(nick));
    if (found == m_retired.end() || !isFishMessage(text))
        return std::nullopt;
    const OpenedFishText opened = openFishText(found->keyed->key, text);
    if (opened.status != OpenedFishText::Status::Opened)
        return std::nullopt;
    // Said once, when the first such line comes: what we send stays in clear until the user
    // chooses to encrypt again.
    if (!found->noted) {
        found->noted = true;
        note(nick, fishText::stillEncrypts(nick));
    }
    return Incoming{opened.text, LineProtection::StillEncrypted};
}

void FishChats::finish(const QByteArray& nick, const dh1080::KeyExchange& ours,
                       const dh1080::KeyExchange& theirs, const QByteArray& key, FishMode mode)
{
    const Keyed* before = keyed(nick);
    const bool wasVerified =
        before ? before->stored.verified : m_unreadable.value(fold(nick)).verified;
    StoredFishKey stored;
    stored.key = key;
    stored.mode = mode;
    stored.digest = dh1080::exchangeDigest(ours, theirs);
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
    m_unreadable.remove(folded);
    m_retired.remove(folded);
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
    m_exchanges.cancel(nick);
    const bool kept = keep(nick, stored);
    note(nick, fishText::keyTyped(stored.mode));
    emit statusChanged(nick);
    emit keyChanged(nick);
    return kept ? KeyEntry::Set : KeyEntry::NotKept;
}

bool FishChats::stopEncrypting(const QByteArray& nick)
{
    const QByteArray folded = fold(nick);
    m_exchanges.cancel(nick);
    if (const auto active = m_keyed.constFind(folded); active != m_keyed.constEnd())
        m_retired.insert(folded, Retired{*active, false});
    const bool had = m_keyed.remove(folded) + m_unreadable.remove(folded) > 0;
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

std::optional<QByteArray> FishChats::checkMessage(const QByteArray& nick, const LinkEnds& link)
{
    const Keyed* entry = keyed(nick);
    if (!entry || entry->stored.digest.isEmpty())
        return std::nullopt;
    return kCheckPrefix + linkCheckToSend(link, entry->stored.digest) + '\x01';
}

bool FishChats::isCheckMessage(QByteArrayView text)
{
    return text.startsWith(kCheckPrefix);
}

void FishChats::takeCheck(const QByteArray& nick, QByteArrayView message, const LinkEnds& link)
{
    if (!isCheckMessage(message))
        return;
    QByteArrayView hex = message.sliced(qsizetype(sizeof(kCheckPrefix)) - 1);
    if (hex.endsWith('\x01'))
        hex.chop(1);
    const Keyed* entry = keyed(nick);
    if (!entry || entry->stored.digest.isEmpty())
        return;
    if (hex != linkCheckExpected(link, entry->stored.digest)) {
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

void FishChats::follow(irc::ServerEvents& events, irc::LineRouter& router)
{
    connect(&events, &irc::ServerEvents::privateNotice, this,
            [this](QByteArrayView sender, QByteArrayView text) {
                takeNotice(sender.toByteArray(), text);
            });
    router.setAwaySealer([this](QByteArrayView nick, QByteArrayView text,
                                qsizetype room) -> std::optional<irc::SealedText> {
        const auto sealed = sealedAway(nick.toByteArray(), text, room);
        if (!sealed)
            return std::nullopt;
        return irc::SealedText{sealed->wire, sealed->plain, sealed->withheld};
    });
}

} // namespace peer

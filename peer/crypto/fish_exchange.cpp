// The DH1080 exchanges of FishChats: ours and the contacts', their answers, the race of two at
// once, and the time each may wait.
#include "peer/crypto/fish_exchange.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "peer/common/chat_host.h"
#include "peer/common/texts.h"

#include <algorithm>

namespace peer {

namespace {

// Our offers ask for CBC; the digest covers that they did.
constexpr bool kOurInitCbc = true;

} // namespace

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
    if (!sendNotice(nick,
                    dh1080::keyExchangeText(dh1080::Step::Init, pair->publicKey, kOurInitCbc))) {
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
        const std::shared_ptr<Exchange> ours = m_exchanges.take(folded);
        const auto key = dh1080::sharedKey(ours->pair, message->publicKey);
        if (key)
            finish(sender, {dh1080::Step::Init, ours->pair.publicKey, kOurInitCbc}, *message, *key,
                   message->cbc ? FishMode::Cbc : FishMode::Ecb);
        return;
    }
    if (exchange != m_exchanges.constEnd()) {
        // Both asked at once. Each side answers the other's with the key pair it already sent,
        // so both arrive at one key from the same two public keys, and the answers that follow
        // find no exchange waiting.
        const std::shared_ptr<Exchange> ours = m_exchanges.take(folded);
        const auto key = dh1080::sharedKey(ours->pair, message->publicKey);
        if (!key)
            return;
        sendNotice(sender, dh1080::keyExchangeText(dh1080::Step::Finish, ours->pair.publicKey,
                                                   message->cbc));
        finish(sender, {dh1080::Step::Init, ours->pair.publicKey, kOurInitCbc}, *message, *key,
               message->cbc ? FishMode::Cbc : FishMode::Ecb);
        return;
    }
    const auto declined = m_declined.constFind(folded);
    if (declined != m_declined.constEnd()
        && m_clock.elapsed() - *declined < std::chrono::milliseconds(kExchangeTimeout).count()) {
        diag::DebugLog(
            QStringLiteral("A key exchange from %1 was dropped: you declined one just before")
                .arg(who));
        return;
    }
    // A second offer while the first is still being asked about only replaces its key: it
    // neither takes another place nor waits longer.
    if (const auto waiting = m_offers.constFind(folded); waiting != m_offers.constEnd()) {
        (*waiting)->init = *message;
        return;
    }
    const bool contact = isContact(sender);
    const auto strangers = std::count_if(m_offers.cbegin(), m_offers.cend(),
                                         [](const auto& offer) { return !offer->contact; });
    if (!contact && strangers >= kMaxOffers) {
        diag::DebugLog(
            QStringLiteral("A key exchange from %1 was dropped: too many wait for an answer")
                .arg(who));
        return;
    }
    auto offer = std::make_shared<Offer>();
    offer->nick = sender;
    offer->init = *message;
    offer->contact = contact;
    offer->timer.reset(expiry(folded, true));
    m_offers.insert(folded, offer);
    emit exchangeOffered(sender);
}

bool FishChats::isContact(const QByteArray& nick) const
{
    const QList<QByteArray> contacts = m_host.contactNicks();
    return std::any_of(contacts.cbegin(), contacts.cend(), [&](const QByteArray& contact) {
        return m_host.nicks().same(contact, nick, NickRule::Unsaid::IgnoreAsciiCase);
    });
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
    finish(offer->nick, {dh1080::Step::Finish, pair->publicKey, offer->init.cbc}, offer->init, *key,
           offer->init.cbc ? FishMode::Cbc : FishMode::Ecb);
}

void FishChats::declineOffer(const QByteArray& nick)
{
    const QByteArray folded = fold(nick);
    if (!m_offers.remove(folded))
        return;
    if (m_declined.size() > 1000)
        m_declined.clear();
    m_declined.insert(folded, m_clock.elapsed());
}

} // namespace peer

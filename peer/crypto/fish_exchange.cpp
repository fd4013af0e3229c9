#include "peer/crypto/fish_exchange.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/commands.h"
#include "peer/common/chat_host.h"
#include "peer/common/texts.h"
#include "peer/crypto/fish_chats.h"

#include <QTimer>

#include <algorithm>

namespace peer {

namespace {

// Our offers ask for CBC; the digest covers that they did.
constexpr bool kOurInitCbc = true;

FishMode modeOf(const dh1080::KeyExchange& message)
{
    return message.cbc ? FishMode::Cbc : FishMode::Ecb;
}

} // namespace

// What is kept of an exchange while it waits: ours for the contact's answer, the contact's for
// the user's.
struct FishExchanges::Exchange
{
    QByteArray nick;
    dh1080::KeyPair pair;
    std::unique_ptr<QTimer> timer;
};

struct FishExchanges::Offer
{
    QByteArray nick;
    dh1080::KeyExchange init;
    bool contact = false; // not held to the bound on strangers' offers
    std::unique_ptr<QTimer> timer;
};

FishExchanges::FishExchanges(ChatHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{
    m_clock.start();
}

FishExchanges::~FishExchanges()
{
    closeAll();
}

void FishExchanges::closeAll()
{
    m_exchanges.clear();
    m_offers.clear();
}

bool FishExchanges::isExchanging(const QByteArray& nick) const
{
    return m_exchanges.contains(FishChats::fold(nick));
}

void FishExchanges::cancel(const QByteArray& nick)
{
    m_exchanges.remove(FishChats::fold(nick));
}

bool FishExchanges::sendNotice(const QByteArray& nick, const QByteArray& text)
{
    const auto line = irc::Command::notice(nick, text);
    return line && m_host.sendServerLine(*line);
}

QTimer* FishExchanges::expiry(const QByteArray& folded, bool offer)
{
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setInterval(FishChats::kExchangeTimeout);
    connect(timer, &QTimer::timeout, this, [this, folded, offer] {
        if (offer) {
            m_offers.remove(folded);
            return;
        }
        const auto exchange = m_exchanges.take(folded);
        if (!exchange)
            return;
        emit noted(exchange->nick, fishText::exchangeUnanswered(exchange->nick));
        emit statusChanged(exchange->nick);
    });
    timer->start();
    return timer;
}

void FishExchanges::start(const QByteArray& nick)
{
    const std::optional<dh1080::KeyPair> pair = dh1080::makeKeyPair();
    if (!pair)
        return;
    const QByteArray folded = FishChats::fold(nick);
    if (!sendNotice(nick,
                    dh1080::keyExchangeText(dh1080::Step::Init, pair->publicKey, kOurInitCbc))) {
        emit noted(nick, fishText::exchangeNotSent());
        return;
    }
    auto exchange = std::make_shared<Exchange>();
    exchange->nick = nick;
    exchange->pair = *pair;
    exchange->timer.reset(expiry(folded, false));
    m_exchanges.insert(folded, exchange);
    emit noted(nick, fishText::exchangeStarted(nick));
    emit statusChanged(nick);
}

void FishExchanges::takeNotice(const QByteArray& sender, QByteArrayView text)
{
    if (!text.startsWith("DH1080_"))
        return;
    const std::optional<dh1080::KeyExchange> message = dh1080::parseKeyExchange(text);
    if (!message) {
        diag::DebugLog(QStringLiteral("A malformed key exchange from %1 was ignored")
                           .arg(diag::decodeServerText(sender)));
        return;
    }
    if (message->step == dh1080::Step::Finish)
        takeAnswer(sender, *message);
    else if (!crossed(sender, *message))
        takeOffer(sender, *message);
}

void FishExchanges::takeAnswer(const QByteArray& sender, const dh1080::KeyExchange& message)
{
    const std::shared_ptr<Exchange> ours = m_exchanges.take(FishChats::fold(sender));
    if (!ours) {
        diag::DebugLog(
            QStringLiteral("A key exchange answer from %1 that nothing asked for was ignored")
                .arg(diag::decodeServerText(sender)));
        return;
    }
    const auto key = dh1080::sharedKey(ours->pair, message.publicKey);
    if (key)
        emit agreed(sender, {dh1080::Step::Init, ours->pair.publicKey, kOurInitCbc}, message, *key,
                    modeOf(message));
}

bool FishExchanges::crossed(const QByteArray& sender, const dh1080::KeyExchange& message)
{
    // Both asked at once. Each side answers the other's with the key pair it already sent, so
    // both arrive at one key from the same two public keys, and the answers that follow find no
    // exchange waiting.
    const std::shared_ptr<Exchange> ours = m_exchanges.take(FishChats::fold(sender));
    if (!ours)
        return false;
    const auto key = dh1080::sharedKey(ours->pair, message.publicKey);
    if (!key)
        return true;
    sendNotice(sender,
               dh1080::keyExchangeText(dh1080::Step::Finish, ours->pair.publicKey, message.cbc));
    emit agreed(sender, {dh1080::Step::Init, ours->pair.publicKey, kOurInitCbc}, message, *key,
                modeOf(message));
    return true;
}

void FishExchanges::takeOffer(const QByteArray& sender, const dh1080::KeyExchange& message)
{
    const QByteArray folded = FishChats::fold(sender);
    const QString who = diag::decodeServerText(sender);
    const auto declined = m_declined.constFind(folded);
    if (declined != m_declined.constEnd()
        && m_clock.elapsed() - *declined
               < std::chrono::milliseconds(FishChats::kExchangeTimeout).count()) {
        diag::DebugLog(
            QStringLiteral("A key exchange from %1 was dropped: you declined one just before")
                .arg(who));
        return;
    }
    // A second offer while the first is still being asked about only replaces its key: it
    // neither takes another place nor waits longer.
    if (const auto waiting = m_offers.constFind(folded); waiting != m_offers.constEnd()) {
        (*waiting)->init = message;
        return;
    }
    const bool contact = isContact(sender);
    const auto strangers = std::count_if(m_offers.cbegin(), m_offers.cend(),
                                         [](const auto& offer) { return !offer->contact; });
    if (!contact && strangers >= FishChats::kMaxOffers) {
        diag::DebugLog(
            QStringLiteral("A key exchange from %1 was dropped: too many wait for an answer")
                .arg(who));
        return;
    }
    auto offer = std::make_shared<Offer>();
    offer->nick = sender;
    offer->init = message;
    offer->contact = contact;
    offer->timer.reset(expiry(folded, true));
    m_offers.insert(folded, offer);
    emit offered(sender);
}

bool FishExchanges::isContact(const QByteArray& nick) const
{
    const QList<QByteArray> contacts = m_host.contactNicks();
    return std::any_of(contacts.cbegin(), contacts.cend(), [&](const QByteArray& contact) {
        return m_host.nicks().same(contact, nick, NickRule::Unsaid::IgnoreAsciiCase);
    });
}

bool FishExchanges::hasOffer(const QByteArray& nick) const
{
    return m_offers.contains(FishChats::fold(nick));
}

void FishExchanges::accept(const QByteArray& nick)
{
    const std::shared_ptr<Offer> offer = m_offers.take(FishChats::fold(nick));
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
        emit noted(offer->nick, fishText::exchangeNotSent());
        return;
    }
    emit agreed(offer->nick, {dh1080::Step::Finish, pair->publicKey, offer->init.cbc}, offer->init,
                *key, modeOf(offer->init));
}

void FishExchanges::decline(const QByteArray& nick)
{
    const QByteArray folded = FishChats::fold(nick);
    if (!m_offers.remove(folded))
        return;
    if (m_declined.size() > 1000)
        m_declined.clear();
    m_declined.insert(folded, m_clock.elapsed());
}

} // namespace peer

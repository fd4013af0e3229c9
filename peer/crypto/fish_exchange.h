#pragma once

#include "peer/crypto/dh1080.h"
#include "peer/crypto/fish.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QTimer;

namespace peer {

class ChatHost;

// The DH1080 exchanges of the relayed chats over NOTICE: ours, waiting for the contact's
// answer, and the contacts', waiting for the user's; the race of two at once, and the time each
// may wait (FishChats::kExchangeTimeout; at most FishChats::kMaxOffers of strangers at once).
// What an exchange agrees on goes to FishChats, which keeps the keys.
class FishExchanges : public QObject
{
    Q_OBJECT

public:
    explicit FishExchanges(ChatHost& host, QObject* parent = nullptr);
    ~FishExchanges() override;
    FishExchanges(const FishExchanges&) = delete;
    FishExchanges& operator=(const FishExchanges&) = delete;

    // The user asked to encrypt the chat with `nick`.
    void start(const QByteArray& nick);
    // A NOTICE from `sender`: acted on when it is a key exchange.
    void takeNotice(const QByteArray& sender, QByteArrayView text);
    // The user's answer to offered().
    void accept(const QByteArray& nick);
    void decline(const QByteArray& nick);
    bool hasOffer(const QByteArray& nick) const;
    // Whether our exchange with `nick` waits for its answer; cancel() ends it.
    bool isExchanging(const QByteArray& nick) const;
    void cancel(const QByteArray& nick);
    // Every exchange and offer ends.
    void closeAll();

signals:
    // A key agreed with `nick`: `ours` and `theirs` are the messages that carried the two public
    // keys, as this side sent and received them.
    void agreed(const QByteArray& nick, const peer::dh1080::KeyExchange& ours,
                const peer::dh1080::KeyExchange& theirs, const QByteArray& key,
                peer::FishMode mode);
    // Something to say in the relayed chat with `nick`.
    void noted(const QByteArray& nick, const QString& text);
    void statusChanged(const QByteArray& nick);
    // `nick` asks to encrypt the chat.
    void offered(const QByteArray& nick);

private:
    struct Exchange;
    struct Offer;

    void takeAnswer(const QByteArray& sender, const dh1080::KeyExchange& message);
    bool crossed(const QByteArray& sender, const dh1080::KeyExchange& message);
    void takeOffer(const QByteArray& sender, const dh1080::KeyExchange& message);
    bool isContact(const QByteArray& nick) const;
    bool sendNotice(const QByteArray& nick, const QByteArray& text);
    QTimer* expiry(const QByteArray& folded, bool offer);

    ChatHost& m_host;
    // By the nick as RFC 1459 folds it.
    QHash<QByteArray, std::shared_ptr<Exchange>> m_exchanges;
    QHash<QByteArray, std::shared_ptr<Offer>> m_offers;
    // When the user last declined each nick's exchange: asking again at once is not asked.
    QHash<QByteArray, qint64> m_declined;
    QElapsedTimer m_clock;
};

} // namespace peer

// What FishChats refuses: clear text to a contact whose stored key cannot be read, and a flood of
// strangers' key exchanges that would keep a contact's from being asked.
#include "peer/common/texts.h"
#include "peer/crypto/dh1080.h"
#include "peer/crypto/fish_chats.h"
#include "tests/support/scripted_host.h"

#include <QHash>
#include <gtest/gtest.h>

#include <vector>

namespace {

using peer::FishChats;
using peer::FishMode;
using peer::LineProtection;
using peer::StoredFishKey;

// alice's side: the server gets her lines, her keys are records in memory exactly as the store
// hands them out, and `contacts` is her contact list.
class Alice : public test::ScriptedHost, public test::MemoryKeys
{
public:
    Alice()
    {
        QObject::connect(
            &fish, &FishChats::noteShown, &fish,
            [this](const QByteArray&, const QByteArray& line) { notes.push_back(line); });
        QObject::connect(&fish, &FishChats::exchangeOffered, &fish,
                         [this](const QByteArray& nick) { offers.push_back(nick); });
    }

    std::vector<QByteArray> notes;
    std::vector<QByteArray> offers;
    FishChats fish{*this, *this};
};

QByteArray initFrom(const peer::dh1080::KeyPair& pair)
{
    return peer::dh1080::keyExchangeText(peer::dh1080::Step::Init, pair.publicKey, true);
}

TEST(FishUnreadableKey, NothingGoesInClearAndTheChatSaysWhy)
{
    // What the store hands out for a record whose key it cannot read: the key text is in a secret
    // service that is locked or holds no copy, or the record is damaged.
    const StoredFishKey records[] = {
        {{}, FishMode::Cbc, QByteArray(32, '\x11'), true},
        {{}, FishMode::Ecb, {}, false},
        {},
        {QByteArray(80, 'k'), FishMode::Cbc, {}, false}, // longer than Blowfish takes
    };
    for (const StoredFishKey& record : records) {
        Alice alice;
        alice.keys.insert("bob", record);

        EXPECT_TRUE(alice.fish.outgoing("bob", "pay 500 EUR", 400).isEmpty());
        ASSERT_EQ(alice.notes.size(), 1u);
        EXPECT_EQ(alice.notes[0], "*" + peer::fishText::notSentKeyUnreadable().toUtf8() + "*\r\n");
        EXPECT_TRUE(alice.notes[0].contains("Set key...")) << alice.notes[0].constData();
        EXPECT_TRUE(alice.sent.empty());

        const auto away = alice.fish.sealedAway("bob", "back at five", 400);
        ASSERT_TRUE(away);
        EXPECT_TRUE(away->withheld);
        EXPECT_TRUE(away->wire.isEmpty() && away->plain.isEmpty());

        const peer::FishStatus status = alice.fish.status("BOB");
        EXPECT_TRUE(status.unreadable);
        EXPECT_FALSE(status.keyed);
        EXPECT_EQ(peer::fishText::status(status), "Encryption key unreadable, nothing is sent");
        // What bob writes in clear is marked as such; what he seals cannot be opened.
        EXPECT_EQ(alice.fish.incoming("bob", "hi").protection, LineProtection::Clear);
        EXPECT_EQ(alice.fish.incoming("bob", "+OK O7tsL0iStsR0moZNg0rHQJE1").protection,
                  LineProtection::Undecryptable);
        // Others are not touched.
        EXPECT_EQ(alice.fish.outgoing("carol", "hi", 400), QList<QByteArray>{"hi"});
        EXPECT_FALSE(alice.fish.sealedAway("carol", "back at five", 400));

        // A new key ends it, and so does the user's choice of clear text.
        alice.fish.setTypedKey("bob", QStringLiteral("fishkey"));
        EXPECT_EQ(alice.fish.outgoing("bob", "Hello world", 400),
                  QList<QByteArray>{"+OK O7tsL0iStsR0moZNg0rHQJE1"});
        alice.keys.insert("bob", record);
        alice.fish.rereadKeys();
        EXPECT_TRUE(alice.fish.outgoing("bob", "still refused", 400).isEmpty());
        alice.fish.stopEncrypting("bob");
        EXPECT_EQ(alice.fish.outgoing("bob", "clear", 400), QList<QByteArray>{"clear"});
        EXPECT_EQ(peer::fishText::status(alice.fish.status("bob")), "Not encrypted");
    }
}

TEST(FishUnreadableKey, ANewExchangeOverAVerifiedKeySaysItIsNoLongerVerified)
{
    Alice alice;
    alice.keys.insert("bob", {{}, FishMode::Cbc, QByteArray(32, '\x11'), true});
    const auto bob = peer::dh1080::makeKeyPair();
    ASSERT_TRUE(bob);
    alice.fish.takeNotice("bob", initFrom(*bob));
    alice.fish.acceptOffer("bob");
    EXPECT_TRUE(alice.fish.status("bob").keyed);
    EXPECT_NE(std::find(alice.notes.begin(), alice.notes.end(),
                        "*The key changed in a new exchange; it is no longer verified*\r\n"),
              alice.notes.end());
}

TEST(FishOffers, StrangersCannotCrowdOutAContactsOffer)
{
    Alice alice;
    alice.contacts = {"Bob", "carol"};
    const auto pair = peer::dh1080::makeKeyPair();
    ASSERT_TRUE(pair);
    // Strangers take every place and keep re-sending; each re-send only refreshes its offer.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < FishChats::kMaxOffers + 2; ++i)
            alice.fish.takeNotice("m" + QByteArray::number(i), initFrom(*pair));
    }
    EXPECT_EQ(int(alice.offers.size()), FishChats::kMaxOffers);
    EXPECT_FALSE(alice.fish.hasOffer("m" + QByteArray::number(FishChats::kMaxOffers)));

    // Contacts, under any case the server uses, are asked all the same, once each.
    alice.fish.takeNotice("bob", initFrom(*pair));
    alice.fish.takeNotice("CAROL", initFrom(*pair));
    alice.fish.takeNotice("bob", initFrom(*pair));
    ASSERT_EQ(int(alice.offers.size()), FishChats::kMaxOffers + 2);
    EXPECT_EQ(alice.offers[FishChats::kMaxOffers], "bob");
    EXPECT_EQ(alice.offers[FishChats::kMaxOffers + 1], "CAROL");
    EXPECT_TRUE(alice.fish.hasOffer("bob") && alice.fish.hasOffer("carol"));
    // Still no place for another stranger.
    alice.fish.takeNotice("dave", initFrom(*pair));
    EXPECT_FALSE(alice.fish.hasOffer("dave"));
}

TEST(FishOffers, AReSentOfferReplacesTheKeyItWaitsWith)
{
    Alice alice;
    const auto first = peer::dh1080::makeKeyPair();
    const auto second = peer::dh1080::makeKeyPair();
    ASSERT_TRUE(first && second);
    alice.fish.takeNotice("mallory", initFrom(*first));
    alice.fish.takeNotice("mallory", initFrom(*second));
    EXPECT_EQ(alice.offers, std::vector<QByteArray>{"mallory"});
    alice.fish.acceptOffer("mallory");
    ASSERT_EQ(alice.sent.size(), 1);
    const auto finish = peer::dh1080::parseKeyExchange(alice.sent[0].mid(16));
    ASSERT_TRUE(finish);
    EXPECT_EQ(peer::dh1080::sharedKey(*second, finish->publicKey), alice.keys.value("mallory").key);
}

} // namespace

#include "peer/common/texts.h"
#include "peer/crypto/dh1080.h"
#include "peer/crypto/fish_chats.h"
#include "tests/support/scripted_host.h"

#include <QHash>
#include <gtest/gtest.h>

#include <deque>

namespace {

using peer::FishChats;
using peer::FishMode;
using peer::LineProtection;
using peer::LinkEnds;
using peer::LinkRole;
using peer::StoredFishKey;

// One side of a conversation: its lines go to the other side's queue, as the server would
// relay them, and its keys are records in memory exactly as the store hands them out.
class Side : public test::ScriptedHost, public test::MemoryKeys
{
public:
    explicit Side(const QByteArray& nick = "alice")
        : ScriptedHost(nick)
    {
        QObject::connect(
            &fish, &FishChats::noteShown, &fish,
            [this](const QByteArray&, const QByteArray& line) { notes.push_back(line); });
        QObject::connect(&fish, &FishChats::exchangeOffered, &fish,
                         [this](const QByteArray& nick) { offers.push_back(nick); });
    }

    FishChats fish{*this, *this};
    std::vector<QByteArray> notes;
    std::vector<QByteArray> offers;
};

QByteArray initFrom(const peer::dh1080::KeyPair& pair)
{
    return peer::dh1080::keyExchangeText(peer::dh1080::Step::Init, pair.publicKey, true);
}

// "NOTICE bob :text" or "PRIVMSG bob :text" as `to` receives it from `from`.
void relay(Side& from, Side& to)
{
    while (!from.sent.empty()) {
        const QByteArray line = from.sent.front();
        from.sent.pop_front();
        const qsizetype colon = line.indexOf(" :");
        ASSERT_GT(colon, 0) << line.constData();
        const QByteArray text = line.mid(colon + 2);
        if (line.startsWith("NOTICE "))
            to.fish.takeNotice(from.nick, text);
    }
}

class FishPair : public ::testing::Test
{
protected:
    // `from` starts a key exchange that `to` accepts.
    static void exchange(Side& from, Side& to)
    {
        from.fish.startExchange(to.nick);
        relay(from, to);
        to.fish.acceptOffer(from.nick);
        relay(to, from);
    }
    // What `to` shows for `text` typed by `from`, through the wire.
    FishChats::Incoming say(Side& from, Side& to, const QByteArray& text)
    {
        const QList<QByteArray> pieces = from.fish.outgoing(to.nick, text, 400);
        EXPECT_EQ(pieces.size(), 1);
        return to.fish.incoming(from.nick, pieces.value(0));
    }
    Side alice{"alice"};
    Side bob{"bob"};
};

TEST_F(FishPair, AnAcceptedExchangeGivesBothOneCbcKeyAndTheSameComparison)
{
    alice.fish.startExchange("bob");
    ASSERT_EQ(alice.sent.size(), 1);
    EXPECT_TRUE(alice.sent.front().startsWith("NOTICE bob :DH1080_INIT "));
    EXPECT_TRUE(alice.sent.front().endsWith(" CBC"));
    EXPECT_TRUE(alice.fish.status("bob").exchanging);
    relay(alice, bob);
    ASSERT_EQ(bob.offers, std::vector<QByteArray>{"alice"});
    EXPECT_FALSE(bob.fish.status("alice").keyed); // nothing before the user says yes
    bob.fish.acceptOffer("alice");
    relay(bob, alice);

    const peer::FishStatus a = alice.fish.status("bob");
    const peer::FishStatus b = bob.fish.status("alice");
    EXPECT_TRUE(a.keyed && b.keyed);
    EXPECT_EQ(a.mode, FishMode::Cbc);
    EXPECT_EQ(b.mode, FishMode::Cbc);
    EXPECT_FALSE(a.verified || a.exchanging || a.typed);
    EXPECT_EQ(a.comparison, b.comparison);
    EXPECT_EQ(a.comparison.size(), 24);
    EXPECT_EQ(alice.keys.value("bob").key, bob.keys.value("alice").key);

    const auto heard = say(alice, bob, "caf\xc3\xa9 at noon?");
    EXPECT_EQ(heard.protection, LineProtection::Encrypted);
    EXPECT_EQ(heard.text, "caf\xc3\xa9 at noon?");
    EXPECT_EQ(say(bob, alice, "yes").text, "yes");
}

TEST_F(FishPair, AnExchangeRacedFromBothSidesEndsWithOneKey)
{
    alice.fish.startExchange("bob");
    bob.fish.startExchange("alice");
    relay(alice, bob); // each INIT reaches a side that waits for its own answer
    relay(bob, alice);
    relay(alice, bob); // the answers that follow find nothing waiting
    relay(bob, alice);
    EXPECT_TRUE(alice.offers.empty());
    EXPECT_TRUE(bob.offers.empty());
    ASSERT_TRUE(alice.keys.contains("bob"));
    EXPECT_EQ(alice.keys.value("bob").key, bob.keys.value("alice").key);
    EXPECT_EQ(alice.fish.status("bob").comparison, bob.fish.status("alice").comparison);
    EXPECT_EQ(say(alice, bob, "one key").text, "one key");
}

TEST_F(FishPair, APeerWithoutCbcGetsEcbUntilItWritesCbc)
{
    // bob's side is played by hand: an ECB-only peer answers without " CBC".
    alice.fish.startExchange("bob");
    const auto init = peer::dh1080::parseKeyExchange(alice.sent.front().mid(12));
    ASSERT_TRUE(init);
    const auto pair = peer::dh1080::makeKeyPair();
    ASSERT_TRUE(pair);
    alice.fish.takeNotice(
        "bob", peer::dh1080::keyExchangeText(peer::dh1080::Step::Finish, pair->publicKey, false));
    EXPECT_EQ(alice.fish.status("bob").mode, FishMode::Ecb);
    const QByteArray key = *peer::dh1080::sharedKey(*pair, init->publicKey);
    const QByteArray sent = alice.fish.outgoing("bob", "hi", 400).value(0);
    EXPECT_TRUE(sent.startsWith("+OK ") && !sent.startsWith("+OK *")) << sent.constData();

    peer::FishKey bobKey;
    ASSERT_TRUE(bobKey.set(key));
    EXPECT_EQ(peer::openFishText(bobKey, sent).text, "hi");
    const auto heard =
        alice.fish.incoming("bob", peer::sealFishText(bobKey, FishMode::Cbc, "now in cbc"));
    EXPECT_EQ(heard.text, "now in cbc");
    EXPECT_EQ(alice.fish.status("bob").mode, FishMode::Cbc);
    EXPECT_TRUE(alice.fish.outgoing("bob", "hi", 400).value(0).startsWith("+OK *"));
}

TEST_F(FishPair, WhatArrivesIsMarkedByHowItCame)
{
    EXPECT_EQ(alice.fish.setTypedKey("bob", QStringLiteral("fishkey")), FishChats::KeyEntry::Set);
    EXPECT_EQ(alice.fish.outgoing("bob", "Hello world", 400),
              QList<QByteArray>{"+OK O7tsL0iStsR0moZNg0rHQJE1"});
    struct Case
    {
        QByteArray from;
        QByteArray text;
        LineProtection protection;
        QByteArray shown;
    };
    const Case cases[] = {
        {"bob", "+OK O7tsL0iStsR0moZNg0rHQJE1", LineProtection::Encrypted, "Hello world"},
        {"BOB", "+OK O7tsL0iStsR0moZNg0rHQJE1", LineProtection::Encrypted, "Hello world"},
        {"bob", "plain words", LineProtection::Clear, "plain words"},
        {"bob", "+OK kLVrN0Tg9Xf/X2sHm0lVZB/.", LineProtection::Undecryptable, ""},
        {"bob", "+OK short", LineProtection::Undecryptable, ""},
        {"carol", "+OK O7tsL0iStsR0moZNg0rHQJE1", LineProtection::Undecryptable, ""},
        {"carol", "hello", LineProtection::None, "hello"},
        {"bob",
         "\x01"
         "ACTION +OK O7tsL0iStsR0moZNg0rHQJE1\x01",
         LineProtection::Encrypted,
         "\x01"
         "ACTION Hello world\x01"},
        {"bob",
         "\x01"
         "ACTION waves\x01",
         LineProtection::Clear,
         "\x01"
         "ACTION waves\x01"},
    };
    for (const Case& c : cases) {
        const auto heard = alice.fish.incoming(c.from, c.text);
        EXPECT_EQ(heard.protection, c.protection)
            << c.from.constData() << ' ' << c.text.constData();
        EXPECT_EQ(heard.text, c.shown) << c.text.constData();
    }
}

// After "Stop encrypting" the contact's next lines read "could not be decrypted", and neither
// side was told what to do.
TEST_F(FishPair, AfterStoppingWhatTheContactStillEncryptsIsReadWithTheKeyWeHad)
{
    ASSERT_EQ(alice.fish.setTypedKey("bob", QStringLiteral("fishkey")), FishChats::KeyEntry::Set);
    ASSERT_EQ(bob.fish.setTypedKey("alice", QStringLiteral("fishkey")), FishChats::KeyEntry::Set);
    alice.notes.clear();
    alice.fish.stopEncrypting("bob");
    alice.notes.clear();

    // Ours go in clear and are not called encrypted.
    EXPECT_EQ(alice.fish.outgoing("bob", "in clear now", 400), QList<QByteArray>{"in clear now"});
    EXPECT_FALSE(alice.fish.status("bob").keyed);

    // His are read, and marked as what they were: encrypted.
    const FishChats::Incoming first = say(bob, alice, "still sealed");
    EXPECT_EQ(first.protection, LineProtection::StillEncrypted);
    EXPECT_EQ(peer::fishText::markedText(first.protection, first.text), "[encrypted] still sealed");
    EXPECT_FALSE(peer::fishText::isUnprotected(first.protection));
    EXPECT_EQ(alice.notes,
              std::vector<QByteArray>{"*bob still encrypts this chat; Encrypt again?*\r\n"});
    const FishChats::Incoming action =
        alice.fish.incoming("BOB", "\x01"
                                   "ACTION +OK O7tsL0iStsR0moZNg0rHQJE1\x01");
    EXPECT_EQ(action.protection, LineProtection::StillEncrypted);
    EXPECT_EQ(action.text, "\x01"
                           "ACTION Hello world\x01");
    EXPECT_EQ(alice.notes.size(), 1u); // said once
    EXPECT_EQ(alice.fish.incoming("bob", "plain again").protection, LineProtection::None);
    EXPECT_EQ(alice.fish.incoming("bob", "+OK kLVrN0Tg9Xf/X2sHm0lVZB/.").protection,
              LineProtection::Undecryptable);
    EXPECT_EQ(alice.fish.incoming("carol", "+OK O7tsL0iStsR0moZNg0rHQJE1").protection,
              LineProtection::Undecryptable);

    // A new key takes over; the old one reads nothing any more.
    ASSERT_EQ(alice.fish.setTypedKey("bob", QStringLiteral("another")), FishChats::KeyEntry::Set);
    EXPECT_EQ(alice.fish.incoming("bob", "+OK O7tsL0iStsR0moZNg0rHQJE1").protection,
              LineProtection::Undecryptable);
}

TEST_F(FishPair, ANewExchangeDropsVerifiedAndSaysSo)
{
    exchange(alice, bob);
    alice.fish.markVerified("bob");
    EXPECT_TRUE(alice.fish.status("bob").verified);
    EXPECT_TRUE(alice.keys.value("bob").verified);

    exchange(bob, alice);
    EXPECT_FALSE(alice.fish.status("bob").verified);
    EXPECT_EQ(std::count(alice.notes.begin(), alice.notes.end(),
                         "*The key changed in a new exchange; it is no longer verified*\r\n"),
              1);
}

TEST_F(FishPair, TheProgramsCompareTheExchangeOverAComparedLink)
{
    const LinkEnds aliceEnds{LinkRole::Connector, QByteArray(64, 'a'), QByteArray(64, 'b')};
    const LinkEnds bobEnds{LinkRole::Listener, QByteArray(64, 'b'), QByteArray(64, 'a')};
    exchange(alice, bob);
    const auto fromAlice = alice.fish.checkMessage("bob", aliceEnds);
    ASSERT_TRUE(fromAlice);
    // Sent back to her, her own check does not match.
    alice.fish.takeCheck("bob", *fromAlice, aliceEnds);
    EXPECT_FALSE(alice.fish.status("bob").verified);
    const auto fromBob = bob.fish.checkMessage("alice", bobEnds);
    ASSERT_TRUE(fromBob);
    EXPECT_TRUE(FishChats::isCheckMessage(*fromBob));
    EXPECT_TRUE(fromBob->startsWith("\x01"
                                    "FISHCHECK ")
                && fromBob->endsWith('\x01'));
    alice.fish.takeCheck("bob", *fromBob, aliceEnds);
    EXPECT_TRUE(alice.fish.status("bob").verified);
    bob.fish.takeCheck("alice", *fromAlice, bobEnds);
    EXPECT_TRUE(bob.fish.status("alice").verified);

    // Someone in the middle: carol's exchange with alice gives another digest than bob holds.
    Side carol{"bob"};
    carol.fish.startExchange("alice");
    relay(carol, alice);
    alice.fish.acceptOffer("bob");
    alice.fish.takeCheck("bob", *fromBob, aliceEnds);
    EXPECT_FALSE(alice.fish.status("bob").verified);
    EXPECT_TRUE(alice.notes.back().contains("someone may have tampered"));
    // Typed keys have nothing to compare.
    alice.fish.setTypedKey("dave", QStringLiteral("cbc:secret"));
    EXPECT_FALSE(alice.fish.checkMessage("dave", aliceEnds));
    EXPECT_EQ(alice.fish.status("dave").mode, FishMode::Cbc);
}

TEST_F(FishPair, HostileNoticesChangeNothing)
{
    const QByteArray notices[] = {
        "DH1080_INIT",
        "DH1080_INIT A",
        "DH1080_INIT AAAA CBC",
        "DH1080_FINISH " + QByteArray(181, 'A'),
        "DH1080_INIT " + QByteArray(5000, 'Q'),
        "DH1080_BOGUS xyz",
    };
    for (const QByteArray& text : notices)
        alice.fish.takeNotice("mallory", text);
    EXPECT_TRUE(alice.offers.empty());
    EXPECT_TRUE(alice.sent.empty());
    EXPECT_TRUE(alice.keys.isEmpty());

    // A flood of real offers from many nicks waits only up to the bound.
    Side other{"x"};
    for (int i = 0; i < 10; ++i) {
        other.fish.startExchange("alice");
        alice.fish.takeNotice("m" + QByteArray::number(i), other.sent.back().mid(14));
    }
    EXPECT_EQ(int(alice.offers.size()), FishChats::kMaxOffers);
    // Declined, the same nick cannot ask again at once.
    alice.fish.declineOffer("m0");
    other.fish.startExchange("alice");
    alice.fish.takeNotice("m0", other.sent.back().mid(14));
    EXPECT_FALSE(alice.fish.hasOffer("m0"));
    // A FINISH nobody asked for keys nothing.
    alice.fish.takeNotice("m1", "DH1080_FINISH " + other.sent.back().mid(26));
    EXPECT_FALSE(alice.fish.status("m1").keyed);
}

TEST_F(FishPair, TheAwayReplyIsSealedToAKeyedContactOnly)
{
    EXPECT_FALSE(alice.fish.sealedAway("bob", "gone fishing", 400));
    alice.fish.setTypedKey("bob", QStringLiteral("cbc:fishkey"));
    const auto sealed = alice.fish.sealedAway("bob", "gone fishing", 400);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(sealed->plain, "gone fishing");
    peer::FishKey key;
    key.set("fishkey");
    EXPECT_EQ(peer::openFishText(key, sealed->wire).text, "gone fishing");
    // Cut to fit, never past the room.
    const auto cut = alice.fish.sealedAway("bob", QByteArray(600, 'z'), 100);
    ASSERT_TRUE(cut);
    EXPECT_LE(cut->wire.size(), 100);
    EXPECT_EQ(peer::openFishText(key, cut->wire).text, cut->plain);
}

TEST(StoredFishKey, ReadsBackWhatItWroteAndRefusesAnythingElse)
{
    peer::StoredFishKey exchanged{"k3y with blanks", FishMode::Cbc, QByteArray(32, '\x7f'), true};
    peer::StoredFishKey typed{"fishkey", FishMode::Ecb, {}, false};
    for (const auto& key : {exchanged, typed})
        EXPECT_EQ(peer::decodeStoredFishKey(peer::encodeStoredFishKey(key)), key);
    for (const QByteArray& text :
         {QByteArray(""), QByteArray("cbc 1 -"), QByteArray("xyz 0 - k"), QByteArray("cbc 2 - k"),
          QByteArray("cbc 0 abcd k"), QByteArray("cbc 0 - ") + QByteArray(57, 'k')})
        EXPECT_FALSE(peer::decodeStoredFishKey(text)) << text.constData();
}

TEST(StoredFishKey, TheRecordWithoutItsKeyReadsBackAndStillReadsWholeTexts)
{
    const peer::StoredFishKey exchanged{"k3y", FishMode::Cbc, QByteArray(32, '\x7f'), true};
    peer::StoredFishKey keyless = exchanged;
    keyless.key.clear();
    const QByteArray record = peer::encodeFishKeyRecord(exchanged);
    EXPECT_FALSE(record.contains("k3y"));
    EXPECT_EQ(peer::decodeFishKeyRecord(record), keyless);
    // Refused by the strict reading: a keyless record is no key.
    EXPECT_FALSE(peer::decodeStoredFishKey(record));
    EXPECT_EQ(peer::decodeFishKeyRecord(peer::encodeStoredFishKey(exchanged)), exchanged);
    for (const QByteArray& text : {QByteArray("cbc 1 -"), QByteArray("cbc 2 - "),
                                   QByteArray("cbc 0 - ") + QByteArray(57, 'k')})
        EXPECT_FALSE(peer::decodeFishKeyRecord(text)) << text.constData();
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
        Side alice;
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
    Side alice;
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
    Side alice;
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
    Side alice;
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

// Pins of contacts' private links kept under the nick as RFC 1459 folds it, on a real store.
#include "app/chat_keys.h"
#include "app/contact_pins.h"
#include "config/registry.h"
#include "config/secret_store.h"
#include "config/store.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_store.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kPin(64, 'a');

// One folding whatever the server announces: the widest, RFC 1459's.
TEST(ContactPins, OneNickAsRfc1459FoldsItSharesOnePin)
{
    const struct
    {
        QByteArray pinned;
        QByteArray asked;
        bool found;
    } cases[] = {
        {"Bob", "bob", true},    {"Bob", "BOB", true},    {"[a]", "{a}", true},
        {"x\\y~", "X|Y^", true}, {"[a]", "{A}", true},    {"a~", "a^", true},
        {"bob", "bobby", false}, {"[bob]", "bob", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pinned.constData() + std::string(" / ") + c.asked.constData());
        test::TempStore temp;
        app::ContactPins pins(temp.store());
        ASSERT_TRUE(pins.pin(c.pinned, kPin));
        EXPECT_EQ(pins.find(c.asked).has_value(), c.found);
        EXPECT_EQ(pins.find(c.pinned)->fingerprint, kPin);
    }
}

// Stores written while pins followed the server's CASEMAPPING keep the pins of that day's
// folding: each is found, and moved under the one folding kept now.
TEST(ContactPins, PinsKeptUnderAnyServersFoldingAreFound)
{
    const struct
    {
        QByteArray stored; // as that day's folding left it
        QByteArray asked;
    } cases[] = {
        {"[bob]", "[Bob]"},   // ascii
        {"{bob~}", "[Bob~]"}, // strict RFC 1459
        {"{bob^}", "[Bob~]"}, // RFC 1459
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.constData());
        test::TempStore temp;
        ASSERT_TRUE(temp.store().pinPeer(c.stored, kPin, config::PeerPinKind::Compared));
        app::ContactPins pins(temp.store());
        const auto found = pins.find(c.asked);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->fingerprint, kPin);
        EXPECT_EQ(found->kind, config::PeerPinKind::Compared);
        EXPECT_EQ(pins.find(c.asked)->kind, config::PeerPinKind::Compared);
    }
}

// A pin says how it came to be; one kept before pins said so was first seen.
TEST(ContactPins, APinKeepsHowItCameToBe)
{
    test::TempStore temp;
    ASSERT_TRUE(temp.registry().createKey(config::kKeyPeerPins));
    ASSERT_TRUE(temp.registry().writeValue(config::kKeyPeerPins, "carol", kPin));
    app::ContactPins pins(temp.store());
    EXPECT_EQ(pins.find("carol")->kind, config::PeerPinKind::FirstSeen);
    EXPECT_EQ(pins.find("carol")->fingerprint, kPin);

    ASSERT_TRUE(pins.pin("dave", kPin, config::PeerPinKind::Accepted));
    EXPECT_EQ(pins.find("Dave")->kind, config::PeerPinKind::Accepted);
    EXPECT_EQ(temp.store().peerPin("dave"), kPin);
    // Compared only for the certificate pinned: not for another one shown meanwhile.
    EXPECT_FALSE(pins.markCompared("dave", QByteArray(64, 'b')));
    EXPECT_EQ(pins.find("dave")->kind, config::PeerPinKind::Accepted);
    EXPECT_TRUE(pins.markCompared("DAVE", kPin));
    EXPECT_EQ(pins.find("dave")->kind, config::PeerPinKind::Compared);
    EXPECT_TRUE(pins.markCompared("erin", kPin)); // compared before it was kept
    EXPECT_EQ(pins.find("erin")->kind, config::PeerPinKind::Compared);

    // A kind no program wrote is no pin, rather than one trusted more than it was.
    for (const QByteArray& value :
         {kPin + " ", kPin + " verified", kPin + " compared ", kPin + "  accepted"}) {
        ASSERT_TRUE(temp.registry().writeValue(config::kKeyPeerPins, "frank", value));
        EXPECT_EQ(pins.find("frank"), std::nullopt) << value.constData();
    }
}

TEST(ContactPins, APinKeptUnderItsSpellingIsFoundMovedAndForgottenUnderTheFoldedNick)
{
    test::TempStore temp;
    // As pins were kept before nicks were folded: under the nick as it was spelled.
    ASSERT_TRUE(temp.store().pinPeer("[Bob]", kPin));
    app::ContactPins pins(temp.store());
    EXPECT_EQ(pins.find("[Bob]")->fingerprint, kPin);
    EXPECT_EQ(temp.store().peerPin("{bob}"), kPin);
    EXPECT_EQ(temp.store().peerPin("[bob]"), std::nullopt);
    EXPECT_EQ(pins.find("{BOB}")->fingerprint, kPin);

    // Forgetting takes the folded and the spelled pin.
    ASSERT_TRUE(pins.pin("[a]", kPin));
    ASSERT_TRUE(temp.store().pinPeer("[a]", QByteArray(64, 'b'))); // an older one, unmoved
    EXPECT_TRUE(pins.forget("{A}"));
    EXPECT_FALSE(pins.find("[a]"));
    EXPECT_EQ(temp.store().peerPin("{a}"), std::nullopt);
}

// The chats' keys, likewise: one folding now, and a key kept under the folding a server
// announced before is found where it is, replaced there and forgotten with the rest.
TEST(ChatKeys, KeysKeptUnderAnyServersFoldingAreFound)
{
    const test::EnvGuard noKeychain("KIVVO_NO_KEYCHAIN", "1");
    const peer::StoredFishKey key{"fishkey", peer::FishMode::Cbc, QByteArray(32, 'D'), true};
    const struct
    {
        QByteArray stored; // as that day's folding left it
        QByteArray asked;
    } cases[] = {
        {"[bob]", "{BOB}"},   // ascii
        {"{bob~}", "[Bob~]"}, // strict RFC 1459
        {"{bob^}", "[bob~]"}, // RFC 1459
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.constData());
        test::TempStore temp;
        ASSERT_TRUE(temp.store().setChatKey(c.stored, peer::encodeStoredFishKey(key)));
        config::SecretStore secrets(temp.store());
        ASSERT_FALSE(secrets.isActive());
        app::ChatKeys keys(temp.store(), secrets);
        EXPECT_EQ(keys.find(c.asked), key);
        peer::StoredFishKey changed = key;
        changed.verified = false;
        ASSERT_TRUE(keys.save(c.asked, changed));
        EXPECT_EQ(keys.find(c.stored), changed);
        EXPECT_EQ(temp.store().chatKeyNicks(), QList<QByteArray>{c.stored});
        EXPECT_TRUE(keys.forget(c.asked));
        EXPECT_EQ(keys.find(c.stored), std::nullopt);
        EXPECT_TRUE(temp.store().chatKeyNicks().isEmpty());
    }
    // A new key goes under the one folding.
    test::TempStore temp;
    config::SecretStore secrets(temp.store());
    app::ChatKeys keys(temp.store(), secrets);
    ASSERT_TRUE(keys.save("[Bob]", key));
    EXPECT_EQ(temp.store().chatKeyNicks(), QList<QByteArray>{"{bob}"});
}

} // namespace

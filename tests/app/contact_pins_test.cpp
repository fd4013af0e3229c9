// Pins of contacts' private links kept under the nick as the server folds it, on a real store.
#include "app/contact_pins.h"
#include "config/registry.h"
#include "config/store.h"
#include "tests/support/temp_store.h"

#include <gtest/gtest.h>

using irc::CaseMapping;

namespace {

const QByteArray kPin(64, 'a');

TEST(ContactPins, OneNickAsTheServerFoldsItSharesOnePin)
{
    const struct
    {
        CaseMapping mapping;
        QByteArray pinned;
        QByteArray asked;
        bool found;
    } cases[] = {
        {CaseMapping::Rfc1459, "Bob", "bob", true},
        {CaseMapping::Ascii, "Bob", "BOB", true},
        {CaseMapping::Rfc1459, "[a]", "{a}", true},
        {CaseMapping::Rfc1459, "x\\y~", "X|Y^", true},
        {CaseMapping::StrictRfc1459, "[a]", "{A}", true},
        {CaseMapping::StrictRfc1459, "a~", "a^", false},
        {CaseMapping::Ascii, "[a]", "{a}", false},
        {CaseMapping::Rfc1459, "bob", "bobby", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pinned.constData() + std::string(" / ") + c.asked.constData());
        test::TempStore temp;
        app::ContactPins pins(temp.store());
        pins.setCaseMapping(c.mapping);
        ASSERT_TRUE(pins.pin(c.pinned, kPin));
        EXPECT_EQ(pins.find(c.asked).has_value(), c.found);
        EXPECT_EQ(pins.find(c.pinned), kPin);
    }
}

TEST(ContactPins, APinKeptUnderItsSpellingIsFoundAndMovedUnderTheFoldedNick)
{
    test::TempStore temp;
    // As pins were kept before nicks were folded: under the nick as it was spelled.
    ASSERT_TRUE(temp.store().pinPeer("[Bob]", kPin));
    app::ContactPins pins(temp.store());
    pins.setCaseMapping(CaseMapping::Rfc1459);
    EXPECT_EQ(pins.find("[Bob]"), kPin);
    EXPECT_EQ(temp.store().peerPin("{bob}"), kPin);
    EXPECT_EQ(temp.store().peerPin("[bob]"), std::nullopt);
    EXPECT_EQ(pins.find("{BOB}"), kPin);
}

TEST(ContactPins, ForgettingTakesTheFoldedAndTheSpelledPin)
{
    test::TempStore temp;
    app::ContactPins pins(temp.store());
    pins.setCaseMapping(CaseMapping::Rfc1459);
    ASSERT_TRUE(pins.pin("[a]", kPin));
    ASSERT_TRUE(temp.store().pinPeer("[a]", QByteArray(64, 'b'))); // an older one, unmoved
    EXPECT_TRUE(pins.forget("{A}"));
    EXPECT_EQ(pins.find("[a]"), std::nullopt);
    EXPECT_EQ(temp.store().peerPin("{a}"), std::nullopt);
}

} // namespace

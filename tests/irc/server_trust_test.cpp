// The verdict on a certificate that did not verify, and the pins behind it.
#include "config/store.h"
#include "irc/server_trust.h"
#include "tests/support/temp_store.h"

#include <gtest/gtest.h>

using irc::ServerTrust;

namespace {

// The keeper the server attempt gives the trust: the store's certificate pins.
irc::PinKeeper keeperOf(config::Store& store)
{
    return {[&store](const config::ServerEntry& server) { return store.certificatePin(server); },
            [&store](const config::ServerEntry& server, const QByteArray& fingerprint) {
                return store.pinCertificate(server, fingerprint);
            }};
}

} // namespace

TEST(ServerTrust, OnlyThePinnedCertificatePassesAndAnotherIsAChange)
{
    const struct
    {
        std::optional<QByteArray> pin;
        QByteArray presented;
        ServerTrust::Verdict verdict;
    } cases[] = {
        {QByteArray("ab12"), "ab12", ServerTrust::Verdict::Pinned},
        {QByteArray("ab12"), "cd34", ServerTrust::Verdict::Changed},
        {std::nullopt, "ab12", ServerTrust::Verdict::Unknown},
        {QByteArray("ab12"), "AB12", ServerTrust::Verdict::Changed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ServerTrust::judge(c.pin, c.presented), c.verdict) << c.presented.constData();
}

TEST(ServerTrust, AYesIsPinnedPerAddressAndPort)
{
    test::TempStore temp;
    ServerTrust trust(keeperOf(temp.store()));
    const config::ServerEntry server{"irc.example.net", "Net", 6697, true};
    const QByteArray fingerprint(64, 'a');
    EXPECT_EQ(trust.judge(server, fingerprint), ServerTrust::Verdict::Unknown);
    EXPECT_TRUE(trust.trust(server, fingerprint));
    EXPECT_EQ(temp.store().certificatePin(server), fingerprint);
    EXPECT_EQ(trust.judge(server, fingerprint), ServerTrust::Verdict::Pinned);
    const config::ServerEntry otherPort{"irc.example.net", "Net", 7000, true};
    EXPECT_EQ(trust.judge(otherPort, fingerprint), ServerTrust::Verdict::Unknown);
}

TEST(ServerTrust, AYesTheStoreCannotKeepStillCountsUntilTheProgramEnds)
{
    test::TempStore temp(false); // no keys: every write of a pin fails
    ServerTrust trust(keeperOf(temp.store()));
    const config::ServerEntry server{"irc.example.net", "Net", 6697, true};
    const QByteArray fingerprint(64, 'b');
    EXPECT_FALSE(trust.trust(server, fingerprint));
    ASSERT_EQ(temp.store().certificatePin(server), std::nullopt);
    EXPECT_EQ(trust.judge(server, fingerprint), ServerTrust::Verdict::Pinned);
    EXPECT_EQ(trust.judge(server, QByteArray(64, 'c')), ServerTrust::Verdict::Changed);
    ServerTrust nextRun(keeperOf(temp.store()));
    EXPECT_EQ(nextRun.judge(server, fingerprint), ServerTrust::Verdict::Unknown);
}

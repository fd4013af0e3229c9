// The comparison string of a private link and the check our programs send over it, as pure code.
#include "peer/crypto/link_check.h"

#include <gtest/gtest.h>

namespace {

using peer::LinkEnds;
using peer::LinkRole;

const QByteArray kAlice(64, 'a');
const QByteArray kBob(64, 'b');
const QByteArray kMallory(64, 'c');
const QByteArray kDigest(32, '\x11');

TEST(LinkComparison, BothSidesReadTheSameAndAnyOtherCertificateChangesIt)
{
    const QString shown = peer::linkComparison(kAlice, kBob);
    EXPECT_EQ(shown, peer::linkComparison(kBob, kAlice));
    EXPECT_EQ(shown, peer::linkComparison(kBob.toUpper(), kAlice));
    EXPECT_EQ(shown.size(), 24); // "dddd dddd dddd dddd dddd"
    EXPECT_NE(shown, peer::linkComparison(kAlice, kMallory));
    EXPECT_NE(shown, peer::linkComparison(kMallory, kBob));
    EXPECT_NE(shown, peer::linkComparison(kAlice, kAlice));
}

// Alice connected to bob: what she sends, bob takes; what else arrives, nobody takes.
TEST(LinkCheck, TakenOnlyFromTheOtherEndOfTheSameLinkForTheSameDigest)
{
    const LinkEnds alice{LinkRole::Connector, kAlice, kBob};
    const LinkEnds bob{LinkRole::Listener, kBob, kAlice};
    const QByteArray fromAlice = peer::linkCheckToSend(alice, kDigest);
    const QByteArray fromBob = peer::linkCheckToSend(bob, kDigest);
    EXPECT_EQ(fromAlice.size(), 64);
    EXPECT_EQ(peer::linkCheckExpected(bob, kDigest), fromAlice);
    EXPECT_EQ(peer::linkCheckExpected(alice, kDigest), fromBob);
    EXPECT_NE(fromAlice, fromBob);

    const struct
    {
        const char* what;
        LinkEnds receiver;
        QByteArray digest;
    } refusing[] = {
        {"her own check sent back to her", alice, kDigest},
        {"bob with another digest", bob, QByteArray(32, '\x12')},
        {"bob on a link with mallory", {LinkRole::Listener, kBob, kMallory}, kDigest},
        {"mallory, who holds another certificate", {LinkRole::Listener, kMallory, kAlice}, kDigest},
        {"bob, had he connected rather than listened",
         {LinkRole::Connector, kBob, kAlice},
         kDigest},
    };
    for (const auto& c : refusing)
        EXPECT_NE(peer::linkCheckExpected(c.receiver, c.digest), fromAlice) << c.what;
    // Two programs that present one certificate (a test's shared folder) still tell the two
    // directions apart by their roles.
    const LinkEnds one{LinkRole::Connector, kAlice, kAlice};
    const LinkEnds other{LinkRole::Listener, kAlice, kAlice};
    EXPECT_EQ(peer::linkCheckExpected(other, kDigest), peer::linkCheckToSend(one, kDigest));
    EXPECT_NE(peer::linkCheckExpected(one, kDigest), peer::linkCheckToSend(one, kDigest));
}

} // namespace

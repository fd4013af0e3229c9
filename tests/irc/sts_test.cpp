// A server's TLS-only policy: the value it offers, what is kept of it, and which entry a policy
// turns a plain one into.
#include "irc/registration.h"
#include "irc/sts.h"

#include <gtest/gtest.h>

using irc::StsPolicy;
using irc::StsValue;

TEST(Sts, ReadsTheOfferedValue)
{
    const struct
    {
        const char* value;
        std::optional<StsValue> expected;
    } cases[] = {
        {"port=6697", StsValue{6697, std::nullopt}},
        {"duration=300", StsValue{std::nullopt, 300}},
        {"port=6697,duration=86400,preload", StsValue{6697, 86400}},
        {"duration=0", StsValue{std::nullopt, 0}},
        {"future=1,port=7000", StsValue{7000, std::nullopt}},
        // A port that cannot be one, or a duration no one could mean, is no policy.
        {"port=0", std::nullopt},
        {"port=65536", std::nullopt},
        {"port=-1", std::nullopt},
        {"port=66a", std::nullopt},
        {"duration=99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"port", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(irc::parseSts(c.value), c.expected) << c.value;
}

TEST(Sts, APolicyTurnsAPlainEntryIntoATlsOneWhileInForce)
{
    const config::ServerEntry plain{"irc.example.net", "Net", 6667, false};
    const StsPolicy policy{6697, 1000};
    const config::ServerEntry upgraded = irc::underPolicy(plain, policy, 999);
    EXPECT_TRUE(upgraded.tls);
    EXPECT_EQ(upgraded.port, 6697);
    EXPECT_EQ(upgraded.address, plain.address);
    EXPECT_EQ(irc::underPolicy(plain, policy, 1000), plain); // run out
    EXPECT_EQ(irc::underPolicy(plain, std::nullopt, 0), plain);
    config::ServerEntry secure = plain;
    secure.tls = true;
    secure.port = 7000;
    EXPECT_EQ(irc::underPolicy(secure, policy, 0), secure); // the user's own TLS entry stays

    EXPECT_EQ(StsPolicy::decode(policy.encode()), policy);
    for (const QByteArray& broken : {QByteArray(""), QByteArray("6697"), QByteArray("0 5"),
                                     QByteArray("x 5"), QByteArray("6697 5 7")})
        EXPECT_FALSE(StsPolicy::decode(broken)) << broken.constData();
}

// Over a plain link an offered TLS port ends the registration there: no request and no password
// goes out in clear. Over TLS the negotiation goes on, the policy said.
TEST(Sts, APlainLinkStopsAtTheOffer)
{
    for (const bool secure : {false, true}) {
        irc::Registration registration("alice", "Alice", "alice:pw", true);
        registration.setSecure(secure);
        registration.start();
        const auto message =
            irc::parseMessage(":irc CAP * LS :sasl server-time sts=port=6697,duration=300");
        ASSERT_TRUE(message);
        const irc::Registration::Reply reply = registration.take(*message);
        EXPECT_TRUE(reply.stsOffered);
        EXPECT_EQ(registration.stsPolicy(), QByteArray("port=6697,duration=300"));
        if (secure) {
            EXPECT_TRUE(reply.send.contains("CAP REQ :sasl"));
        } else {
            EXPECT_TRUE(reply.send.isEmpty());
            EXPECT_FALSE(registration.negotiating());
        }
    }
}

// The FiSH peers of the end-to-end suites, driven without the program: WeeChat's fish.py and
// ZNC's crypt module on a real ngircd, each against a plain client of the test's own ("alice").
// This pins what the drivers do and what each peer puts on the wire.
#include "tests/support/fish_weechat.h"
#include "tests/support/ngircd.h"
#include "tests/support/wait_for.h"
#include "tests/support/znc_crypt.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <iostream>

using test::waitFor;

namespace {

constexpr char kKey[] = "fishkey";
constexpr char kText[] = "Hello world";
// The one vector every FiSH implementation agrees on: kText under kKey in ECB.
constexpr char kEcbText[] = "+OK O7tsL0iStsR0moZNg0rHQJE1";
// kText under kKey in CBC after the block "kivvo-iv", made with pycryptodome.
constexpr char kCbcText[] = "+OK *ddZqplHVCJOXgE53LXERrlV6KpdyByqm";
constexpr int kWaitMs = 10000;

// The text of the first line `client` received from `from` with `command` ("NOTICE"), once
// there is one.
QByteArray firstText(test::Watcher& client, const QByteArray& from, const QByteArray& command)
{
    const QByteArray sender = ":" + from + "!";
    const QByteArray middle = " " + command + " ";
    QByteArray text;
    waitFor(
        [&] {
            for (const QByteArray& line : client.received().split('\n')) {
                if (line.startsWith(sender) && line.contains(middle) && line.endsWith('\r')) {
                    const qsizetype colon = line.indexOf(" :");
                    text = line.mid(colon + 2).chopped(1);
                    return true;
                }
            }
            return false;
        },
        kWaitMs);
    return text;
}

bool isKeyExchangeStart(const QByteArray& text)
{
    static const QRegularExpression form(QStringLiteral("^DH1080_INIT [A-Za-z0-9+/]{170,190}$"));
    return form.match(QString::fromUtf8(text)).hasMatch();
}

class FishPeerTest : public test::NgircdTest
{
protected:
    void SetUp() override
    {
        NgircdTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(alice.connectTo(server.port(), "alice"));
    }

    test::Watcher alice;
};

class FishWeechatPeer : public FishPeerTest
{
protected:
    void SetUp() override
    {
        if (!test::haveFishWeechat())
            GTEST_SKIP() << "WeeChat with fish.py is not installed (tools/test installs it)";
        FishPeerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        static const bool shown =
            (std::cout << test::FishWeechat::versions().constData() << std::endl, true);
        (void)shown;
        ASSERT_TRUE(peer.start(server.port(), "wee")) << peer.log().constData();
    }

    test::FishWeechat peer;
};

TEST_F(FishWeechatPeer, EncryptsToAKeyItWasGivenInEcb)
{
    ASSERT_TRUE(peer.setKey("alice", kKey));
    ASSERT_TRUE(peer.say("alice", kText));
    EXPECT_EQ(firstText(alice, "wee", "PRIVMSG"), kEcbText) << peer.log().constData();
}

TEST_F(FishWeechatPeer, ShowsTheTextOfAnEcbMessage)
{
    ASSERT_TRUE(peer.setKey("alice", kKey));
    EXPECT_EQ(peer.key("alice"), kKey);
    alice.send("PRIVMSG wee :" + QByteArray(kEcbText));
    EXPECT_TRUE(peer.waitForText("alice", kText)) << peer.log().constData();
}

TEST_F(FishWeechatPeer, StartsAKeyExchangeWithNoModeNamed)
{
    ASSERT_TRUE(peer.startKeyExchange("alice"));
    const QByteArray text = firstText(alice, "wee", "NOTICE");
    EXPECT_TRUE(isKeyExchangeStart(text)) << text.constData();
}

class ZncCryptPeer : public FishPeerTest
{
protected:
    void SetUp() override
    {
        if (!test::haveZnc())
            GTEST_SKIP() << "ZNC is not installed (tools/test installs it)";
        FishPeerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        static const bool shown =
            (std::cout << test::ZncCrypt::version().constData() << std::endl, true);
        (void)shown;
        ASSERT_TRUE(peer.start(server.port(), "bob")) << peer.log().constData();
    }

    test::ZncCrypt peer;
};

TEST_F(ZncCryptPeer, EncryptsToAKeyItWasGivenInCbc)
{
    ASSERT_TRUE(peer.setKey("alice", kKey));
    EXPECT_EQ(peer.key("alice"), kKey) << peer.log().constData();
    ASSERT_TRUE(peer.say("alice", kText));
    EXPECT_TRUE(firstText(alice, "bob", "PRIVMSG").startsWith("+OK *")) << peer.log().constData();
}

TEST_F(ZncCryptPeer, HandsOnCbcDecryptedWithTheSenderMarked)
{
    ASSERT_TRUE(peer.setKey("alice", kKey));
    alice.send("PRIVMSG bob :" + QByteArray(kCbcText));
    EXPECT_TRUE(peer.waitForMessage(test::ZncCrypt::kDecryptedMark + QByteArray("alice"), kText))
        << peer.log().constData();
}

TEST_F(ZncCryptPeer, HandsOnEcbAsSent)
{
    ASSERT_TRUE(peer.setKey("alice", kKey));
    alice.send("PRIVMSG bob :" + QByteArray(kEcbText));
    EXPECT_TRUE(peer.waitForMessage("alice", kEcbText)) << peer.log().constData();
}

TEST_F(ZncCryptPeer, StartsAKeyExchangeWithNoModeNamed)
{
    ASSERT_TRUE(peer.startKeyExchange("alice"));
    const QByteArray text = firstText(alice, "bob", "NOTICE");
    EXPECT_TRUE(isKeyExchangeStart(text)) << text.constData();
}

// The two peers exchange a key with each other: both drivers read the same key back, and what
// ZNC then sends in CBC, fish.py shows as text.
class BothFishPeers : public FishPeerTest
{
protected:
    void SetUp() override
    {
        if (!test::haveFishWeechat() || !test::haveZnc())
            GTEST_SKIP() << "WeeChat with fish.py or ZNC is not installed";
        FishPeerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_TRUE(weechat.start(server.port(), "wee")) << weechat.log().constData();
        ASSERT_TRUE(znc.start(server.port(), "bob")) << znc.log().constData();
    }

    test::FishWeechat weechat;
    test::ZncCrypt znc;
};

TEST_F(BothFishPeers, AgreeOnTheKeyTheyExchanged)
{
    ASSERT_TRUE(weechat.startKeyExchange("bob"));
    QByteArray weechatKey;
    ASSERT_TRUE(waitFor(
        [&] {
            weechatKey = weechat.key("bob");
            return !weechatKey.isEmpty();
        },
        kWaitMs))
        << weechat.log().constData() << znc.log().constData();
    EXPECT_EQ(znc.key("wee"), weechatKey) << znc.log().constData();
    ASSERT_TRUE(znc.say("wee", kText));
    EXPECT_TRUE(weechat.waitForText("bob", kText)) << weechat.log().constData();
}

} // namespace

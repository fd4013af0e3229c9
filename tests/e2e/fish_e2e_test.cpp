// Encrypted relayed chats between two programs through a real ngircd: the key exchange both
// ways, the comparison string on both sides, and the automatic comparison over a private link
// whose certificate the users compared.
#include "config/paths.h"
#include "peer/chat/chat_window.h"
#include "peer/link/dcc_tls.h"
#include "tests/support/fish_hexchat.h"
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"
#include "tests/support/weechat_peer.h"
#include "tests/support/znc_crypt.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <gtest/gtest.h>

#include <iostream>

using test::waitFor;

namespace {

class FishEndToEnd : public test::NgircdTest
{
protected:
    static peer::ChatWindow* relayedWith(test::ProgramCore& core, const QByteArray& nick)
    {
        return core.chatWith(nick, false);
    }
    static bool say(test::ProgramCore& from, const QByteArray& to, const QString& text)
    {
        peer::ChatWindow* window = relayedWith(from, to);
        if (!window)
            return false;
        window->input()->setText(text);
        window->send();
        return true;
    }
    static void trigger(peer::ChatWindow* window, const QString& text)
    {
        for (QAction* action : window->lockMenu()->actions()) {
            if (action->text() == text)
                action->trigger();
        }
    }
};

} // namespace

TEST_F(FishEndToEnd, TwoProgramsExchangeKeysTalkEncryptedAndVerifyOverAComparedLink)
{
    test::ProgramCore alice(server.port(), "alice", {"bob"});
    test::ProgramCore bob(server.port(), "bob", {"alice"});
    ASSERT_TRUE(online({"alice", "bob"}));
    // bob says yes to the key exchange, then to the private chat.
    bob.prompter->answers = {true, true};

    alice.program->chats().openChat("bob");
    trigger(relayedWith(alice, "bob"), QStringLiteral("Encrypt this chat"));
    ASSERT_TRUE(waitFor(
        [&] {
            return alice.program->fish().status("bob").keyed
                   && bob.program->fish().status("alice").keyed;
        },
        10000));
    ASSERT_EQ(bob.prompter->questions.at(0).text, "alice wants to encrypt your chat");
    const peer::FishStatus a = alice.program->fish().status("bob");
    const peer::FishStatus b = bob.program->fish().status("alice");
    EXPECT_EQ(a.mode, peer::FishMode::Cbc);
    EXPECT_EQ(b.mode, peer::FishMode::Cbc);
    EXPECT_EQ(a.comparison, b.comparison);
    EXPECT_FALSE(a.verified || b.verified);

    ASSERT_TRUE(say(alice, "bob", QStringLiteral("the eagle lands at \u00e9t\u00e9")));
    ASSERT_TRUE(waitFor(
        [&] {
            return relayedWith(bob, "alice")
                   && relayedWith(bob, "alice")
                          ->viewText()
                          .contains(QStringLiteral("<alice> the eagle lands at \u00e9t\u00e9"));
        },
        10000));
    ASSERT_TRUE(say(bob, "alice", QStringLiteral("roger")));
    ASSERT_TRUE(waitFor(
        [&] {
            return relayedWith(alice, "bob")->viewText().contains(QStringLiteral("<bob> roger"));
        },
        10000));
    EXPECT_FALSE(relayedWith(bob, "alice")->viewText().contains(QStringLiteral("[not encrypted]")));

    // Both programs present the one certificate of this test's configuration folder; each has
    // pinned it for the other, and the two users compared it, as after an earlier private link.
    const auto identity = peer::loadOrMakeTlsIdentity(
        QDir(config::configDir()).filePath(QStringLiteral("dcc-identity.pem")));
    ASSERT_TRUE(identity);
    const QByteArray pin = peer::certificateFingerprint(identity->certificate);
    ASSERT_TRUE(alice.program->store().pinPeer("bob", pin, config::PeerPinKind::Compared));
    ASSERT_TRUE(bob.program->store().pinPeer("alice", pin, config::PeerPinKind::Compared));
    config::Settings settings = alice.program->settings();
    settings.privatedcc = true;
    alice.program->applySettings(settings);
    // The server seeing both is not alice's list showing bob: that waits for her next poll when
    // her first one went before bob had registered.
    ASSERT_TRUE(waitFor([&] { return alice.contacts()->selectContact("bob"); }, 15000));
    alice.run(app::Command::DccChat);
    ASSERT_TRUE(waitFor(
        [&] {
            return alice.program->fish().status("bob").verified
                   && bob.program->fish().status("alice").verified;
        },
        15000));
    EXPECT_EQ(relayedWith(alice, "bob")->protectionLabel()->text(),
              "Encrypted (FiSH CBC), verified");
    // The comparison went between the programs; nobody saw it as a line.
    EXPECT_FALSE(bob.chatWith("alice", true)->viewText().contains(QStringLiteral("FISHCHECK")));
}

TEST_F(FishEndToEnd, AnExchangeRacedFromBothSidesEndsWithOneKey)
{
    test::ProgramCore alice(server.port(), "alice", {"bob"});
    test::ProgramCore bob(server.port(), "bob", {"alice"});
    ASSERT_TRUE(online({"alice", "bob"}));
    alice.program->chats().openChat("bob");
    bob.program->chats().openChat("alice");
    // Both ask before either has read the other's request: nobody is asked anything.
    trigger(relayedWith(alice, "bob"), QStringLiteral("Encrypt this chat"));
    trigger(relayedWith(bob, "alice"), QStringLiteral("Encrypt this chat"));
    ASSERT_TRUE(waitFor(
        [&] {
            return alice.program->fish().status("bob").keyed
                   && bob.program->fish().status("alice").keyed;
        },
        10000));
    EXPECT_TRUE(alice.prompter->questions.empty());
    EXPECT_TRUE(bob.prompter->questions.empty());
    // Let the answers that cross arrive too; they change nothing.
    ASSERT_TRUE(say(alice, "bob", QStringLiteral("one key")));
    ASSERT_TRUE(waitFor(
        [&] {
            return relayedWith(bob, "alice")
                ->viewText()
                .contains(QStringLiteral("<alice> one key"));
        },
        10000));
    EXPECT_EQ(alice.program->store().chatKey("bob").value_or("a").split(' ').last(),
              bob.program->store().chatKey("alice").value_or("b").split(' ').last());
    EXPECT_EQ(alice.program->fish().status("bob").comparison,
              bob.program->fish().status("alice").comparison);
}

// The program against the FiSH peers people run: WeeChat's fish.py (ECB only), ZNC's crypt
// (CBC only) and HexChat's fishlim (either), each as "bob" on the same server.
namespace {

class FishPeerEndToEnd : public FishEndToEnd
{
protected:
    void startAlice()
    {
        alice =
            std::make_unique<test::ProgramCore>(server.port(), "alice", QList<QByteArray>{"bob"});
        ASSERT_TRUE(online({"alice", "bob"}));
        alice->program->chats().openChat("bob");
    }
    peer::ChatWindow* window() const { return relayedWith(*alice, "bob"); }
    bool aliceShows(const QString& line)
    {
        return waitFor([&] { return window() && window()->viewText().contains(line); }, 10000);
    }
    QByteArray aliceKey() const { return alice->program->store().chatKey("bob").value_or(""); }
    // Alice's side after her exchange or her answer to bob's.
    bool keyed(peer::FishMode mode)
    {
        return waitFor(
            [&] {
                const peer::FishStatus status = alice->program->fish().status("bob");
                return status.keyed && status.mode == mode;
            },
            10000);
    }

    std::unique_ptr<test::ProgramCore> alice;
};

} // namespace

TEST_F(FishPeerEndToEnd, WeechatFishPyTakesOurExchangeAndAnswersInEcbBothWays)
{
    if (!test::WeechatPeer::available(test::WeechatPeer::Part::Fish))
        GTEST_SKIP() << "WeeChat with fish.py is not installed (tools/test installs it)";
    std::cout << test::WeechatPeer::fishVersions().constData() << std::endl;
    test::WeechatPeer bob(test::WeechatPeer::Part::Fish);
    ASSERT_TRUE(bob.start(server.port(), "bob")) << bob.log().constData();
    startAlice();

    // Ours: fish.py ignores " CBC" and answers without it, so the chat falls back to ECB.
    trigger(window(), QStringLiteral("Encrypt this chat"));
    ASSERT_TRUE(keyed(peer::FishMode::Ecb)) << bob.log().constData();
    EXPECT_TRUE(aliceKey().endsWith(' ' + bob.key("alice")));
    ASSERT_TRUE(say(*alice, "bob", QStringLiteral("hello fish.py, caf\u00e9")));
    EXPECT_TRUE(bob.waitForText("alice", "alice", "hello fish.py, caf\xc3\xa9"))
        << bob.log().constData();
    ASSERT_TRUE(bob.say("alice", "hello Kivvo"));
    ASSERT_TRUE(aliceShows(QStringLiteral("<bob> hello Kivvo"))) << bob.log().constData();

    // Theirs: asked, answered, and a new key on both sides.
    const QByteArray before = aliceKey();
    alice->prompter->answers = {true};
    ASSERT_TRUE(bob.startKeyExchange("alice"));
    ASSERT_TRUE(waitFor([&] { return aliceKey() != before; }, 10000));
    EXPECT_EQ(alice->prompter->questions.back().text, "bob wants to encrypt your chat");
    EXPECT_TRUE(aliceKey().endsWith(' ' + bob.key("alice")));
    ASSERT_TRUE(bob.say("alice", "second key"));
    ASSERT_TRUE(aliceShows(QStringLiteral("<bob> second key")));
    ASSERT_TRUE(say(*alice, "bob", QStringLiteral("heard")));
    EXPECT_TRUE(bob.waitForText("alice", "alice", "heard"));
    EXPECT_FALSE(window()->viewText().contains(QStringLiteral("[not encrypted]")));
}

TEST_F(FishPeerEndToEnd, ZncCryptTalksCbcAfterAnExchangeFromEitherSide)
{
    if (!test::haveZnc())
        GTEST_SKIP() << "ZNC is not installed (tools/test installs it)";
    std::cout << test::ZncCrypt::version().constData() << std::endl;
    test::ZncCrypt bob;
    ASSERT_TRUE(bob.start(server.port(), "bob")) << bob.log().constData();
    startAlice();

    // Ours: crypt echoes " CBC" in its answer.
    trigger(window(), QStringLiteral("Encrypt this chat"));
    ASSERT_TRUE(keyed(peer::FishMode::Cbc)) << bob.log().constData();
    EXPECT_TRUE(aliceKey().endsWith(' ' + bob.key("alice")));
    ASSERT_TRUE(say(*alice, "bob", QStringLiteral("hello znc")));
    EXPECT_TRUE(
        bob.waitForMessage(test::ZncCrypt::kDecryptedMark + QByteArray("alice"), "hello znc"))
        << bob.log().constData();
    ASSERT_TRUE(bob.say("alice", "hello Kivvo"));
    ASSERT_TRUE(aliceShows(QStringLiteral("<bob> hello Kivvo")));

    // Theirs: KeyX names no mode, so the exchange says ECB; crypt writes CBC all the same, and
    // the first line of it moves our side to CBC, the only mode crypt reads.
    const QByteArray before = aliceKey();
    alice->prompter->answers = {true};
    ASSERT_TRUE(bob.startKeyExchange("alice"));
    ASSERT_TRUE(waitFor([&] { return aliceKey() != before; }, 10000));
    EXPECT_TRUE(aliceKey().endsWith(' ' + bob.key("alice")));
    ASSERT_TRUE(bob.say("alice", "after keyx"));
    ASSERT_TRUE(aliceShows(QStringLiteral("<bob> after keyx")));
    EXPECT_TRUE(keyed(peer::FishMode::Cbc));
    ASSERT_TRUE(say(*alice, "bob", QStringLiteral("read me")));
    EXPECT_TRUE(bob.waitForMessage(test::ZncCrypt::kDecryptedMark + QByteArray("alice"), "read me"))
        << bob.log().constData();
}

TEST_F(FishPeerEndToEnd, HexchatFishlimTalksCbcAfterAnExchangeFromEitherSide)
{
    if (!test::haveFishHexchat())
        GTEST_SKIP() << "HexChat with fishlim and its python plugin is not installed (tools/test "
                        "installs it)";
    std::cout << test::FishHexchat::versions().constData() << std::endl;
    test::FishHexchat bob;
    ASSERT_TRUE(bob.start(server.port(), "bob")) << bob.log().constData();
    startAlice();

    // Ours: fishlim repeats " CBC" in its answer and marks what it shows with the mode it read.
    trigger(window(), QStringLiteral("Encrypt this chat"));
    ASSERT_TRUE(keyed(peer::FishMode::Cbc)) << bob.log().constData();
    EXPECT_TRUE(waitFor([&] { return aliceKey().endsWith(' ' + bob.key("alice")); }, 5000))
        << aliceKey().constData() << " / " << bob.key("alice").constData();
    ASSERT_TRUE(say(*alice, "bob", QStringLiteral("hello fishlim, caf\u00e9")));
    EXPECT_TRUE(bob.waitForText("alice", "[CBC] hello fishlim, caf\xc3\xa9"))
        << bob.log().constData();
    ASSERT_TRUE(bob.say("alice", "hello Kivvo"));
    ASSERT_TRUE(aliceShows(QStringLiteral("<bob> hello Kivvo"))) << bob.log().constData();

    // Theirs: /keyx asks for CBC and our answer repeats it, so fishlim keeps the new key in CBC.
    const QByteArray before = aliceKey();
    alice->prompter->answers = {true};
    ASSERT_TRUE(bob.startKeyExchange("alice"));
    ASSERT_TRUE(waitFor([&] { return aliceKey() != before; }, 10000)) << bob.log().constData();
    EXPECT_EQ(alice->prompter->questions.back().text, "bob wants to encrypt your chat");
    EXPECT_TRUE(waitFor([&] { return aliceKey().endsWith(' ' + bob.key("alice")); }, 5000))
        << aliceKey().constData() << " / " << bob.key("alice").constData();
    EXPECT_TRUE(keyed(peer::FishMode::Cbc));
    ASSERT_TRUE(bob.say("alice", "after keyx"));
    ASSERT_TRUE(aliceShows(QStringLiteral("<bob> after keyx"))) << bob.log().constData();
    ASSERT_TRUE(say(*alice, "bob", QStringLiteral("read me")));
    EXPECT_TRUE(bob.waitForText("alice", "[CBC] read me")) << bob.log().constData();
    EXPECT_FALSE(window()->viewText().contains(QStringLiteral("[not encrypted]")));
}

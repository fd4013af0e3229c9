// The verified mark of an encrypted chat against a server that holds the contact's key: the
// whole program, a scripted server and a scripted TLS peer that answers the server's forged
// private chat offers. Only a link whose certificate the two users compared vouches for a key.
#include "app/program.h"
#include "config/store.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/crypto/dh1080.h"
#include "peer/crypto/link_check.h"
#include "tests/support/connected_program.h"
#include "tests/support/tls_irc_server.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>

using test::waitFor;

namespace {

constexpr char kCheck[] = "\x01"
                          "FISHCHECK ";

class VerifiedMarkTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.contacts = {"bob", "[bob]"};
        connect(options);
        prompter = core->prompter;
    }
    // The server plays `nick` in a key exchange that alice accepts; the exchange's digest as the
    // server holds it.
    QByteArray exchangeAs(const QByteArray& nick)
    {
        const auto pair = peer::dh1080::makeKeyPair();
        EXPECT_TRUE(pair);
        if (!pair)
            return {};
        prompter->answers = {true};
        const peer::dh1080::KeyExchange init{peer::dh1080::Step::Init, pair->publicKey, true};
        server.send(":" + nick + "!b@h NOTICE alice :"
                    + peer::dh1080::keyExchangeText(init.step, init.publicKey, true) + "\r\n");
        const QByteArray start = "NOTICE " + nick + " :DH1080_FINISH ";
        EXPECT_TRUE(waitFor([&] { return server.received().contains(start); }));
        const QByteArray received = server.received();
        const qsizetype at = received.indexOf(start) + start.size() - 14;
        const auto finish =
            peer::dh1080::parseKeyExchange(received.mid(at, received.indexOf('\r', at) - at));
        EXPECT_TRUE(finish);
        EXPECT_TRUE(waitFor([&] { return core->program->fish().status(nick).keyed; }));
        return finish ? peer::dh1080::exchangeDigest(init, *finish) : QByteArray();
    }
    // A private chat offer "from `nick`" that the server forged, to `peer`, which the user
    // accepts; the chat once its link is up, or null.
    peer::ChatSession* forgedLink(test::TlsIrcServer& peer, const QByteArray& nick = "bob")
    {
        const int before = records().CountRecords();
        const int established = peer.established();
        prompter->answers = {true};
        server.send(":" + nick
                    + "!b@h PRIVMSG alice :\x01"
                      "DCC SCHAT chat 2130706433 "
                    + QByteArray::number(peer.port()) + "\x01\r\n");
        const auto up = [&] {
            return records().CountRecords() > before && peer.established() > established
                   && records().at(before)->tls != peer::LinkProtection::None;
        };
        return waitFor(up) ? records().at(before) : nullptr;
    }
    // Once `line` from the peer shows in `chat`, what the peer sent before it has been read.
    static bool peerSaid(test::TlsIrcServer& peer, const peer::ChatSession& chat,
                         const QByteArray& line)
    {
        peer.send(line + "\n");
        return waitFor([&] {
            return chat.window && chat.window->transcript().contains("<" + chat.nick + "> " + line);
        });
    }
    QString fishLabel(const QByteArray& nick) const
    {
        const peer::ChatWindow* window = core->chatWith(nick, false);
        return window ? window->protectionLabel()->text() : QString();
    }

    test::ScriptedPrompter* prompter = nullptr;
};

// The server intercepted the key exchange, then pins its own certificate as bob's through a
// forged offer. On a later link whatever check it sends, its own or one of ours sent back, the
// chat stays "not verified".
TEST_F(VerifiedMarkTest, AFirstSeenPinVouchesForNothingAndAnEchoedCheckFails)
{
    const QByteArray digest = exchangeAs("bob");
    test::TlsIrcServer mallory(test::kServerA);
    peer::ChatSession* first = forgedLink(mallory);
    ASSERT_TRUE(first);
    const auto pin = core->program->store().peerPinRecord("bob");
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->fingerprint, test::fingerprintOf(test::kServerA));
    EXPECT_EQ(pin->kind, config::PeerPinKind::FirstSeen);
    ASSERT_TRUE(first->window);
    EXPECT_EQ(first->window->protectionLabel()->text(), "TLS, certificate pinned, not compared");

    peer::ChatSession* second = forgedLink(mallory);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->tls, peer::LinkProtection::TlsPinned);
    ASSERT_TRUE(peerSaid(mallory, *second, "hi"));
    // The check a program on this link would send: mallory holds the digest and both
    // certificates too. Then every check that came from us goes back, and the one a check of
    // old was.
    mallory.send(kCheck + peer::linkCheckExpected(second->link->ends(), digest) + "\x01\n");
    const QByteArray sent = mallory.receivedByAll();
    for (qsizetype at = sent.indexOf(kCheck); at >= 0; at = sent.indexOf(kCheck, at + 1))
        mallory.send(sent.mid(at, sent.indexOf('\n', at) - at + 1));
    mallory.send(kCheck + digest.toHex() + "\x01\n");
    ASSERT_TRUE(peerSaid(mallory, *second, "done"));

    EXPECT_FALSE(core->program->fish().status("bob").verified);
    EXPECT_EQ(fishLabel("bob"), "Encrypted (FiSH CBC), key not verified");
    EXPECT_FALSE(second->window->transcript().contains("FISHCHECK"));
}

// The user compared the key by voice: a link that cannot vouch does not take that away.
TEST_F(VerifiedMarkTest, ACheckOnALinkThatCannotVouchDoesNotUnverify)
{
    exchangeAs("bob");
    core->program->fish().markVerified("bob");
    ASSERT_TRUE(core->program->fish().status("bob").verified);
    test::TlsIrcServer mallory(test::kServerA);
    ASSERT_TRUE(forgedLink(mallory));
    peer::ChatSession* second = forgedLink(mallory);
    ASSERT_TRUE(second);
    mallory.send(kCheck + QByteArray(64, '0') + "\x01\n");
    ASSERT_TRUE(peerSaid(mallory, *second, "done"));
    EXPECT_TRUE(core->program->fish().status("bob").verified);
    EXPECT_EQ(fishLabel("bob"), "Encrypted (FiSH CBC), verified");
}

// With bob's program on the other end, the users compare the link ("Compare..."), and from then
// on the programs compare the exchange by themselves, each check bound to its direction.
TEST_F(VerifiedMarkTest, AComparedLinkVouchesWithADirectionalCheck)
{
    const QByteArray digest = exchangeAs("bob");
    test::TlsIrcServer bob(test::kServerA);
    peer::ChatSession* chat = forgedLink(bob);
    ASSERT_TRUE(chat && chat->window);
    QAction* compare = chat->window->compareAction();
    ASSERT_TRUE(compare && compare->isEnabled());
    const peer::LinkEnds ends = chat->link->ends();
    EXPECT_EQ(ends.ownRole, peer::LinkRole::Connector);
    EXPECT_EQ(ends.peerFingerprint, test::fingerprintOf(test::kServerA));
    prompter->answers = {true};
    compare->trigger();
    ASSERT_FALSE(prompter->questions.empty());
    EXPECT_TRUE(prompter->questions.back().text.contains(
        peer::linkComparison(ends.peerFingerprint, ends.ownFingerprint)));
    EXPECT_EQ(core->program->store().peerPinRecord("bob")->kind, config::PeerPinKind::Compared);
    EXPECT_EQ(chat->window->protectionLabel()->text(), "TLS, certificate compared");

    // Ours goes out at once, for bob's program to take; his arrives.
    const QByteArray ours = kCheck + peer::linkCheckToSend(ends, digest) + "\x01\n";
    ASSERT_TRUE(waitFor([&] { return bob.receivedByAll().contains(ours); }));
    const peer::LinkEnds his{peer::LinkRole::Listener, ends.peerFingerprint, ends.ownFingerprint};
    bob.send(kCheck + peer::linkCheckToSend(his, digest) + "\x01\n");
    ASSERT_TRUE(waitFor([&] { return core->program->fish().status("bob").verified; }));
    EXPECT_EQ(fishLabel("bob"), "Encrypted (FiSH CBC), verified");

    // A later link to the compared pin vouches from its start.
    peer::ChatSession* next = forgedLink(bob);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->tls, peer::LinkProtection::TlsCompared);
}

// Keys and pins are kept under a folding the server's CASEMAPPING cannot change: a server that
// says ascii after rfc1459 loses neither [bob]'s key nor his pin.
TEST_F(VerifiedMarkTest, AnotherCaseMappingLosesNeitherKeyNorPin)
{
    server.send(":irc 005 alice CASEMAPPING=rfc1459 :are supported by this server\r\n");
    exchangeAs("[bob]");
    test::TlsIrcServer bob(test::kServerA);
    ASSERT_TRUE(forgedLink(bob, "[bob]"));
    ASSERT_TRUE(core->program->store().peerPin("{bob}"));

    server.send(":irc 005 alice CASEMAPPING=ascii :are supported by this server\r\n");
    ASSERT_TRUE(linesRead("ascii"));
    core->program->chats().openChat("[bob]");
    peer::ChatWindow* window = core->chatWith("[bob]", false);
    ASSERT_TRUE(window);
    window->input()->setText("the eagle lands");
    window->send();
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PRIVMSG [bob] :+OK "); }));
    EXPECT_FALSE(server.received().contains("the eagle lands"));
    EXPECT_EQ(fishLabel("[bob]"), "Encrypted (FiSH CBC), key not verified");

    // Another certificate as [bob]'s: refused, not taken as a first one.
    test::TlsIrcServer other(test::kServerB);
    const int before = records().CountRecords();
    prompter->answers = {true};
    server.send(":[bob]!b@h PRIVMSG alice :\x01"
                "DCC SCHAT chat 2130706433 "
                + QByteArray::number(other.port()) + "\x01\r\n");
    ASSERT_TRUE(waitFor([&] {
        return records().CountRecords() > before && records().at(before)->window
               && records().at(before)->window->transcript().contains(
                   "The certificate of [bob] has changed! Connection refused.");
    }));
    EXPECT_EQ(core->program->store().peerPin("{bob}"), test::fingerprintOf(test::kServerA));
    EXPECT_FALSE(core->program->store().peerPin("[bob]"));
}

} // namespace

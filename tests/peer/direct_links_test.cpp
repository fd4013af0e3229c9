// Private (TLS) links pinned per contact, and direct chats, on real loopback sockets: offers
// both ways, passive ones answered, and windows that come back for their link.
#include "peer/chat/chat_window.h"
#include "peer/link/peer_key_question.h"
#include "peer/transfer/transfer_window.h"
#include "tests/peer/links_fixture.h"
#include "tests/support/wait_for.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;
using peer::Transfer;
using test::randomBytes;
using test::waitFor;

namespace {

using DirectLinksTest = test::LinksTest;

// Two sides of private links, each with its own certificate and pins.
class PrivateLinks : public DirectLinksTest
{
protected:
    void SetUp() override { makePrivate(); }
    // Alice offers a file privately to bob, who takes it; alice accepts the certificate bob
    // connected with when her window asks (`asked` says whether it did). Bob's transfer once it
    // ended.
    const Transfer* sendPrivately(peer::Transfers& from, peer::Transfers& to,
                                  const QByteArray& data, bool* asked = nullptr)
    {
        const int index = to.count();
        offerPrivately(from, to, data);
        peer::TransferWindow* window = from.windowOf(from.at(from.count() - 1));
        EXPECT_TRUE(waitFor([&] { return finished(to, index) || window->peerKeyQuestion(); }));
        if (asked)
            *asked = window->peerKeyQuestion() != nullptr;
        if (window->peerKeyQuestion())
            window->peerKeyQuestion()->acceptButton()->click();
        EXPECT_TRUE(waitFor([&] { return finished(to, index); }));
        return to.count() > index ? to.at(index) : nullptr;
    }
};

TEST_F(PrivateLinks, FilesArePinnedOnFirstUseAndRefusedWhenTheCertificateChanges)
{
    peer::Transfers fromAlice(alice);
    peer::Transfers toBob(bob);
    const QByteArray data = randomBytes(5000);

    bool asked = false;
    const Transfer* first = sendPrivately(fromAlice, toBob, data, &asked);
    // Alice listened: whoever connected is bob only once she has said so. Bob reached the
    // address alice offered, and pinned her certificate at once.
    EXPECT_TRUE(asked);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status(), Transfer::Status::Complete);
    EXPECT_EQ(read(dir.filePath("got0.bin")), data);
    EXPECT_EQ(first->protection(), peer::LinkProtection::TlsNotYetVerified);
    EXPECT_EQ(first->peerFingerprint(), fingerprint(alice));
    EXPECT_EQ(bob.pins.value("alice"), fingerprint(alice));
    EXPECT_EQ(alice.pins.value("bob"), fingerprint(bob));
    EXPECT_EQ(bob.pinKinds.value("alice"), peer::PinKind::FirstSeen);
    EXPECT_EQ(alice.pinKinds.value("bob"), peer::PinKind::Accepted);
    EXPECT_TRUE(
        toBob.windowOf(first)->statusLabel()->text().contains("certificate pinned, not compared"));

    const Transfer* second = sendPrivately(fromAlice, toBob, data, &asked);
    EXPECT_FALSE(asked);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status(), Transfer::Status::Complete);
    EXPECT_EQ(second->protection(), peer::LinkProtection::TlsPinned);

    // Someone else now answers as alice.
    alice.identity = peer::makeTlsIdentity();
    const Transfer* third = sendPrivately(fromAlice, toBob, data);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status(), Transfer::Status::Stopped);
    ASSERT_TRUE(third->error());
    EXPECT_EQ(*third->error(), peer::TransferError::PeerRefused);
    EXPECT_EQ(peer::errorText(*third->error(), third->errorDetail()),
              "The certificate of alice has changed! Connection refused.");
    EXPECT_EQ(third->count(), 0u);
    // The pin stays what it was: a refusal never re-pins.
    EXPECT_EQ(bob.pins.value("alice"), first->peerFingerprint());
}

TEST_F(PrivateLinks, ChatWindowsSayWhichProtectionTheirLinkHas)
{
    peer::ChatSessions aliceChats(alice);
    peer::ChatSessions bobChats(bob);

    chatPrivately(aliceChats, bobChats);
    // Alice listened: she accepts the certificate bob connected with.
    ASSERT_TRUE(waitFor([&] { return questionIn(aliceChats) != nullptr; }));
    questionIn(aliceChats)->acceptButton()->click();
    const auto tlsUp = [](const peer::ChatSessions& chats) {
        return chats.records().CountRecords() > 0
               && chats.records().at(0)->tls != peer::LinkProtection::None;
    };
    ASSERT_TRUE(waitFor([&] { return tlsUp(aliceChats) && tlsUp(bobChats); }));

    peer::ChatWindow* bobWindow = bobChats.windowOf(*bobChats.records().at(0));
    peer::ChatWindow* aliceWindow = aliceChats.windowOf(*aliceChats.records().at(0));
    ASSERT_TRUE(bobWindow && aliceWindow);
    EXPECT_EQ(bobWindow->protectionLabel()->text(), "TLS, certificate pinned, not compared");
    EXPECT_EQ(aliceWindow->protectionLabel()->text(), "TLS, certificate pinned, not compared");
    EXPECT_TRUE(bobWindow->protectionLabel()->toolTip().contains(
        peer::displayFingerprint(fingerprint(alice))));
    EXPECT_TRUE(bobWindow->transcript().contains("certificate pinned, not compared"));

    // "Compare...": both windows show one string; a Yes on bob's side marks his pin compared.
    QString shown[2];
    QByteArray compared;
    QObject::connect(&aliceChats, &peer::ChatSessions::linkComparisonRequested,
                     [&](const QByteArray&, const QString& comparison, const QByteArray&,
                         QWidget*) { shown[0] = comparison; });
    QObject::connect(
        &bobChats, &peer::ChatSessions::linkComparisonRequested,
        [&](const QByteArray&, const QString& comparison, const QByteArray& fingerprint, QWidget*) {
            shown[1] = comparison;
            compared = fingerprint;
        });
    ASSERT_TRUE(aliceWindow->compareAction() && bobWindow->compareAction());
    EXPECT_TRUE(bobWindow->compareAction()->isEnabled());
    aliceWindow->compareAction()->trigger();
    bobWindow->compareAction()->trigger();
    EXPECT_FALSE(shown[0].isEmpty());
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(compared, fingerprint(alice));
    bobChats.linkCompared("alice", compared);
    EXPECT_EQ(bob.pinKinds.value("alice"), peer::PinKind::Compared);
    EXPECT_EQ(bobWindow->protectionLabel()->text(), "TLS, certificate compared");
    EXPECT_EQ(aliceWindow->protectionLabel()->text(), "TLS, certificate pinned, not compared");
    // Another certificate than the one pinned is not marked compared.
    bobChats.linkCompared("alice", QByteArray(64, 'e'));
    EXPECT_EQ(bob.pins.value("alice"), fingerprint(alice));

    bobWindow->input()->setText("over tls");
    bobWindow->send();
    ASSERT_TRUE(waitFor([&] { return aliceWindow->transcript().contains("over tls"); }));

    // The Blowfish chat stays for peers that speak only it, and says what it is.
    aliceChats.startChat("bob", peer::ChatMode::Encrypted);
    const auto blowfish = alice.lastOffer(DccKind::Chat);
    ASSERT_TRUE(blowfish);
    EXPECT_FALSE(blowfish->secure);
    bobChats.acceptOffer(*blowfish);
    ASSERT_TRUE(waitFor([&] {
        return bobChats.records().CountRecords() == 2 && bobChats.records().at(1)->keyInstalled;
    }));
    peer::ChatWindow* keyed = bobChats.windowOf(*bobChats.records().at(1));
    ASSERT_TRUE(keyed);
    EXPECT_EQ(keyed->protectionLabel()->text(), "Blowfish, key sent over link");
}

// The relayed chat said it waited for an acceptance that nobody had been asked for.
TEST_F(DirectLinksTest, OnlyADirectChatOfferSaysItWaitsForAcceptance)
{
    const struct
    {
        peer::ChatMode mode;
        QByteArray shown;
    } cases[] = {
        {peer::ChatMode::Relayed, ""},
        {peer::ChatMode::Direct, "Waiting for user to accept chat connection...\r\n"},
        {peer::ChatMode::Encrypted, "Waiting for user to accept chat connection...\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        peer::ChatSessions chats(alice);
        chats.startChat("bob", c.mode);
        ASSERT_EQ(chats.records().CountRecords(), 1);
        EXPECT_EQ(chats.windowOf(*chats.records().at(0))->transcript(), c.shown);
    }
}

// Bob writes again after alice closed the window of their direct chat.
TEST_F(DirectLinksTest, ADirectChatComesBackWithItsEarlierLines)
{
    peer::ChatSessions chats(alice);
    chats.startChat("bob", peer::ChatMode::Direct);
    const auto offer = alice.lastOffer(DccKind::Chat);
    ASSERT_TRUE(offer);
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, offer->port);
    ASSERT_TRUE(bob.waitForConnected(5000));
    bob.write("first\n");
    QPointer<peer::ChatWindow> window = chats.windowOf(*chats.records().at(0));
    ASSERT_TRUE(waitFor([&] { return window->transcript().contains("<bob> first"); }));
    window->close();
    ASSERT_TRUE(waitFor([&] { return window.isNull(); }));

    bob.write("second\n");
    ASSERT_TRUE(waitFor([&] { return chats.windowOf(*chats.records().at(0)) != nullptr; }));
    window = chats.windowOf(*chats.records().at(0));
    ASSERT_TRUE(waitFor([&] { return window->transcript().contains("<bob> second"); }));
    EXPECT_TRUE(window->transcript().startsWith(
        "Waiting for user to accept chat connection...\r\nConnection established.\r\n"
        "<bob> first\r\n"));
    EXPECT_TRUE(window->viewText().contains("<bob> first\n<bob> second\n"));
}

TEST_F(DirectLinksTest, PassiveChatsConnectBothWays)
{
    // Ours, passive: the peer listens and answers; we connect out.
    alice.passive = true;
    peer::ChatSessions chats(alice);
    chats.startChat("bob", peer::ChatMode::Direct);
    const auto offer = alice.lastOffer(DccKind::Chat);
    ASSERT_TRUE(offer && offer->passive());
    QTcpServer bob;
    ASSERT_TRUE(bob.listen(QHostAddress::LocalHost));
    DccOffer answer = DccOffer::active(DccKind::Chat, "bob", {}, 0x7F000001, bob.serverPort());
    answer.token = offer->token;
    ASSERT_TRUE(chats.answersOurOffer(answer));
    chats.takeAnswer(answer);
    ASSERT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
    bob.nextPendingConnection()->write("hello from bob\n");
    peer::ChatWindow* window = chats.windowOf(*chats.records().at(0));
    ASSERT_TRUE(window);
    ASSERT_TRUE(waitFor([&] { return window->transcript().contains("hello from bob"); }));

    // Theirs, passive: we listen and answer with the token.
    DccOffer theirs = DccOffer::active(DccKind::Chat, "carol", {}, 16843009, 0);
    theirs.token = "12";
    chats.acceptOffer(theirs);
    const auto ourAnswer = alice.lastOffer(DccKind::Chat);
    ASSERT_TRUE(ourAnswer);
    EXPECT_EQ(ourAnswer->token, "12");
    ASSERT_NE(ourAnswer->port, 0);
    QTcpSocket carol;
    carol.connectToHost(QHostAddress::LocalHost, ourAnswer->port);
    ASSERT_TRUE(carol.waitForConnected(5000));
    carol.write("hi from carol\n");
    peer::ChatWindow* carolWindow = chats.windowOf(*chats.records().at(1));
    ASSERT_TRUE(carolWindow);
    ASSERT_TRUE(waitFor([&] { return carolWindow->transcript().contains("hi from carol"); }));
    EXPECT_TRUE(carolWindow->transcript().contains("Connection established."));
}

} // namespace

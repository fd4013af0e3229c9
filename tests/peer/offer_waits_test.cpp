// How long our offers wait, and for whom: every listening socket expires and says so in its
// window, a TLS handshake that stalls is dropped on either side, and on a private link we
// listened for neither a stranger nor a certificate new to us gets anything before the user
// has accepted it. Real loopback sockets and short waits injected through the host.
#include "peer/chat/direct_chat_link.h"
#include "peer/transfer/transfer_window.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_window.h"
#include "tests/peer/links_fixture.h"
#include "tests/support/scripted_sound.h"
#include "tests/support/wait_for.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using irc::DccKind;
using peer::Transfer;
using test::waitFor;
using namespace std::chrono_literals;

namespace {

constexpr char kExpired[] = "No one connected within 1 second; the offer has expired.";

// Whether `port` on loopback no longer takes connections.
bool refusesConnections(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    waitFor([&] { return probe.state() != QAbstractSocket::ConnectingState; });
    if (probe.state() == QAbstractSocket::ConnectedState)
        return false;
    return probe.error() == QAbstractSocket::ConnectionRefusedError;
}

class OfferWaits : public test::LinksTest
{
protected:
    void SetUp() override
    {
        alice.timeouts.listen = 150ms;
        alice.timeouts.handshake = 200ms;
        bob.timeouts.handshake = 200ms;
    }
    // For the cases about what a finished handshake may carry: the short waits above would
    // otherwise end a handshake that a loaded (or sanitised) build takes longer over.
    void letHandshakesFinish()
    {
        alice.timeouts.listen = 1min;
        alice.timeouts.handshake = bob.timeouts.handshake = 30s;
    }
};

// One kind of offer of alice's, listening: the port, and what its window shows.
struct Listening
{
    std::shared_ptr<QObject> owner;
    quint16 port = 0;
    std::function<QString()> shown;
};

TEST_F(OfferWaits, EveryListeningSocketExpiresAndItsWindowSaysSo)
{
    test::ScriptedSound sound;
    const struct
    {
        const char* name;
        std::function<Listening()> start;
    } cases[] = {
        {"chat",
         [&] {
             auto chats = std::make_shared<peer::ChatSessions>(alice);
             chats->startChat("bob", peer::ChatMode::Direct);
             const auto offer = alice.lastOffer(DccKind::Chat);
             peer::ChatWindow* window = chats->windowOf(*chats->records().at(0));
             return Listening{chats, offer ? offer->port : quint16(0),
                              [window] { return QString::fromUtf8(window->transcript()); }};
         }},
        {"answer to a passive file offer",
         [&] {
             auto transfers = std::make_shared<peer::Transfers>(alice);
             irc::DccOffer theirs =
                 irc::DccOffer::active(DccKind::Send, "carol", "file.ext", 0x7F000001, 0);
             theirs.size = 4;
             theirs.token = "7";
             EXPECT_TRUE(transfers->receive(theirs, dir.filePath("answer.bin")));
             const auto answer = alice.lastOffer(DccKind::Send);
             peer::TransferWindow* window = transfers->windowOf(transfers->at(0));
             return Listening{transfers, answer ? answer->port : quint16(0),
                              [window] { return window->statusLabel()->text(); }};
         }},
        {"voice",
         [&] {
             auto voice = std::make_shared<peer::VoiceChats>(alice, sound);
             voice->start("bob");
             const auto offer = alice.lastOffer(DccKind::Voice);
             peer::VoiceWindow* window = voice->windowOf(voice->at(0));
             return Listening{voice, offer ? offer->port : quint16(0),
                              [window] { return window->statusText(); }};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Listening listening = c.start();
        ASSERT_NE(listening.port, 0);
        ASSERT_TRUE(waitFor([&] { return listening.shown().contains(kExpired); }))
            << listening.shown().toStdString();
        EXPECT_TRUE(refusesConnections(listening.port));
    }
}

// An offer of ours that bob never took up, whether he was to connect to us or to answer a
// passive one: the window said "Awaiting Connection..." for ever, with only "Cancel" to press.
TEST_F(OfferWaits, AnUnansweredFileOfferSaysSoAndItsWindowCloses)
{
    for (const bool passive : {false, true}) {
        SCOPED_TRACE(passive ? "passive" : "listening");
        alice.passive = passive;
        peer::Transfers transfers(alice);
        ASSERT_TRUE(transfers.offerFile("bob", write("unanswered.bin", "data")));
        const auto offer = alice.lastOffer(DccKind::Send);
        ASSERT_TRUE(offer);
        ASSERT_EQ(offer->passive(), passive);
        peer::TransferWindow* window = transfers.windowOf(transfers.at(0));
        ASSERT_TRUE(waitFor([&] { return transfers.at(0)->isFinished(); }));
        EXPECT_EQ(transfers.at(0)->error(), peer::TransferError::OfferExpired);
        EXPECT_EQ(window->statusLabel()->text(),
                  "No answer from bob within 1 second; the offer has expired.");
        EXPECT_EQ(window->windowTitle(), "File Transfer - unanswered.bin (Offer Expired)");
        EXPECT_EQ(window->button()->text(), "Close");
        EXPECT_TRUE(passive || refusesConnections(offer->port));
        // An answer that comes too late finds nothing waiting for it.
        irc::DccOffer late = *offer;
        late.sender = "bob";
        late.port = 5000;
        EXPECT_FALSE(transfers.answersOurOffer(late));

        QPointer<peer::TransferWindow> gone = window;
        window->button()->click();
        ASSERT_TRUE(waitFor([&] { return gone.isNull() && transfers.count() == 0; }));
    }
}

TEST(OfferTexts, NameTheWaitInWords)
{
    EXPECT_EQ(peer::offerExpiredText(3min),
              "No one connected within 3 minutes; the offer has expired.");
    EXPECT_EQ(peer::offerExpiredText(1min),
              "No one connected within 1 minute; the offer has expired.");
    EXPECT_EQ(peer::offerExpiredText(90s),
              "No one connected within 90 seconds; the offer has expired.");
    EXPECT_EQ(peer::offerUnansweredText("bob", 3min),
              "No answer from bob within 3 minutes; the offer has expired.");
    EXPECT_EQ(peer::handshakeTimedOutText("bob", 30s),
              "The private link with bob did not complete its handshake within 30 seconds.");
}

// Neither someone who never handshakes nor a stranger with another certificate takes over a
// private offer: each is dropped, and the offer waits on for its peer.
TEST_F(OfferWaits, StallersAndStrangersAreDroppedAndTheOfferWaitsOnForItsPeer)
{
    makePrivate();
    alice.timeouts.listen = 1min;
    alice.pins.insert("bob", fingerprint(bob));
    peer::Transfers fromAlice(alice);
    peer::Transfers toBob(bob);
    ASSERT_TRUE(fromAlice.offerFile("bob", write("private.bin", "for bob only")));
    const auto offer = alice.lastOffer(DccKind::Send, true);
    ASSERT_TRUE(offer);

    // Someone connects and never says a word.
    QTcpSocket staller;
    staller.connectToHost(QHostAddress::LocalHost, offer->port);
    ASSERT_TRUE(waitFor([&] { return staller.state() == QAbstractSocket::ConnectedState; }));
    ASSERT_TRUE(waitFor([&] { return staller.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(fromAlice.at(0)->status(), Transfer::Status::Awaiting);

    // A stranger with another certificate gets nothing.
    const std::optional<peer::TlsIdentity> mallory = peer::makeTlsIdentity();
    ASSERT_TRUE(mallory);
    QSslSocket stranger;
    stranger.setSslConfiguration(peer::directLinkTls(*mallory));
    QObject::connect(&stranger, &QSslSocket::sslErrors, &stranger,
                     [&](const QList<QSslError>&) { stranger.ignoreSslErrors(); });
    stranger.connectToHostEncrypted(QStringLiteral("127.0.0.1"), offer->port);
    ASSERT_TRUE(waitFor([&] { return stranger.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(stranger.bytesAvailable(), 0);
    EXPECT_EQ(fromAlice.at(0)->status(), Transfer::Status::Awaiting);

    // Another stalls while bob comes: bob is not kept waiting behind it.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, offer->port);
    ASSERT_TRUE(waitFor([&] { return second.state() == QAbstractSocket::ConnectedState; }));
    ASSERT_TRUE(toBob.receive(*offer, dir.filePath("got.bin")));
    ASSERT_TRUE(waitFor([&] { return toBob.at(0)->isFinished(); }));
    EXPECT_EQ(toBob.at(0)->status(), Transfer::Status::Complete);
    EXPECT_TRUE(waitFor([&] { return second.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(alice.pins.value("bob"), fingerprint(bob));
}

TEST_F(OfferWaits, APeerThatNeverHandshakesIsGivenUpOnTheConnectingSide)
{
    makePrivate();
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    peer::Transfers toBob(bob);
    irc::DccOffer offer =
        irc::DccOffer::active(DccKind::Send, "alice", "file.ext", 0x7F000001, silent.serverPort());
    offer.size = 10;
    offer.secure = true;
    ASSERT_TRUE(toBob.receive(offer, dir.filePath("got.bin")));
    ASSERT_TRUE(waitFor([&] { return toBob.at(0)->isFinished(); }));
    ASSERT_TRUE(toBob.at(0)->error());
    EXPECT_EQ(*toBob.at(0)->error(), peer::TransferError::PeerRefused);
    EXPECT_EQ(toBob.at(0)->errorDetail(),
              "The private link with alice did not complete its handshake within 1 second.");
}

// Bob offers a file passively: alice listens for him, and he connects and sends at once.
TEST_F(OfferWaits, ANewCertificateOnOurListenerCarriesNothingUntilAccepted)
{
    makePrivate();
    letHandshakesFinish();
    bob.passive = true;
    peer::Transfers fromBob(bob);
    peer::Transfers toAlice(alice);
    const QByteArray data(20000, 'x');
    ASSERT_TRUE(fromBob.offerFile("alice", write("passive.bin", data)));
    const auto offer = bob.lastOffer(DccKind::Send, true);
    ASSERT_TRUE(offer && offer->passive());
    const QString path = dir.filePath("got.bin");
    ASSERT_TRUE(toAlice.receive(*offer, path));
    const auto answer = alice.lastOffer(DccKind::Send, true);
    ASSERT_TRUE(answer && fromBob.answersOurOffer(*answer));
    fromBob.takeAnswer(*answer);

    peer::TransferWindow* window = toAlice.windowOf(toAlice.at(0));
    ASSERT_TRUE(waitFor([&] { return window->peerKeyQuestion() != nullptr; }));
    // Bob trusted alice at once: he reached the address she gave. His data waits at her socket.
    EXPECT_EQ(bob.pins.value("alice"), fingerprint(alice));
    auto* socket = toAlice.at(0)->findChild<QSslSocket*>();
    ASSERT_TRUE(socket);
    ASSERT_TRUE(waitFor([&] { return socket->bytesAvailable() > 0; }));
    EXPECT_EQ(toAlice.at(0)->count(), 0u);
    EXPECT_FALSE(alice.pins.contains("bob"));
    const QString question = window->peerKeyQuestion()->text()->text();
    EXPECT_TRUE(question.contains(peer::displayFingerprint(fingerprint(bob))));
    EXPECT_TRUE(question.contains(peer::displayFingerprint(fingerprint(alice))));
    EXPECT_EQ(window->peerKeyQuestion()->text()->textFormat(), Qt::PlainText);

    window->peerKeyQuestion()->acceptButton()->click();
    ASSERT_TRUE(waitFor([&] { return toAlice.at(0)->isFinished(); }));
    EXPECT_EQ(toAlice.at(0)->status(), Transfer::Status::Complete);
    EXPECT_EQ(alice.pins.value("bob"), fingerprint(bob));
    EXPECT_EQ(toAlice.at(0)->protection(), peer::LinkProtection::TlsNotYetVerified);
}

TEST_F(OfferWaits, ARefusedCertificateGetsNothingAndIsNotPinned)
{
    makePrivate();
    letHandshakesFinish();
    peer::Transfers fromAlice(alice);
    peer::Transfers toBob(bob);
    ASSERT_TRUE(offerPrivately(fromAlice, toBob, "for bob only"));
    peer::TransferWindow* window = fromAlice.windowOf(fromAlice.at(0));
    ASSERT_TRUE(waitFor([&] { return window->peerKeyQuestion() != nullptr; }));
    window->peerKeyQuestion()->refuseButton()->click();

    ASSERT_TRUE(
        waitFor([&] { return fromAlice.at(0)->isFinished() && toBob.at(0)->isFinished(); }));
    EXPECT_EQ(fromAlice.at(0)->status(), Transfer::Status::Stopped);
    EXPECT_EQ(window->statusLabel()->text(),
              "You refused the certificate of bob. Connection refused.");
    EXPECT_FALSE(alice.pins.contains("bob"));
    EXPECT_EQ(toBob.at(0)->status(), Transfer::Status::Stopped);
    EXPECT_EQ(toBob.at(0)->count(), 0u);
}

// A peer that left while the user was asked about it is not pinned either.
TEST_F(OfferWaits, AChatWeListenedForShowsNothingOfTheNewPeerUntilAccepted)
{
    makePrivate();
    letHandshakesFinish();
    for (const bool left : {false, true}) {
        SCOPED_TRACE(left ? "bob left" : "bob stays");
        alice.pins.clear();
        bob.pins.clear();
        peer::ChatSessions aliceChats(alice);
        peer::ChatSessions bobChats(bob);
        chatPrivately(aliceChats, bobChats);
        ASSERT_TRUE(waitFor([&] {
            return bobChats.records().CountRecords() == 1
                   && bobChats.records().at(0)->tls == peer::LinkProtection::TlsNotYetVerified;
        }));
        peer::ChatWindow* bobWindow = bobChats.windowOf(*bobChats.records().at(0));
        bobWindow->input()->setText("too early");
        bobWindow->send();

        ASSERT_TRUE(waitFor([&] { return questionIn(aliceChats) != nullptr; }));
        peer::ChatSession& chat = *aliceChats.records().at(0);
        auto* socket = chat.link->findChild<QSslSocket*>();
        ASSERT_TRUE(socket);
        if (left) {
            bobChats.records().at(0)->link->close();
            ASSERT_TRUE(
                waitFor([&] { return socket->state() == QAbstractSocket::UnconnectedState; }));
            questionIn(aliceChats)->acceptButton()->click();
            EXPECT_FALSE(alice.pins.contains("bob"));
            EXPECT_EQ(chat.tls, peer::LinkProtection::None);
            continue;
        }
        ASSERT_TRUE(waitFor([&] { return socket->bytesAvailable() > 0; }));
        peer::ChatWindow* aliceWindow = aliceChats.windowOf(chat);
        EXPECT_FALSE(aliceWindow->transcript().contains("too early"));
        EXPECT_EQ(chat.tls, peer::LinkProtection::None);
        EXPECT_FALSE(alice.pins.contains("bob"));

        questionIn(aliceChats)->acceptButton()->click();
        ASSERT_TRUE(waitFor([&] { return aliceWindow->transcript().contains("too early"); }));
        EXPECT_EQ(alice.pins.value("bob"), fingerprint(bob));
        EXPECT_EQ(chat.tls, peer::LinkProtection::TlsNotYetVerified);
    }
}

} // namespace

// Direct links as today's networks need them, on real loopback sockets and real files: passive
// offers both ways, resumed transfers both ways (hostile positions refused), files past 4 GiB
// with 4-byte and 8-byte acknowledgements, and private (TLS) links pinned per contact.
#include "peer/chat_sessions.h"
#include "peer/chat_window.h"
#include "peer/dcc_tls.h"
#include "peer/file_receiver.h"
#include "peer/peer_key_question.h"
#include "peer/transfer.h"
#include "peer/transfer_window.h"
#include "peer/transfers.h"
#include "tests/support/files.h"
#include "tests/support/offer_host.h"
#include "tests/support/transfer_acks.h"
#include "tests/support/wait_for.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;
using irc::DccResume;
using irc::DccResumeKind;
using peer::Transfer;
using test::ack;
using test::OfferHost;
using test::waitFor;

namespace {

constexpr quint64 k4GiB = quint64(1) << 32;

QByteArray randomBytes(qsizetype size, quint32 seed = 7)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : data)
        byte = char(generator.generate());
    return data;
}

QByteArray wideAck(quint64 count)
{
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[i] = char(count >> (56 - 8 * i));
    return bytes;
}

// The peer's side of a data connection that receives: reads `size` bytes and acknowledges each
// read with the total, counted from `start`, 4 or 8 bytes wide.
QByteArray receiveAll(QTcpSocket& socket, qint64 size, quint64 start = 0, bool wide = false)
{
    QByteArray got;
    while (got.size() < size
           && waitFor([&] { return socket.bytesAvailable() > 0 || !socket.isOpen(); })) {
        got += socket.readAll();
        const quint64 total = start + quint64(got.size());
        socket.write(wide ? wideAck(total) : ack(total));
    }
    return got;
}

// The peer's side of a data connection that sends: writes `data` in pieces and collects the
// acknowledgements; the newest one, or nothing.
std::optional<quint32> sendAll(QTcpSocket& socket, const QByteArray& data, quint64 start = 0)
{
    socket.write(data);
    const quint64 end = start + quint64(data.size());
    std::optional<quint32> newest;
    QByteArray acks;
    waitFor([&] {
        acks += socket.readAll();
        if (acks.size() >= 4) {
            const auto* b =
                reinterpret_cast<const uchar*>(acks.constData() + acks.size() / 4 * 4 - 4);
            newest = quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
        }
        return newest && *newest == quint32(end % k4GiB);
    });
    return newest;
}

DccResume resumeOf(DccResumeKind kind, const QByteArray& sender, quint16 port,
                   std::optional<quint64> position, const QByteArray& token = {})
{
    DccResume resume;
    resume.kind = kind;
    resume.sender = sender;
    resume.fileName = "file.ext";
    resume.port = port;
    resume.position = position;
    resume.token = token;
    return resume;
}

class DccLinksTest : public ::testing::Test
{
protected:
    QString write(const QString& name, const QByteArray& data)
    {
        return test::writeFile(dir, name, data);
    }
    static QByteArray read(const QString& path) { return test::readFile(path); }
    static bool finished(const peer::Transfers& transfers, int index)
    {
        return transfers.count() > index && transfers.at(index)->isFinished();
    }

    QTemporaryDir dir;
    OfferHost alice{"alice"};
};

TEST_F(DccLinksTest, PassiveSendConnectsOutToTheAnswerCarryingOurToken)
{
    alice.passive = true;
    peer::Transfers transfers(alice);
    const QByteArray data = randomBytes(3000);
    ASSERT_TRUE(transfers.offerFile("bob", write("out.bin", data)));
    const auto offer = alice.lastOffer(DccKind::Send);
    ASSERT_TRUE(offer);
    EXPECT_TRUE(offer->passive());
    EXPECT_TRUE(alice.sent.last().endsWith(" 0 3000 " + offer->token + '\x01'))
        << alice.sent.last().toStdString();

    QTcpServer bob;
    ASSERT_TRUE(bob.listen(QHostAddress::LocalHost));
    DccOffer answer =
        DccOffer::active(DccKind::Send, "bob", offer->fileName, 0x7F000001, bob.serverPort(), 3000);
    answer.token = offer->token;
    DccOffer wrongToken = answer;
    wrongToken.token += '1';
    DccOffer wrongNick = answer;
    wrongNick.sender = "carol";
    EXPECT_FALSE(transfers.answersOurOffer(wrongToken));
    EXPECT_FALSE(transfers.answersOurOffer(wrongNick));
    ASSERT_TRUE(transfers.answersOurOffer(answer));
    transfers.takeAnswer(answer);

    ASSERT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
    QTcpSocket* link = bob.nextPendingConnection();
    EXPECT_EQ(receiveAll(*link, 3000), data);
    ASSERT_TRUE(waitFor([&] { return finished(transfers, 0); }));
    EXPECT_EQ(transfers.at(0)->status(), Transfer::Status::Complete);
    // Taken: the same answer again connects nothing more.
    EXPECT_FALSE(transfers.answersOurOffer(answer));
}

TEST_F(DccLinksTest, PassiveOfferIsAnsweredWithOurPortAndItsTokenAndTheFileTakesItsName)
{
    peer::Transfers transfers(alice);
    DccOffer offer = DccOffer::active(DccKind::Send, "bob", "in.bin", 16843009, 0, 3000);
    offer.token = "77";
    const QString path = dir.filePath("in.bin");
    ASSERT_TRUE(transfers.receive(offer, path));
    const auto answer = alice.lastOffer(DccKind::Send);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->token, "77");
    EXPECT_EQ(answer->size, 3000u);
    EXPECT_EQ(answer->address, QHostAddress(0x7F000001u));
    ASSERT_NE(answer->port, 0);
    EXPECT_TRUE(QFile::exists(path + ".part"));

    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, answer->port);
    const QByteArray data = randomBytes(3000, 11);
    ASSERT_TRUE(bob.waitForConnected(5000));
    EXPECT_EQ(sendAll(bob, data), 3000u);
    ASSERT_TRUE(waitFor([&] { return finished(transfers, 0); }));
    EXPECT_EQ(transfers.at(0)->status(), Transfer::Status::Complete);
    EXPECT_EQ(read(path), data);
    EXPECT_FALSE(QFile::exists(path + ".part"));
}

TEST_F(DccLinksTest, ResumeOfOurOfferIsAcceptedOnlyWhereItFits)
{
    peer::Transfers transfers(alice);
    const QByteArray data = randomBytes(3000);
    ASSERT_TRUE(transfers.offerFile("bob", write("out.bin", data)));
    const quint16 port = alice.lastOffer(DccKind::Send)->port;
    const qsizetype offers = alice.sent.size();

    const struct
    {
        const char* why;
        DccResume resume;
    } refused[] = {
        {"not a number", resumeOf(DccResumeKind::Resume, "bob", port, std::nullopt)},
        {"past the end", resumeOf(DccResumeKind::Resume, "bob", port, 3001)},
        {"another port", resumeOf(DccResumeKind::Resume, "bob", quint16(port + 1), 100)},
        {"another nick", resumeOf(DccResumeKind::Resume, "carol", port, 100)},
        {"a token for an active offer", resumeOf(DccResumeKind::Resume, "bob", 0, 100, "5")},
    };
    for (const auto& c : refused) {
        transfers.takeResume(c.resume);
        EXPECT_EQ(alice.sent.size(), offers) << c.why;
    }

    transfers.takeResume(resumeOf(DccResumeKind::Resume, "bob", port, 1000));
    const auto accept = alice.lastResume(DccResumeKind::Accept);
    ASSERT_TRUE(accept);
    EXPECT_EQ(accept->port, port);
    EXPECT_EQ(accept->position, 1000u);

    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_EQ(receiveAll(bob, 2000, 1000), data.mid(1000));
    ASSERT_TRUE(waitFor([&] { return finished(transfers, 0); }));
    EXPECT_EQ(transfers.at(0)->status(), Transfer::Status::Complete);
    EXPECT_EQ(transfers.at(0)->count(), 3000u);
}

TEST_F(DccLinksTest, ResumedReceiveWaitsForTheRightAcceptAndAppends)
{
    const QByteArray data = randomBytes(3000, 5);
    const QString path = dir.filePath("in.bin");
    // What follows the resume position is not known to be the sender's and goes.
    write("in.bin.part", data.left(1200) + "not the sender's");
    QTcpServer bob;
    ASSERT_TRUE(bob.listen(QHostAddress::LocalHost));
    const DccOffer offer =
        DccOffer::active(DccKind::Send, "bob", "in.bin", 0x7F000001, bob.serverPort(), 3000);

    peer::Transfers transfers(alice);
    ASSERT_TRUE(transfers.receive(offer, path, 1200));
    const auto request = alice.lastResume(DccResumeKind::Resume);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->port, bob.serverPort());
    EXPECT_EQ(request->position, 1200u);

    transfers.takeResume(resumeOf(DccResumeKind::Accept, "bob", bob.serverPort(), 1000));
    transfers.takeResume(resumeOf(DccResumeKind::Accept, "carol", bob.serverPort(), 1200));
    EXPECT_FALSE(bob.waitForNewConnection(100));
    transfers.takeResume(resumeOf(DccResumeKind::Accept, "bob", bob.serverPort(), 1200));
    ASSERT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
    QTcpSocket* link = bob.nextPendingConnection();
    EXPECT_EQ(sendAll(*link, data.mid(1200), 1200), 3000u);
    ASSERT_TRUE(waitFor([&] { return finished(transfers, 0); }));
    EXPECT_EQ(transfers.at(0)->status(), Transfer::Status::Complete);
    EXPECT_EQ(read(path), data);
}

// A sparse file of 4 GiB and more: only its last few thousand bytes hold data, and only those
// travel, from a resume position just below 4 GiB, so that the counts cross the 32-bit wrap.
class PastFourGiB : public DccLinksTest
{
protected:
    static constexpr quint64 kSize = k4GiB + 3000;
    static constexpr quint64 kStart = k4GiB - 1000;

    QString sparse(const QString& name, quint64 size, const QByteArray& tail)
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_TRUE(file.resize(qint64(size)));
        EXPECT_TRUE(file.seek(qint64(size) - tail.size()));
        file.write(tail);
        return file.fileName();
    }
    QByteArray tailOf(const QString& path, qint64 length)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(file.size() - length))
            return "<unreadable>";
        return file.read(length);
    }
};

TEST_F(PastFourGiB, SendsWithFourByteAndEightByteAcknowledgements)
{
    const QByteArray tail = randomBytes(qsizetype(kSize - kStart), 3);
    const QString path = sparse("big.iso", kSize, tail);
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "8-byte acknowledgements" : "4-byte acknowledgements");
        peer::Transfers transfers(alice);
        ASSERT_TRUE(transfers.offerFile("bob", path));
        const auto offer = alice.lastOffer(DccKind::Send);
        ASSERT_TRUE(offer);
        EXPECT_EQ(offer->size, kSize);
        transfers.takeResume(resumeOf(DccResumeKind::Resume, "bob", offer->port, kStart));
        ASSERT_TRUE(alice.lastResume(DccResumeKind::Accept));
        QTcpSocket bob;
        bob.connectToHost(QHostAddress::LocalHost, offer->port);
        EXPECT_EQ(receiveAll(bob, tail.size(), kStart, wide), tail);
        ASSERT_TRUE(waitFor([&] { return finished(transfers, 0); }));
        EXPECT_EQ(transfers.at(0)->status(), Transfer::Status::Complete);
        EXPECT_EQ(transfers.at(0)->count(), kSize);
    }
}

TEST_F(PastFourGiB, ReceivesWithAcknowledgementsThatWrap)
{
    const QByteArray tail = randomBytes(qsizetype(kSize - kStart), 9);
    sparse("big.iso.part", kStart, {});
    QTcpServer bob;
    ASSERT_TRUE(bob.listen(QHostAddress::LocalHost));
    const DccOffer offer =
        DccOffer::active(DccKind::Send, "bob", "big.iso", 0x7F000001, bob.serverPort(), kSize);
    peer::Transfers transfers(alice);
    const QString path = dir.filePath("big.iso");
    ASSERT_TRUE(transfers.receive(offer, path, kStart));
    transfers.takeResume(resumeOf(DccResumeKind::Accept, "bob", bob.serverPort(), kStart));
    ASSERT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
    // The last acknowledgement names the whole size modulo 2^32.
    EXPECT_EQ(sendAll(*bob.nextPendingConnection(), tail, kStart), quint32(kSize % k4GiB));
    ASSERT_TRUE(waitFor([&] { return finished(transfers, 0); }));
    EXPECT_EQ(transfers.at(0)->status(), Transfer::Status::Complete);
    EXPECT_EQ(QFileInfo(path).size(), qint64(kSize));
    EXPECT_EQ(tailOf(path, tail.size()), tail);
}

// Two sides of private links, each with its own certificate and pins.
class PrivateLinks : public DccLinksTest
{
protected:
    void SetUp() override
    {
        alice.identity = peer::makeTlsIdentity();
        bob.identity = peer::makeTlsIdentity();
        ASSERT_TRUE(alice.identity && bob.identity);
        alice.privateOffers = true;
    }
    QByteArray fingerprint(const OfferHost& host)
    {
        return peer::certificateFingerprint(host.identity->certificate);
    }
    // Alice offers a file privately to bob, who takes it; alice accepts the certificate bob
    // connected with when her window asks (`asked` says whether it did). Bob's transfer once it
    // ended.
    const Transfer* sendPrivately(peer::Transfers& from, peer::Transfers& to,
                                  const QByteArray& data, bool* asked = nullptr)
    {
        const int index = to.count();
        EXPECT_TRUE(from.offerFile("bob", write("private.bin", data)));
        const auto offer = alice.lastOffer(DccKind::Send, true);
        EXPECT_TRUE(offer && offer->secure);
        EXPECT_TRUE(alice.sent.last().contains("DCC SSEND"));
        EXPECT_TRUE(to.receive(*offer, dir.filePath(QStringLiteral("got%1.bin").arg(index))));
        peer::TransferWindow* window = from.windowOf(from.at(from.count() - 1));
        EXPECT_TRUE(waitFor([&] { return finished(to, index) || window->peerKeyQuestion(); }));
        if (asked)
            *asked = window->peerKeyQuestion() != nullptr;
        if (window->peerKeyQuestion())
            window->peerKeyQuestion()->acceptButton()->click();
        EXPECT_TRUE(waitFor([&] { return finished(to, index); }));
        return to.count() > index ? to.at(index) : nullptr;
    }

    OfferHost bob{"bob"};
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
    EXPECT_TRUE(toBob.windowOf(first)->statusLabel()->text().contains("not yet verified"));

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

    aliceChats.startChat("bob", peer::ChatMode::Direct);
    const auto offer = alice.lastOffer(DccKind::Chat, true);
    ASSERT_TRUE(offer);
    EXPECT_TRUE(alice.sent.last().contains("DCC SCHAT chat "));
    bobChats.acceptOffer(*offer);
    // Alice listened: she accepts the certificate bob connected with.
    ASSERT_TRUE(waitFor([&] {
        return aliceChats.records().CountRecords() == 1
               && aliceChats.windowOf(*aliceChats.records().at(0))
                      ->findChild<peer::PeerKeyQuestion*>();
    }));
    aliceChats.windowOf(*aliceChats.records().at(0))
        ->findChild<peer::PeerKeyQuestion*>()
        ->acceptButton()
        ->click();
    const auto tlsUp = [](const peer::ChatSessions& chats) {
        return chats.records().CountRecords() > 0
               && chats.records().at(0)->tls != peer::LinkProtection::None;
    };
    ASSERT_TRUE(waitFor([&] { return tlsUp(aliceChats) && tlsUp(bobChats); }));

    peer::ChatWindow* bobWindow = bobChats.windowOf(*bobChats.records().at(0));
    peer::ChatWindow* aliceWindow = aliceChats.windowOf(*aliceChats.records().at(0));
    ASSERT_TRUE(bobWindow && aliceWindow);
    EXPECT_EQ(bobWindow->protectionLabel()->text(), "TLS, not yet verified");
    EXPECT_TRUE(bobWindow->protectionLabel()->toolTip().contains(
        peer::displayFingerprint(fingerprint(alice))));
    EXPECT_TRUE(bobWindow->transcript().contains("certificate not yet verified"));

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
TEST_F(DccLinksTest, OnlyADirectChatOfferSaysItWaitsForAcceptance)
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
TEST_F(DccLinksTest, ADirectChatComesBackWithItsEarlierLines)
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

TEST_F(DccLinksTest, PassiveChatsConnectBothWays)
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

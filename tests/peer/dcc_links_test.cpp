// File links as today's networks need them, on real loopback sockets and real files: passive
// offers both ways, resumed transfers both ways (hostile positions refused), and files past
// 4 GiB with 4-byte and 8-byte acknowledgements.
#include "tests/peer/links_fixture.h"
#include "tests/support/transfer_acks.h"
#include "tests/support/wait_for.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;
using irc::DccResume;
using irc::DccResumeKind;
using peer::Transfer;
using test::ack;
using test::randomBytes;
using test::waitFor;
using test::wideAck;

namespace {

constexpr quint64 k4GiB = quint64(1) << 32;

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
        if (acks.size() >= 4)
            newest = qFromBigEndian<quint32>(acks.constData() + acks.size() / 4 * 4 - 4);
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

using DccLinksTest = test::LinksTest;

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

// The peer answers under a spelling the server folds to the nick we offered to: once the server
// has said how it folds (here rfc1459, where [ is the capital of {), transfers and chats take the
// answer alike.
TEST_F(DccLinksTest, AnAnswerIsMatchedByTheServersCaseMapping)
{
    alice.passive = true;
    alice.nickRule.setCaseMapping(irc::CaseMapping::Rfc1459);
    peer::Transfers transfers(alice);
    ASSERT_TRUE(transfers.offerFile("{bob}", write("out.bin", "x")));
    auto answer = *alice.lastOffer(DccKind::Send);
    answer.sender = "[BOB]";
    answer.port = 4000;
    EXPECT_TRUE(transfers.answersOurOffer(answer));

    peer::ChatSessions chats(alice);
    chats.startChat("{bob}", peer::ChatMode::Direct);
    auto chatAnswer = *alice.lastOffer(DccKind::Chat);
    chatAnswer.sender = "[BOB]";
    chatAnswer.port = 4000;
    EXPECT_TRUE(chats.answersOurOffer(chatAnswer));

    alice.nickRule.setCaseMapping(irc::CaseMapping::Ascii);
    EXPECT_FALSE(transfers.answersOurOffer(answer));
    EXPECT_FALSE(chats.answersOurOffer(chatAnswer));
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
        {"another nick", resumeOf(DccResumeKind::Resume, "carol", port, 100)},
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
    // Neither connects, and the wait for the right one goes on.
    EXPECT_FALSE(
        waitFor([&] { return bob.hasPendingConnections() || finished(transfers, 0); }, 100));
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

} // namespace

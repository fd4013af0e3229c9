// irssi as a peer, against a real ngircd: its passive DCC SEND offer is taken by a plain socket
// client that listens and answers with its own address and port, the way the program does, and
// the file arrives with 4-byte acknowledgements. This holds the driver and the wire format up.
#include "tests/support/files.h"
#include "tests/support/irssi_client.h"
#include "tests/support/ngircd.h"
#include "tests/support/wait_for.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

using test::waitFor;

namespace {

// What follows "DCC SEND " in the first CTCP offer from `from` in `received`, split on spaces.
QList<QByteArray> sendOffer(const QByteArray& received, const QByteArray& from)
{
    for (const QByteArray& line : received.split('\n')) {
        const QByteArray marker = "PRIVMSG bob :\x01"
                                  "DCC SEND ";
        const qsizetype at = line.indexOf(marker);
        if (!line.startsWith(":" + from + "!") || at < 0)
            continue;
        QByteArray rest = line.mid(at + marker.size()).trimmed();
        if (rest.endsWith('\x01'))
            rest.chop(1);
        return rest.split(' ');
    }
    return {};
}

using IrssiPeer = test::NgircdTest;

TEST_F(IrssiPeer, passiveSendOfferIsAnsweredAndTheFileArrives)
{
    if (!test::haveIrssi())
        GTEST_SKIP() << "irssi is not installed";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());

    test::IrssiClient ivy;
    ASSERT_TRUE(ivy.start(folder.filePath("ivy"), server.port(), "ivy")) << ivy.log().constData();
    ASSERT_TRUE(waitFor([&] { return ivy.isRegistered(); }, 10000)) << ivy.log().constData();

    test::Watcher bob;
    ASSERT_TRUE(bob.connectTo(server.port(), "bob"));

    const QByteArray content = test::randomBytes(3000, 7);
    const QString path = test::writeFile(folder, "notes.bin", content);

    ASSERT_TRUE(ivy.run("/dcc send -passive bob " + QFile::encodeName(path)));
    QList<QByteArray> offer;
    ASSERT_TRUE(waitFor([&] {
        offer = sendOffer(bob.received(), "ivy");
        return !offer.isEmpty();
    })) << bob.received().constData()
        << ivy.log().constData();
    // name, address, port, size, token: a passive offer names no address of its own (irssi
    // puts 1.1.1.1 there) and port 0.
    ASSERT_EQ(offer.size(), 5) << offer.join(' ').constData();
    EXPECT_EQ(offer[0], "notes.bin");
    EXPECT_EQ(offer[1], "16843009");
    EXPECT_EQ(offer[2], "0");
    EXPECT_EQ(offer[3], QByteArray::number(content.size()));
    bool tokenIsNumber = false;
    offer[4].toUInt(&tokenIsNumber);
    EXPECT_TRUE(tokenIsNumber) << offer[4].constData();

    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    bob.send("PRIVMSG ivy :\x01"
             "DCC SEND "
             + offer[0] + " 2130706433 " + QByteArray::number(listener.serverPort()) + " "
             + offer[3] + " " + offer[4] + "\x01");
    ASSERT_TRUE(waitFor([&] { return listener.hasPendingConnections(); }, 5000))
        << ivy.log().constData();
    QTcpSocket* link = listener.nextPendingConnection();
    ASSERT_NE(link, nullptr);

    QByteArray received;
    ASSERT_TRUE(waitFor(
        [&] {
            const QByteArray chunk = link->readAll();
            if (!chunk.isEmpty()) {
                received += chunk;
                const quint32 total = qToBigEndian(quint32(received.size()));
                link->write(reinterpret_cast<const char*>(&total), sizeof total);
            }
            return received.size() >= content.size();
        },
        10000))
        << received.size() << " bytes\n"
        << ivy.log().constData();
    EXPECT_EQ(received, content);
    EXPECT_TRUE(waitFor([&] { return ivy.logContains("DCC sent file notes.bin"); }, 5000))
        << ivy.log().constData();
}

} // namespace

// The part file a received transfer is written to, on real files: who may read it, what it
// refuses to write through, and how it takes the destination's name.
#include "tests/peer/links_fixture.h"
#include "tests/support/transfer_acks.h"
#include "tests/support/wait_for.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using peer::Transfer;
using test::ack;
using test::modeOf;
using test::waitFor;

namespace {

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

using PartFileTest = test::LinksTest;

} // namespace

TEST_F(PartFileTest, ATransferThatNeverGotDataLeavesNoPart)
{
    const QString path = dir.filePath("never.bin");
    peer::FileReceiver receiver("alice", path, 3000);
    ASSERT_TRUE(receiver.open());
    QTcpServer alice;
    QTcpSocket* peerSide = connectReceiver(alice, receiver);
    ASSERT_TRUE(peerSide);
    peerSide->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return receiver.status() == Transfer::Status::Stopped; }));
    EXPECT_FALSE(QFile::exists(peer::FileReceiver::partPath(path)));
    EXPECT_TRUE(receiver.keptPart().isEmpty());
}

TEST_F(PartFileTest, APartIsTheUsersAloneUntilWholeThenAnOrdinaryFile)
{
    const QString path = dir.filePath("private.bin");
    peer::FileReceiver receiver("alice", path, 6);
    ASSERT_TRUE(receiver.open());
    QTcpServer alice;
    QTcpSocket* peerSide = connectReceiver(alice, receiver);
    ASSERT_TRUE(peerSide);
    peerSide->write("abc");
    EXPECT_EQ(readFrom(*peerSide, 4), ack(3));
    EXPECT_EQ(modeOf(peer::FileReceiver::partPath(path)), 0600);
    peerSide->write("def");
    ASSERT_TRUE(waitFor([&] { return receiver.status() == Transfer::Status::Complete; }));
    EXPECT_EQ(read(path), "abcdef");
    EXPECT_EQ(modeOf(path), 0666 & ~currentUmask());
}

// A link planted under the part's name once made the receiver write through it into whatever
// it pointed at, and a fresh transfer truncated that file first.
TEST_F(PartFileTest, APartNeverWritesThroughALinkUnderItsName)
{
    for (const quint64 start : {quint64(0), quint64(3)}) {
        SCOPED_TRACE(start == 0 ? "afresh" : "resumed");
        const QString victim = write("victim.txt", "precious contents");
        const QString path = dir.filePath("linked.bin");
        const QString part = peer::FileReceiver::partPath(path);
        QFile::remove(part);
        ASSERT_TRUE(QFile::link(victim, part));
        peer::FileReceiver receiver("alice", path, 100);
        EXPECT_FALSE(receiver.open(start));
        ASSERT_TRUE(receiver.openFailure());
        EXPECT_EQ(receiver.openFailure()->error, peer::TransferError::DestinationNotAFile);
        EXPECT_EQ(receiver.openFailure()->detail, part);
        EXPECT_EQ(read(victim), "precious contents");
        EXPECT_TRUE(QFileInfo(part).isSymLink());
    }
}

// A destination that was a device or a pipe was written directly; a folder failed without
// saying why.
TEST_F(PartFileTest, ADestinationThatIsNoRegularFileIsRefusedWithItsName)
{
    const QString fifo = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A reader, so that a writer's open of the pipe would not wait for one.
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    QDir(dir.path()).mkdir("folder");
    const QString target = write("target.txt", "t");
    const QString link = dir.filePath("link.txt");
    ASSERT_TRUE(QFile::link(target, link));
    const QString destinations[] = {fifo, "/dev/null", dir.filePath("folder"), link};
    peer::Transfers transfers(alice);
    std::vector<std::pair<peer::TransferError, QString>> failures;
    QObject::connect(&transfers, &peer::Transfers::failed,
                     [&](peer::TransferError error, const QString& detail) {
                         failures.emplace_back(error, detail);
                     });
    const auto offer = irc::DccOffer::active(irc::DccKind::Send, "bob", "x", 0x7F000001, 4000, 10);
    for (const QString& destination : destinations) {
        SCOPED_TRACE(destination.toStdString());
        failures.clear();
        EXPECT_FALSE(transfers.receive(offer, destination));
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].first, peer::TransferError::DestinationNotAFile);
        EXPECT_EQ(failures[0].second, destination);
        EXPECT_FALSE(QFile::exists(peer::FileReceiver::partPath(destination)));
    }
    EXPECT_EQ(transfers.count(), 0);
    EXPECT_TRUE(alice.sent.isEmpty());
    EXPECT_EQ(read(target), "t");
    ::close(reader);
    EXPECT_TRUE(peer::errorText(peer::TransferError::DestinationNotAFile, fifo)
                    .contains("not a regular file"));
}

// An offered name cut to 255 bytes left no room for ".part", and the file could not be received.
TEST_F(PartFileTest, TheLongestNameOfferedStillHasRoomForItsPart)
{
    const auto name = irc::SafeFileName(QByteArray(300, 'n'));
    ASSERT_TRUE(name);
    peer::FileReceiver receiver("alice", dir.filePath(QString::fromUtf8(*name)), 10);
    EXPECT_TRUE(receiver.open());
}

// The old file was removed before the part was renamed: a rename that failed then lost both.
TEST_F(PartFileTest, TheOldFileStaysUntilTheNewOneTakesItsNameInOneStep)
{
    const QString path = write("kept.txt", "the old file");
    peer::FileReceiver receiver("alice", path, 6);
    ASSERT_TRUE(receiver.open());
    QTcpServer alice;
    QTcpSocket* peerSide = connectReceiver(alice, receiver);
    ASSERT_TRUE(peerSide);
    peerSide->write("abc");
    EXPECT_EQ(readFrom(*peerSide, 4), ack(3));
    EXPECT_EQ(read(path), "the old file");
    // The part goes from under the transfer, so that the last step, the rename, fails.
    ASSERT_TRUE(QFile::remove(peer::FileReceiver::partPath(path)));
    peerSide->write("def");
    ASSERT_TRUE(waitFor([&] { return receiver.isFinished(); }));
    EXPECT_EQ(receiver.error(), peer::TransferError::RenameFailed);
    EXPECT_EQ(read(path), "the old file");
}

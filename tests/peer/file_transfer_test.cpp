// File transfers on real loopback sockets and real files: our sender and receiver against
// scripted peers that hold the other end, and against each other in both modes.
#include "peer/transfer/file_sender.h"
#include "peer/transfer/transfer_window.h"
#include "tests/peer/links_fixture.h"
#include "tests/support/files.h"
#include "tests/support/transfer_acks.h"
#include "tests/support/wait_for.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using peer::Transfer;
using test::ack;
using test::FileSizeLimit;
using test::waitFor;

namespace {

QByteArray randomBytes(qsizetype size)
{
    return test::randomBytes(size, quint32(size));
}

// The labels of `window` that show a text it cannot show whole at its size: a text that does not
// wrap where it is wider than its label, a wrapped one whose lines need more height than its
// label has, or a label that reaches past the window's edge.
QStringList cutTexts(QWidget& window)
{
    QApplication::processEvents();
    QStringList cut;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&window) || label->text().isEmpty())
            continue;
        const QRect in(label->mapTo(&window, QPoint(0, 0)), label->size());
        const bool whole = label->wordWrap()
                               ? label->height() >= label->heightForWidth(label->width())
                               : label->width() >= label->sizeHint().width();
        if (!whole || !window.rect().contains(in))
            cut << label->text();
    }
    return cut;
}

class FileTransferTest : public test::LinksTest
{
protected:
    // Our sender of `data`, with a scripted receiver connected to it.
    std::unique_ptr<peer::FileSender> sendTo(QTcpSocket& peerSide, const QByteArray& data)
    {
        auto sender = std::make_unique<peer::FileSender>("bob", write("out.bin", data), false);
        EXPECT_TRUE(sender->open());
        const auto port = sender->listen({0});
        peerSide.connectToHost(QHostAddress::LocalHost, *port);
        EXPECT_TRUE(waitFor(
            [&] { return sender->status() == Transfer::Status::Running || sender->isFinished(); }));
        return sender;
    }
    // Nothing more arrives while the sender waits for an acknowledgement.
    static bool staysQuiet(QTcpSocket& socket)
    {
        waitFor([] { return false; }, 50);
        return socket.bytesAvailable() == 0;
    }
};

} // namespace

// The window showed neither which file it was about nor, short of a relabelled button, that it
// had all gone.
TEST_F(FileTransferTest, SendsBlockByBlockAndTheWindowNamesTheFileAndSaysWhenItIsComplete)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QByteArray data = randomBytes(2500);
    QTcpSocket bob;
    auto sender = sendTo(bob, data);
    peer::TransferWindow window(*sender);
    EXPECT_EQ(window.windowTitle(), "File Transfer - out.bin (Awaiting Connection...)");
    EXPECT_EQ(window.fileLabel()->text(), "File: out.bin");
    EXPECT_EQ(window.sizeLabel()->text(), "Size: 2.5 kB (2,500 bytes)");
    EXPECT_FALSE(window.statusLabel()->isVisibleTo(&window));
    for (QLabel* label : window.findChildren<QLabel*>()) // file names and peer text as they are
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    // How acknowledgements pace the blocks is the pump's test; here, that they do on real sockets.
    EXPECT_EQ(readFrom(bob, 1024), data.left(1024));
    EXPECT_TRUE(staysQuiet(bob));
    bob.write(ack(1024));
    EXPECT_EQ(readFrom(bob, 1024), data.mid(1024, 1024));
    bob.write(ack(2048));
    EXPECT_EQ(readFrom(bob, 452), data.mid(2048));
    EXPECT_TRUE(staysQuiet(bob));
    bob.write(ack(2500));
    ASSERT_TRUE(waitFor([&] { return sender->status() == Transfer::Status::Complete; }));
    // The sender closes its end once everything is acknowledged.
    EXPECT_TRUE(waitFor([&] { return bob.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(window.button()->text(), "Close");
    EXPECT_EQ(window.progressBar()->value(), 100);
    EXPECT_EQ(window.statusLabel()->text(), "Transfer complete.");
    EXPECT_TRUE(window.statusLabel()->isVisibleTo(&window));
    EXPECT_EQ(window.windowTitle(), "File Transfer - out.bin (Complete)");
    // The old texts keep their plain numbers.
    EXPECT_EQ(window.transferredLabel()->text(), "Transferred: 2500 bytes");
    EXPECT_TRUE(window.elapsedLabel()->text().startsWith("Time Elapsed: 0 hrs 0 mins "));
    QLocale::setDefault(saved);
}

TEST_F(FileTransferTest, SenderStopsOnWhatNoHonestReceiverDoes)
{
    const struct
    {
        const char* why;
        QByteArray reply; // empty: the peer closes instead
        peer::TransferError error;
    } cases[] = {
        {"acknowledges more than was sent", ack(1025), peer::TransferError::BeyondSent},
        {"closes half way", {}, peer::TransferError::PeerClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        QTcpSocket bob;
        auto sender = sendTo(bob, randomBytes(3000));
        peer::TransferWindow window(*sender);
        readFrom(bob, 1024);
        if (c.reply.isEmpty())
            bob.disconnectFromHost();
        else
            bob.write(c.reply);
        ASSERT_TRUE(waitFor([&] { return sender->status() == Transfer::Status::Stopped; }));
        EXPECT_EQ(sender->error(), c.error);
        EXPECT_EQ(window.button()->text(), "Cancel"); // never "Close" as if complete
        EXPECT_TRUE(window.statusLabel()->isVisibleTo(&window));
        EXPECT_EQ(window.statusLabel()->text(), peer::errorText(c.error));
    }
}

TEST_F(FileTransferTest, ReceiverStoresOnlyTheOfferedSizeAndAcknowledgesEachRead)
{
    const QByteArray data = randomBytes(3000);
    // Something was there before: it is replaced, never appended to.
    const QString path = write("in.bin", "old contents that must go");
    peer::FileReceiver receiver("alice", path, 3000);
    ASSERT_TRUE(receiver.open());
    QTcpServer alice;
    QTcpSocket* peerSide = connectReceiver(alice, receiver);
    ASSERT_TRUE(peerSide);
    peerSide->write(data.left(1000));
    EXPECT_EQ(readFrom(*peerSide, 4), ack(1000));
    peerSide->write(data.mid(1000) + "and then some"); // more than offered
    ASSERT_TRUE(waitFor([&] { return receiver.status() == Transfer::Status::Complete; }));
    EXPECT_EQ(read(path), data);
    EXPECT_TRUE(waitFor([&] { return peerSide->bytesAvailable() >= 4; }));
    QByteArray acks = peerSide->readAll();
    EXPECT_EQ(acks.right(4), ack(3000));
    // The receiver closes once the count reaches the size.
    EXPECT_TRUE(waitFor([&] { return peerSide->state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(FileTransferTest, ReceiverThatEndsShortKeepsWhatArrivedAndSaysSo)
{
    const struct
    {
        const char* why;
        peer::TransferError error;
        QByteArray kept;
    } cases[] = {
        {"the sender closes early", peer::TransferError::PeerClosed, "first part"},
        // The disk is full: nothing is acknowledged that was not stored.
        {"the disk is full", peer::TransferError::WriteFailed, "firs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const QString path = dir.filePath("a rather long name for the holiday photographs.zip");
        const QString part = peer::FileReceiver::partPath(path);
        QFile::remove(part);
        peer::FileReceiver receiver("alice", path, 3000);
        ASSERT_TRUE(receiver.open());
        peer::TransferWindow window(receiver);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTcpServer alice;
        QTcpSocket* peerSide = connectReceiver(alice, receiver);
        ASSERT_TRUE(peerSide);
        std::optional<FileSizeLimit> full;
        if (c.error == peer::TransferError::WriteFailed)
            full.emplace(c.kept.size());
        peerSide->write("first part");
        if (c.error == peer::TransferError::PeerClosed) {
            readFrom(*peerSide, 4);
            peerSide->disconnectFromHost();
        }
        ASSERT_TRUE(waitFor([&] { return receiver.status() == Transfer::Status::Stopped; }));
        full.reset();
        EXPECT_EQ(receiver.error(), c.error);
        EXPECT_EQ(window.button()->text(), "Cancel");
        EXPECT_TRUE(window.statusLabel()->text().startsWith(peer::errorText(c.error).left(20)));
        // Kept under the part name, to be resumed, and the window says where.
        EXPECT_EQ(read(part), c.kept);
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_EQ(receiver.keptPart(), part);
        EXPECT_TRUE(
            window.statusLabel()->text().endsWith("What arrived is kept in \"" + part + "\"."))
            << window.statusLabel()->text().toStdString();
        // The reason and where the part is took two and three lines in a window sized for none.
        EXPECT_EQ(cutTexts(window), QStringList());
        if (c.error == peer::TransferError::WriteFailed) {
            waitFor([] { return false; }, 50);
            EXPECT_EQ(peerSide->bytesAvailable(), 0);
        }
    }
}

TEST_F(FileTransferTest, AReceivingTransferThatStopsShortSaysWhereItsPartIs)
{
    QTcpServer bob;
    ASSERT_TRUE(bob.listen(QHostAddress::LocalHost, 0));
    peer::Transfers transfers(alice);
    std::vector<QStringList> stopped;
    QObject::connect(&transfers, &peer::Transfers::transferStoppedShort,
                     [&](const QByteArray& peer, const QString& name, const QString& part) {
                         stopped.push_back({QString::fromUtf8(peer), name, part});
                     });
    const QString path = dir.filePath("short.bin");
    const auto offer = irc::DccOffer::active(irc::DccKind::Send, "bob", "short.bin", 0x7F000001,
                                             bob.serverPort(), 10);
    ASSERT_TRUE(transfers.receive(offer, path));
    ASSERT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
    QTcpSocket* peerSide = bob.nextPendingConnection();
    peerSide->write("half");
    EXPECT_EQ(readFrom(*peerSide, 4), ack(4));
    peerSide->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return !stopped.empty(); }));
    EXPECT_EQ(stopped, (std::vector<QStringList>{{"bob", "short.bin", path + ".part"}}));

    // The user's own cancel is no news to the user.
    ASSERT_TRUE(transfers.receive(offer, dir.filePath("other.bin")));
    transfers.at(1)->cancel();
    EXPECT_EQ(stopped.size(), 1u);
}

// A part as long as the offer is no place to resume from: the transfer starts afresh, without
// asking the sender to resume at the very end.
TEST_F(FileTransferTest, APartAsLongAsTheOfferIsNotResumedFrom)
{
    QTcpServer bob;
    ASSERT_TRUE(bob.listen(QHostAddress::LocalHost));
    write("whole.bin.part", randomBytes(3000));
    const auto offer = irc::DccOffer::active(irc::DccKind::Send, "bob", "whole.bin", 0x7F000001,
                                             bob.serverPort(), 3000);
    peer::Transfers transfers(alice);
    ASSERT_TRUE(transfers.receive(offer, dir.filePath("whole.bin"), 3000));
    EXPECT_FALSE(alice.lastResume(irc::DccResumeKind::Resume));
    EXPECT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
}

TEST_F(FileTransferTest, TwoSidesTransferFilesByteExactlyInBothModes)
{
    for (const bool fast : {false, true}) {
        for (const qsizetype size : {0, 1, 1024, 1025, 3 * 1024 * 1024 + 7}) {
            SCOPED_TRACE((fast ? "fast " : "default ") + std::to_string(size));
            const QByteArray data = randomBytes(size);
            test::ScriptedHost host;
            peer::Transfers sending(host);
            peer::Transfers receiving(host);
            sending.setFastSend(fast);
            const QString source = write("source.bin", data);
            ASSERT_TRUE(sending.offerFile("bob", source));
            ASSERT_EQ(host.sent.size(), 1);
            const auto offer =
                test::ScriptedHost::readOffer(irc::DccKind::Send, "alice", host.sent.front());
            ASSERT_TRUE(offer);
            EXPECT_EQ(offer->fileName, "source.bin");
            EXPECT_EQ(offer->size, quint64(size));
            const QString target = dir.filePath("target.bin");
            ASSERT_TRUE(receiving.receive(*offer, target));
            ASSERT_TRUE(waitFor(
                [&] { return sending.at(0)->isFinished() && receiving.at(0)->isFinished(); },
                20000));
            EXPECT_EQ(sending.at(0)->status(), Transfer::Status::Complete);
            EXPECT_EQ(receiving.at(0)->status(), Transfer::Status::Complete);
            EXPECT_EQ(read(target), data);
            for (peer::Transfers* side : {&sending, &receiving}) {
                peer::TransferWindow* window = side->windowOf(side->at(0));
                ASSERT_NE(window, nullptr);
                EXPECT_EQ(window->button()->text(), "Close");
                if (size > 0) {
                    EXPECT_EQ(window->transferredLabel()->text(),
                              QStringLiteral("Transferred: %1 bytes").arg(size));
                    EXPECT_EQ(window->progressBar()->value(), 100);
                }
            }
        }
    }
}

TEST_F(FileTransferTest, OffersRefuseWhatCannotBeSentOrStored)
{
    peer::Transfers transfers(alice);
    std::vector<peer::TransferError> errors;
    QObject::connect(&transfers, &peer::Transfers::failed,
                     [&](peer::TransferError error) { errors.push_back(error); });
    EXPECT_FALSE(transfers.offerFile("bob", dir.filePath("missing.bin")));
    EXPECT_FALSE(transfers.offerFile("bob", dir.path())); // a folder
    const auto offer = irc::DccOffer::active(irc::DccKind::Send, "bob", "x", 0x7F000001, 4000, 10);
    EXPECT_FALSE(transfers.receive(offer, dir.filePath("no/such/folder/x")));
    EXPECT_EQ(errors, (std::vector<peer::TransferError>{peer::TransferError::FileUnreadable,
                                                        peer::TransferError::FileUnreadable,
                                                        peer::TransferError::DestinationFailed}));
    EXPECT_TRUE(alice.sent.isEmpty());
    EXPECT_EQ(transfers.count(), 0);
}

TEST_F(FileTransferTest, CancelStopsTheTransferAndDismissingRemovesIt)
{
    peer::Transfers transfers(alice);
    ASSERT_TRUE(transfers.offerFile("bob", write("f.bin", randomBytes(5000))));
    peer::TransferWindow* window = transfers.windowOf(transfers.at(0));
    QPointer<Transfer> transfer = transfers.at(0);
    window->button()->click();
    EXPECT_EQ(transfer->status(), Transfer::Status::Stopped);
    ASSERT_TRUE(waitFor([&] { return transfers.count() == 0; }));
    EXPECT_TRUE(transfer.isNull());
}

// The data flows on the transfers' own thread; however a transfer ends there, both sides say so,
// the receiver keeps exactly what it acknowledged, and nothing is left running.
TEST_F(FileTransferTest, TransfersOnTheDataThreadEndCleanlyHoweverTheyEnd)
{
    enum class End { CancelSending, CancelReceiving, CloseSendingSide, FullDisk };
    const struct
    {
        const char* why;
        End end;
        bool fast;
        peer::TransferError sendingError;
        peer::TransferError receivingError;
    } cases[] = {
        {"the sender cancels from its window", End::CancelSending, false,
         peer::TransferError::Cancelled, peer::TransferError::PeerClosed},
        {"the receiver cancels from its window", End::CancelReceiving, false,
         peer::TransferError::PeerClosed, peer::TransferError::Cancelled},
        {"the sending program closes",
         End::CloseSendingSide,
         false,
         {},
         peer::TransferError::PeerClosed},
        {"the receiver's disk is full", End::FullDisk, true, peer::TransferError::PeerClosed,
         peer::TransferError::WriteFailed},
    };
    const QByteArray data = randomBytes(16 * 1024 * 1024 + 3);
    const QString source = write("big.bin", data);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        test::ScriptedHost host;
        auto sending = std::make_unique<peer::Transfers>(host);
        peer::Transfers receiving(host);
        sending->setFastSend(c.fast);
        ASSERT_TRUE(sending->offerFile("bob", source));
        const auto offer =
            test::ScriptedHost::readOffer(irc::DccKind::Send, "alice", host.sent.front());
        ASSERT_TRUE(offer);
        const QString target = dir.filePath("big-in.bin");
        std::optional<FileSizeLimit> full;
        if (c.end == End::FullDisk)
            full.emplace(1024 * 1024);
        ASSERT_TRUE(receiving.receive(*offer, target));
        QPointer<Transfer> receiver = receiving.at(0);
        QPointer<Transfer> sender = sending->at(0);
        if (c.end != End::FullDisk) {
            ASSERT_TRUE(waitFor([&] { return receiver->count() > 0; }, 20000));
            ASSERT_EQ(receiver->status(), Transfer::Status::Running);
        }
        // The window's button cancels, then the window goes and takes its transfer with it.
        const auto click = [](peer::Transfers& side, Transfer* transfer) {
            side.windowOf(transfer)->button()->click();
            EXPECT_EQ(transfer->status(), Transfer::Status::Stopped);
            EXPECT_EQ(transfer->error(), peer::TransferError::Cancelled);
        };
        switch (c.end) {
        case End::CancelSending:
            click(*sending, sender);
            break;
        case End::CancelReceiving:
            click(receiving, receiver);
            break;
        case End::CloseSendingSide:
            sending.reset();
            EXPECT_TRUE(sender.isNull());
            break;
        case End::FullDisk:
            break;
        }
        const auto over = [](const QPointer<Transfer>& transfer) {
            return transfer.isNull() || transfer->isFinished();
        };
        ASSERT_TRUE(waitFor([&] { return over(receiver) && over(sender); }, 20000));
        full.reset();
        for (const auto& [transfer, error] :
             {std::pair{sender, c.sendingError}, std::pair{receiver, c.receivingError}}) {
            if (transfer && error != peer::TransferError::Cancelled) {
                EXPECT_EQ(transfer->status(), Transfer::Status::Stopped);
                EXPECT_EQ(transfer->error(), error);
            }
        }
        // Nothing lost, nothing made up: the part holds the first bytes of the file, at least
        // as many as the window last said.
        const QByteArray kept = read(peer::FileReceiver::partPath(target));
        if (receiver) {
            EXPECT_GE(quint64(kept.size()), receiver->count());
        }
        EXPECT_LT(kept.size(), data.size());
        EXPECT_TRUE(kept == data.left(kept.size()));
        EXPECT_FALSE(QFile::exists(target));
        QFile::remove(peer::FileReceiver::partPath(target));
    }
}

TEST_F(FileTransferTest, SeveralTransfersAtOnceShareTheDataThreadByteExactly)
{
    test::ScriptedHost host;
    peer::Transfers sending(host);
    peer::Transfers receiving(host);
    std::vector<QByteArray> files;
    for (int i = 0; i < 6; ++i) {
        files.push_back(test::randomBytes(2 * 1024 * 1024 + i * 333, quint32(100 + i)));
        sending.setFastSend(i % 2 == 1);
        ASSERT_TRUE(
            sending.offerFile("bob", write(QStringLiteral("many%1.bin").arg(i), files.back())));
    }
    ASSERT_EQ(host.sent.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const auto offer = test::ScriptedHost::readOffer(irc::DccKind::Send, "alice", host.sent[i]);
        ASSERT_TRUE(offer);
        ASSERT_TRUE(
            receiving.receive(*offer, dir.filePath(QStringLiteral("many%1-in.bin").arg(i))));
    }
    ASSERT_TRUE(waitFor(
        [&] {
            for (int i = 0; i < 6; ++i) {
                if (!finished(sending, i) || !finished(receiving, i))
                    return false;
            }
            return true;
        },
        60000));
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sending.at(i)->status(), Transfer::Status::Complete);
        EXPECT_EQ(receiving.at(i)->status(), Transfer::Status::Complete);
        EXPECT_TRUE(test::sameBytes(files[size_t(i)],
                                    dir.filePath(QStringLiteral("many%1-in.bin").arg(i))));
    }
}

// A transfer long enough to reach the title's percent still ends "(Complete)", by its name, and
// its window shows every text whole.
TEST_F(FileTransferTest, TheWindowShowsEveryTextWholeAndTheTitleSaysComplete)
{
    const QByteArray data = randomBytes(6000);
    QTcpSocket bob;
    auto sender = sendTo(bob, data);
    peer::TransferWindow window(*sender);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int at = 0; at < 5120; at += 1024) {
        ASSERT_EQ(readFrom(bob, 1024), data.mid(at, 1024));
        // The window counts whole seconds, and shows counts divisible by 5.
        if (at + 1024 == 5120) {
            ASSERT_TRUE(waitFor([&] { return sender->elapsedSeconds() >= 1; }, 3000));
        }
        bob.write(ack(quint32(at + 1024)));
    }
    ASSERT_TRUE(waitFor([&] { return window.windowTitle().endsWith("(85%)"); }))
        << window.windowTitle().toStdString();
    EXPECT_EQ(readFrom(bob, 880), data.mid(5120));
    bob.write(ack(6000));
    ASSERT_TRUE(waitFor([&] { return sender->status() == Transfer::Status::Complete; }));
    EXPECT_EQ(window.windowTitle(), "File Transfer - out.bin (Complete)");
    EXPECT_EQ(window.statusLabel()->text(), "Transfer complete.");
    EXPECT_EQ(cutTexts(window), QStringList());
}

// The data path of a transfer against a scripted link: what goes out, what is stored, what is
// acknowledged and how each flow ends, with the link's readiness in the test's hands.
#include "peer/transfer/part_file.h"
#include "peer/transfer/transfer_pump.h"
#include "tests/support/files.h"
#include "tests/support/transfer_acks.h"
#include "tests/support/wait_for.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <optional>
#include <unistd.h>

using peer::DataLink;
using peer::ReceivePump;
using peer::SendPump;
using peer::SendWindow;
using peer::TransferError;
using peer::TransferPump;
using test::ack;
using test::waitFor;

namespace {

// A link whose kernel buffer holds `room` bytes until the test drains it, whose peer speaks
// when the test says, and which remembers everything written to it.
class ScriptedLink final : public DataLink
{
public:
    explicit ScriptedLink(qint64 room = std::numeric_limits<qint64>::max())
        : m_room(room)
    {}

    qint64 read(char* data, qint64 max) override
    {
        if (m_incoming.isEmpty())
            return m_hungUp || m_closed ? -1 : 0;
        const qint64 n = std::min<qint64>(max, m_incoming.size());
        std::memcpy(data, m_incoming.constData(), size_t(n));
        m_incoming.remove(0, n);
        return n;
    }
    bool write(const char* data, qint64 size) override
    {
        if (m_closed || m_hungUp)
            return false;
        written.append(data, size);
        return true;
    }
    Sent sendFile(int fd, quint64 offset, qint64 length) override
    {
        if (m_closed || m_hungUp)
            return {Sent::Result::LinkFailed, 0};
        const qint64 take = std::min(length, m_room - m_used);
        if (take <= 0) {
            m_wantRoom = true;
            return {Sent::Result::Full, 0};
        }
        QByteArray bytes(take, Qt::Uninitialized);
        const ssize_t got = ::pread(fd, bytes.data(), size_t(take), off_t(offset));
        if (got < 0)
            return {Sent::Result::FileFailed, 0};
        if (got == 0)
            return {Sent::Result::FileEnded, 0};
        sent.append(bytes.constData(), got);
        m_used += got;
        return {Sent::Result::Sent, got};
    }
    QString errorString() const override { return QStringLiteral("scripted failure"); }
    void close() override { m_closed = true; }

    // The peer's bytes arrive.
    void feed(const QByteArray& bytes)
    {
        m_incoming.append(bytes);
        emit readable();
    }
    void hangUp()
    {
        m_hungUp = true;
        emit readable();
    }
    // The link fails without a word: only the next send finds out.
    void breakQuietly() { m_hungUp = true; }
    // The kernel sent what it held: there is room for `room` bytes again.
    void drain()
    {
        m_used = 0;
        if (std::exchange(m_wantRoom, false))
            emit writable();
    }
    bool isClosed() const { return m_closed; }

    QByteArray sent;    // file data
    QByteArray written; // everything else (acknowledgements)

private:
    qint64 m_room;
    qint64 m_used = 0;
    QByteArray m_incoming;
    bool m_hungUp = false;
    bool m_closed = false;
    bool m_wantRoom = false;
};

// A pump on this thread, its link kept in view, its end and reports recorded.
struct Rig
{
    std::unique_ptr<peer::PartFile> part; // a receiver's
    std::unique_ptr<TransferPump> pump;
    ScriptedLink* link = nullptr;
    std::optional<TransferPump::Outcome> outcome;
    std::vector<quint64> reports;

    void watch()
    {
        QObject::connect(pump.get(), &TransferPump::ended, [this] { outcome = pump->outcome(); });
        QObject::connect(pump.get(), &TransferPump::progressed,
                         [this](quint64 count) { reports.push_back(count); });
        pump->launch();
        // The start is queued, as the owner's thread hands the pump over.
        QCoreApplication::processEvents();
    }
};

class TransferPumpTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // A sender of `data` whose offer said `offered` bytes (the file's size unless given).
    Rig sender(const QByteArray& data, bool fast, qint64 room = std::numeric_limits<qint64>::max(),
               std::optional<quint64> offered = {}, const QByteArray& early = {})
    {
        const QString path = test::writeFile(dir, QStringLiteral("out.bin"), data);
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(m_fd, 0);
        auto link = std::make_unique<ScriptedLink>(room);
        Rig rig;
        rig.link = link.get();
        const SendWindow window(offered.value_or(quint64(data.size())),
                                fast ? std::numeric_limits<qint64>::max()
                                     : peer::kTransferBlockBytes);
        rig.pump = std::make_unique<SendPump>(std::move(link), early, m_fd, window);
        rig.watch();
        return rig;
    }

    // A receiver of an offer of `size` bytes into a part file of its own.
    Rig receiver(quint64 size, const QByteArray& early = {})
    {
        Rig rig;
        rig.part = std::make_unique<peer::PartFile>(
            dir.filePath(QStringLiteral("in%1.bin").arg(++m_receivers)));
        EXPECT_FALSE(rig.part->open(0).has_value());
        auto link = std::make_unique<ScriptedLink>();
        rig.link = link.get();
        rig.pump = std::make_unique<ReceivePump>(std::move(link), early, *rig.part,
                                                 peer::ReceiveCount(size));
        rig.watch();
        return rig;
    }

    static QByteArray partBytes(Rig& rig)
    {
        rig.part->close();
        return test::readFile(rig.part->path());
    }

    QTemporaryDir dir;

private:
    int m_fd = -1;
    int m_receivers = 0;
};

} // namespace

TEST_F(TransferPumpTest, DefaultModeSendsOneBlockPerWholeAcknowledgementAndFastSendWhatFits)
{
    const QByteArray data = test::randomBytes(2500);
    Rig rig = sender(data, false);
    EXPECT_EQ(rig.link->sent, data.left(1024));
    rig.link->feed(ack(600)); // the block arrived in two reads
    EXPECT_EQ(rig.link->sent.size(), 1024);
    rig.link->feed(ack(1024));
    EXPECT_EQ(rig.link->sent, data.left(2048));
    rig.link->feed(ack(1500) + ack(2048)); // several in one read: the newest counts
    EXPECT_EQ(rig.link->sent, data);
    EXPECT_FALSE(rig.outcome);
    rig.link->feed(ack(2500));
    ASSERT_TRUE(rig.outcome);
    EXPECT_TRUE(rig.outcome->complete);
    EXPECT_EQ(rig.outcome->count, 2500u);
    EXPECT_TRUE(rig.link->isClosed());
    // Nothing more is read or sent once it has ended.
    rig.link->feed(ack(9999));
    EXPECT_EQ(rig.link->sent, data);

    // Fast send has no window of its own: it fills exactly what the link has room for.
    const QByteArray big = test::randomBytes(300 * 1024 + 5);
    Rig fast = sender(big, true, 64 * 1024);
    EXPECT_EQ(fast.link->sent.size(), 64 * 1024);
    fast.link->feed(ack(10 * 1024));
    EXPECT_EQ(fast.link->sent.size(), 64 * 1024);
    while (!fast.outcome && fast.link->sent.size() < big.size())
        fast.link->drain();
    EXPECT_EQ(fast.link->sent, big);
    fast.link->feed(ack(quint64(big.size())));
    ASSERT_TRUE(fast.outcome);
    EXPECT_TRUE(fast.outcome->complete);
}

TEST_F(TransferPumpTest, SenderStopsOnWhatEndsItsLinkOrItsFile)
{
    const struct
    {
        const char* why;
        bool fast;
        std::optional<quint64> offered;
        std::function<void(ScriptedLink&)> peer;
        TransferError error;
        quint64 count;
    } cases[] = {
        {"an acknowledgement of more than was sent",
         false,
         {},
         [](ScriptedLink& link) { link.feed(ack(1025)); },
         TransferError::BeyondSent,
         0},
        {"the same with fast send",
         true,
         {},
         [](ScriptedLink& link) {
             link.feed(ack(2048));
             link.feed(ack(20000));
         },
         TransferError::BeyondSent,
         2048},
        {"the peer hangs up",
         false,
         {},
         [](ScriptedLink& link) {
             link.feed(ack(1024));
             link.hangUp();
         },
         TransferError::PeerClosed,
         1024},
        {"the file is shorter than the offer", false, 5000,
         [](ScriptedLink& link) {
             link.feed(ack(1024));
             link.feed(ack(2048));
             link.feed(ack(3072));
         },
         TransferError::ReadFailed, 3072},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Rig rig = sender(test::randomBytes(3072), c.fast, 16 * 1024, c.offered);
        c.peer(*rig.link);
        ASSERT_TRUE(rig.outcome);
        EXPECT_FALSE(rig.outcome->complete);
        EXPECT_EQ(rig.outcome->error, c.error);
        EXPECT_EQ(rig.outcome->count, c.count);
        EXPECT_TRUE(rig.link->isClosed());
        if (c.error == TransferError::ReadFailed) {
            EXPECT_EQ(rig.outcome->detail, "the file is shorter than offered");
        }
    }
    // A link that broke while fast send waited for room is found out at the next send.
    Rig broken = sender(test::randomBytes(3072), true, 1024);
    broken.link->breakQuietly();
    broken.link->drain();
    ASSERT_TRUE(broken.outcome);
    EXPECT_EQ(broken.outcome->error, TransferError::PeerClosed);
    EXPECT_TRUE(broken.link->isClosed());
}

// A peer that is gone is the link's failure, not the file's: sending to it ends the transfer as
// the peer's close, whatever the kernel still held.
TEST(DataLink, SendingToAPeerThatIsGoneIsALinkFailure)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    auto* socket = new QTcpSocket;
    socket->connectToHost(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(socket->waitForConnected(5000));
    ASSERT_TRUE(listener.waitForNewConnection(5000));
    QByteArray early;
    const std::unique_ptr<peer::DataLink> link = peer::takeDataLink(socket, early);
    ASSERT_TRUE(link);
    listener.nextPendingConnection()->abort();
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    ASSERT_EQ(file.write(QByteArray(64 * 1024, 'x')), 64 * 1024);
    ASSERT_TRUE(file.flush());
    using Result = peer::DataLink::Sent::Result;
    Result result = Result::Sent;
    for (int i = 0; i < 1000 && result == Result::Sent; ++i)
        result = link->sendFile(file.handle(), 0, 64 * 1024).result;
    EXPECT_EQ(result, Result::LinkFailed);
}

TEST_F(TransferPumpTest, ReceiverStoresOnlyTheOfferedSizeAndAcknowledgesEachRead)
{
    const QByteArray data = test::randomBytes(4000);
    // What the TLS handshake carried in comes first.
    Rig rig = receiver(3000, data.left(500));
    EXPECT_EQ(rig.link->written, ack(500));
    rig.link->feed(data.mid(500, 1500));
    EXPECT_EQ(rig.link->written, ack(500) + ack(2000));
    EXPECT_FALSE(rig.outcome);
    rig.link->feed(data.mid(2000)); // 1000 of these 2000 were offered
    EXPECT_EQ(rig.link->written, ack(500) + ack(2000) + ack(3000));
    ASSERT_TRUE(rig.outcome);
    EXPECT_TRUE(rig.outcome->complete);
    EXPECT_EQ(rig.outcome->count, 3000u);
    EXPECT_EQ(partBytes(rig), data.left(3000));
}

TEST_F(TransferPumpTest, ReceiverEndsShortOnAHangUpOrAFullDisk)
{
    {
        SCOPED_TRACE("hang-up");
        Rig rig = receiver(3000);
        rig.link->feed(test::randomBytes(1200));
        rig.link->hangUp();
        ASSERT_TRUE(rig.outcome);
        EXPECT_EQ(rig.outcome->error, TransferError::PeerClosed);
        EXPECT_EQ(rig.outcome->count, 1200u);
        EXPECT_EQ(partBytes(rig).size(), 1200);
    }
    {
        SCOPED_TRACE("full disk");
        Rig rig = receiver(10000);
        const test::FileSizeLimit full(4096);
        rig.link->feed(test::randomBytes(4000));
        rig.link->feed(test::randomBytes(4000));
        ASSERT_TRUE(rig.outcome);
        EXPECT_EQ(rig.outcome->error, TransferError::WriteFailed);
        EXPECT_FALSE(rig.outcome->detail.isEmpty());
        // What could not be stored is never acknowledged.
        EXPECT_EQ(rig.link->written, ack(4000));
    }
    {
        SCOPED_TRACE("empty file, sender closes");
        Rig rig = receiver(0);
        rig.link->hangUp();
        ASSERT_TRUE(rig.outcome);
        EXPECT_TRUE(rig.outcome->complete);
    }
}

// Reports are held to the window's refresh rate, and the last count is never held back.
TEST_F(TransferPumpTest, ProgressComesAtARefreshRateAndTheLastCountAlwaysArrives)
{
    Rig rig = receiver(1'000'000);
    for (int i = 0; i < 500; ++i)
        rig.link->feed(QByteArray(1000, 'x'));
    EXPECT_LT(rig.reports.size(), 100u);
    ASSERT_TRUE(waitFor([&] { return !rig.reports.empty() && rig.reports.back() == 500'000u; }));
}

// The owner ends a pump running on another thread: it waits until the pump has let go of the
// link, and gets the pump back to delete at once.
TEST_F(TransferPumpTest, HaltFromTheOwnersThreadBringsThePumpBackWithItsLinkClosed)
{
    QThread thread;
    thread.start();
    auto link = std::make_unique<ScriptedLink>();
    ScriptedLink* view = link.get();
    peer::PartFile part(dir.filePath(QStringLiteral("halt.bin")));
    ASSERT_FALSE(part.open(0));
    auto pump =
        std::make_unique<ReceivePump>(std::move(link), QByteArray(), part, peer::ReceiveCount(10));
    bool ended = false;
    QObject::connect(pump.get(), &TransferPump::ended, [&] { ended = true; });
    pump->moveToThread(&thread);
    pump->launch();
    pump->halt();
    EXPECT_EQ(pump->thread(), QThread::currentThread());
    EXPECT_TRUE(view->isClosed());
    pump.reset();
    thread.quit();
    thread.wait();
    EXPECT_FALSE(ended); // a halt is the owner's own doing: nothing to hear of it
}

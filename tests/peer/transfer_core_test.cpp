#include "peer/transfer/transfer_core.h"
#include "tests/support/transfer_acks.h"

#include <QList>
#include <gtest/gtest.h>

#include <limits>

using peer::SendWindow;
using Ack = peer::SendWindow::Ack;
using test::ack;
using test::wideAck;

// A streaming window such as other clients keep, a mebibyte ahead of the acknowledgements.
constexpr qint64 kWindowBytes = 1024 * 1024;

TEST(SendWindow, SendsOneBlockAtATimeEachAfterItsWholeAcknowledgement)
{
    SendWindow window(3000);
    std::vector<std::pair<quint64, qint64>> blocks;
    quint32 acked = 0;
    while (auto chunk = window.next()) {
        blocks.emplace_back(chunk->offset, chunk->length);
        window.sent(chunk->length);
        EXPECT_FALSE(window.next()) << "a second block in flight";
        acked += quint32(chunk->length);
        EXPECT_EQ(window.acknowledge(acked), acked == 3000 ? Ack::Complete : Ack::Progress);
    }
    EXPECT_EQ(blocks,
              (std::vector<std::pair<quint64, qint64>>{{0, 1024}, {1024, 1024}, {2048, 952}}));
    EXPECT_TRUE(window.complete());
    SendWindow empty(0); // complete with nothing sent
    EXPECT_FALSE(empty.next());
    EXPECT_TRUE(empty.complete());

    // The receiver acknowledges every read: a block that arrives in two reads draws two
    // acknowledgements, and the first must not make the sender send overlapping data.
    SendWindow pieces(4096);
    pieces.sent(pieces.next()->length);
    EXPECT_EQ(pieces.acknowledge(600), Ack::Progress);
    EXPECT_FALSE(pieces.next());
    EXPECT_EQ(pieces.acknowledge(600), Ack::Stale);
    EXPECT_EQ(pieces.acknowledge(1024), Ack::Progress);
    const auto next = pieces.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->offset, 1024u); // never a byte twice, never one skipped
    EXPECT_EQ(next->length, 1024);
}

TEST(SendWindow, JudgesAcknowledgements)
{
    const struct
    {
        const char* why;
        quint64 size;
        qint64 window;
        quint64 sent;
        quint64 acked;
        quint32 wire;
        Ack result;
        quint64 ackedAfter;
    } cases[] = {
        {"beyond what was sent", 3000, 1024, 1024, 0, 1025, Ack::BeyondSent, 0},
        {"far beyond", 3000, 1024, 1024, 0, 0xFFFFFFFF, Ack::BeyondSent, 0},
        {"older than the last", 3000, 1024, 2048, 1024, 1000, Ack::Stale, 1024},
        {"fast send, part of the window", 1 << 22, 1 << 20, 1 << 20, 0, 70000, Ack::Progress,
         70000},
        // Past 4 GiB the wire count wraps; it is read against what was sent.
        {"wrapped", 5ull << 30, 1 << 20, (1ull << 32) + 100, (1ull << 32) - 500, 50, Ack::Progress,
         (1ull << 32) + 50},
        {"from before the wrap", 5ull << 30, 1 << 20, (1ull << 32) + 100, (1ull << 32) - 500,
         0xFFFFFF00u, Ack::Progress, (1ull << 32) - 256},
        {"wrapped beyond", 5ull << 30, 1 << 20, (1ull << 32) + 100, (1ull << 32) - 500, 101,
         Ack::BeyondSent, (1ull << 32) - 500},
        {"wrapped, complete", (1ull << 32) + 100, 1 << 20, (1ull << 32) + 100, 1ull << 32, 100,
         Ack::Complete, (1ull << 32) + 100},
    };
    for (const auto& c : cases) {
        SendWindow window(c.size, c.window);
        // Walk to the state of the case: acknowledged, then sent.
        for (quint64 done = 0; done < c.acked;) {
            const auto chunk = window.next(qint64(c.acked - done));
            ASSERT_TRUE(chunk) << c.why;
            window.sent(chunk->length);
            done += quint64(chunk->length);
            ASSERT_NE(window.acknowledge(quint32(done)), Ack::BeyondSent) << c.why;
        }
        while (window.sentBytes() < c.sent) {
            const auto chunk = window.next(qint64(c.sent - window.sentBytes()));
            ASSERT_TRUE(chunk) << c.why;
            window.sent(chunk->length);
        }
        ASSERT_EQ(window.acked(), c.acked) << c.why;
        EXPECT_EQ(window.acknowledge(c.wire), c.result) << c.why;
        EXPECT_EQ(window.acked(), c.ackedAfter) << c.why;
    }
}

TEST(SendWindow, FastSendStreamsUpToItsWindowOrWithoutOne)
{
    SendWindow window(10 << 20, kWindowBytes);
    qint64 sent = 0;
    while (auto chunk = window.next(64 * 1024)) {
        window.sent(chunk->length);
        sent += chunk->length;
    }
    EXPECT_EQ(sent, kWindowBytes);
    EXPECT_EQ(window.acknowledge(4096), Ack::Progress);
    EXPECT_EQ(window.next(1 << 20)->length, 4096);

    // Fast send leaves the bound to the kernel's send buffer: the window never closes, and the
    // acknowledgements still unwrap and refuse counts beyond what was sent.
    const quint64 size = (quint64(1) << 32) + 4096;
    SendWindow open(size, std::numeric_limits<qint64>::max());
    quint64 all = 0;
    while (auto chunk = open.next(qint64(1) << 30)) {
        open.sent(chunk->length);
        all += quint64(chunk->length);
    }
    EXPECT_EQ(all, size);
    // A count is read as the nearest at or below what was sent.
    EXPECT_EQ(open.acknowledge(quint32(100)), Ack::Progress);
    EXPECT_EQ(open.acked(), (quint64(1) << 32) + 100);
    EXPECT_EQ(open.acknowledge(quint32(4096)), Ack::Complete);
    SendWindow early(1 << 20, std::numeric_limits<qint64>::max());
    early.sent(1000);
    EXPECT_EQ(early.acknowledge(1001), Ack::BeyondSent);
}

TEST(AckReader, TakesTheNewestWholeAcknowledgementWhereverTheReadsSplit)
{
    const QByteArray stream = ack(1024) + ack(2048) + ack(3000);
    const struct
    {
        QList<int> cuts;
        QList<std::optional<quint32>> seen;
    } cases[] = {
        {{12}, {3000}},
        {{4, 8, 12}, {1024, 2048, 3000}},
        {{2, 6, 12}, {std::nullopt, 1024, 3000}},
        {{1, 2, 3, 5, 12}, {std::nullopt, std::nullopt, std::nullopt, 1024, 3000}},
        {{7, 9, 12}, {1024, 2048, 3000}},
    };
    for (const auto& c : cases) {
        peer::AckReader reader;
        QList<std::optional<quint32>> seen;
        int from = 0;
        for (int cut : c.cuts) {
            seen << reader.feed(QByteArrayView(stream).sliced(from, cut - from));
            from = cut;
        }
        EXPECT_EQ(seen, c.seen) << c.cuts.size();
    }
}

TEST(ReceiveCount, NeverKeepsMoreThanTheOfferedSize)
{
    peer::ReceiveCount count(3000);
    EXPECT_EQ(count.take(2048), 2048);
    EXPECT_EQ(count.take(2048), 952);
    EXPECT_TRUE(count.complete());
    EXPECT_EQ(count.take(10), 0);
    EXPECT_EQ(count.count(), 3000u);
    EXPECT_EQ(ack(count.count()), QByteArray("\0\0\x0b\xb8", 4));
    EXPECT_EQ(ack((1ull << 32) + 5), QByteArray("\0\0\0\5", 4)); // wraps as peers expect
}

TEST(DescribeTransfer, ShowsWhatEachStepOfTheRefreshReaches)
{
    const QString path = "/home/u/f.bin";
    const struct
    {
        const char* why;
        quint64 count;
        quint64 size;
        qint64 elapsed;
        peer::TransferView view;
    } cases[] = {
        {"half way after ten seconds",
         20480,
         40960,
         10,
         {false, 50, "Transferred: 20480 bytes", "Time Elapsed: 0 hrs 0 mins 10 secs",
          "Transfer Rate: 2 KB/sec", "Time Remaining: 0 hrs 0 mins 10 secs",
          "File Transfer - /home/u/f.bin (50%)"}},
        {"under a second",
         1024,
         40960,
         0,
         {false, 2, "Transferred: 1024 bytes", "Time Elapsed: 0 hrs 0 mins 0 secs", {}, {}, {}}},
        {"slower than a KB a second",
         1000,
         100000,
         2,
         {false, 1, "Transferred: 1000 bytes", "Time Elapsed: 0 hrs 0 mins 2 secs",
          "Transfer Rate: 0 KB/sec", "Time Remaining: 0 hrs 3 mins 18 secs",
          "File Transfer - /home/u/f.bin (1%)"}},
        {"nothing moved yet",
         0,
         40960,
         5,
         {false,
          0,
          "Transferred: 0 bytes",
          "Time Elapsed: 0 hrs 0 mins 5 secs",
          "Transfer Rate: 0 KB/sec",
          {},
          {}}},
        {"an empty file", 0, 0, 3, {true, {}, {}, {}, {}, {}, {}}},
        {"complete after an hour",
         7200,
         7200,
         3661,
         {true, 100, "Transferred: 7200 bytes", "Time Elapsed: 1 hrs 1 mins 1 secs",
          "Transfer Rate: 0 KB/sec", "Time Remaining: 0 hrs 0 mins 0 secs",
          "File Transfer - /home/u/f.bin (100%)"}},
        {"past 4 GiB, no overflow",
         3ull << 32,
         6ull << 32,
         4,
         {false, 50, "Transferred: 12884901888 bytes", "Time Elapsed: 0 hrs 0 mins 4 secs",
          "Transfer Rate: 3145728 KB/sec", "Time Remaining: 0 hrs 0 mins 4 secs",
          "File Transfer - /home/u/f.bin (50%)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::describeTransfer(c.count, c.size, c.elapsed, path), c.view) << c.why;
    EXPECT_EQ(peer::describeTransfer(~0ull - 1, ~0ull, 1, path).percent, 99);
    EXPECT_EQ(peer::awaitingTitle("f.bin"), "File Transfer - f.bin (Awaiting Connection...)");
}

TEST(SizeText, GivesTheSizeForPeopleAndTheBytesGroupedAsTheLocaleGroupsThem)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QLocale german(QLocale::German, QLocale::Germany);
    const struct
    {
        quint64 bytes;
        const QLocale& locale;
        const char* text;
    } cases[] = {
        {0, english, "0 bytes"},
        {1, english, "1 byte"},
        {999, english, "999 bytes"},
        {12345678, english, "12.3 MB (12,345,678 bytes)"},
        {12345678, german, "12,3 MB (12.345.678 bytes)"},
        {5000000000, english, "5.0 GB (5,000,000,000 bytes)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::sizeText(c.bytes, c.locale), c.text) << c.bytes;
}

TEST(RefreshGate, RefreshesOnItsCountsAtMostTenTimesASecondButAlwaysAtTheEnd)
{
    peer::RefreshGate gate;
    EXPECT_TRUE(gate.due(1025, 3000, 0));
    EXPECT_FALSE(gate.due(1026, 3000, 500)); // not a multiple of 5
    EXPECT_FALSE(gate.due(2050, 3000, 50));  // too soon
    EXPECT_TRUE(gate.due(2050, 3000, 100));
    EXPECT_TRUE(gate.due(3000, 3000, 101)); // the end, however soon
    EXPECT_TRUE(gate.due(3001, 3001, 102));
}

namespace {

// A window that has sent everything from `start` to `size`, nothing of it acknowledged.
SendWindow allSent(quint64 size, quint64 start)
{
    SendWindow window(size, kWindowBytes, start);
    while (const auto chunk = window.next(1 << 20))
        window.sent(chunk->length);
    return window;
}

} // namespace

TEST(AckReader, FourByteAcknowledgementsOfAResumedTransferWrapPast4GiB)
{
    const quint64 start = (1ull << 32) - 1000;
    SendWindow window = allSent((1ull << 32) + 5000, start);
    ASSERT_EQ(window.acked(), start);
    peer::AckReader reader;
    const struct
    {
        quint64 count;
        Ack result;
    } steps[] = {
        {start + 500, Ack::Progress},         {1ull << 32, Ack::Progress}, // 0 on the wire
        {(1ull << 32) + 2000, Ack::Progress}, {(1ull << 32) + 2000, Ack::Stale},
        {(1ull << 32) + 5000, Ack::Complete},
    };
    for (const auto& s : steps) {
        const auto count = reader.feed(ack(s.count), window);
        ASSERT_TRUE(count) << s.count;
        EXPECT_FALSE(count->wide) << s.count;
        EXPECT_EQ(window.acknowledge(quint32(count->value)), s.result) << s.count;
    }
    EXPECT_EQ(reader.width(), peer::AckReader::Width::Four);
    EXPECT_TRUE(window.complete());
}

TEST(AckReader, TellsEightByteAcknowledgementsFromTheFirstWord)
{
    const struct
    {
        const char* why;
        quint64 start;
        quint64 size;
        QList<quint64> acks;
    } cases[] = {
        {"from the start", 0, 3000, {1024, 2048, 3000}},
        {"resumed past 4 GiB, first word 1",
         (1ull << 32) + 100,
         (1ull << 32) + 3000,
         {(1ull << 32) + 1124, (1ull << 32) + 3000}},
    };
    for (const auto& c : cases) {
        QByteArray stream;
        for (quint64 a : c.acks)
            stream += wideAck(a);
        // One byte at a time: every split of every acknowledgement.
        {
            SendWindow window = allSent(c.size, c.start);
            peer::AckReader reader;
            QList<quint64> seen;
            for (char byte : stream) {
                if (const auto count = reader.feed(QByteArrayView(&byte, 1), window)) {
                    EXPECT_TRUE(count->wide) << c.why;
                    EXPECT_EQ(window.acknowledgeWide(count->value),
                              count->value == c.size ? Ack::Complete : Ack::Progress);
                    seen << count->value;
                }
            }
            EXPECT_EQ(seen, c.acks) << c.why;
            EXPECT_EQ(reader.width(), peer::AckReader::Width::Eight) << c.why;
        }
        // All at once: only the newest counts.
        {
            SendWindow window = allSent(c.size, c.start);
            peer::AckReader reader;
            const auto count = reader.feed(stream, window);
            ASSERT_TRUE(count) << c.why;
            EXPECT_EQ(count->value, c.acks.last()) << c.why;
            EXPECT_EQ(window.acknowledgeWide(count->value), Ack::Complete) << c.why;
        }
    }
}

// A 4-byte peer's first count is past where we stand, even when it wraps to 0 on the wire.
TEST(AckReader, AFourBytePeerIsNeverTakenForAnEightBytePeer)
{
    const struct
    {
        quint64 start;
        quint64 firstAck;
    } cases[] = {
        {0, 1},
        {0, 1024},
        {(1ull << 32) - 10, 1ull << 32},
        {(1ull << 32) - 10, (1ull << 32) + 1},
        {(1ull << 32) + 100, (1ull << 32) + 101},
    };
    for (const auto& c : cases) {
        SendWindow window = allSent(c.start + 5000, c.start);
        peer::AckReader reader;
        const QByteArray stream = ack(c.firstAck) + ack(c.firstAck + 1);
        const auto first = reader.feed(QByteArrayView(stream).first(4), window);
        ASSERT_TRUE(first) << c.start << " " << c.firstAck;
        EXPECT_FALSE(first->wide);
        EXPECT_EQ(reader.width(), peer::AckReader::Width::Four) << c.start << " " << c.firstAck;
        EXPECT_EQ(window.acknowledge(quint32(first->value)), Ack::Progress);
        EXPECT_EQ(window.acked(), c.firstAck);
        const auto second = reader.feed(QByteArrayView(stream).sliced(4), window);
        ASSERT_TRUE(second);
        EXPECT_EQ(second->value, quint32(c.firstAck + 1));
    }
}

TEST(SendWindow, JudgesEightByteAcknowledgementsAndResumedStarts)
{
    SendWindow window = allSent((1ull << 32) + 5000, 1ull << 32);
    EXPECT_EQ(window.acknowledgeWide((1ull << 32) + 5001), Ack::BeyondSent);
    EXPECT_EQ(window.acknowledgeWide(1ull << 32), Ack::Stale);
    EXPECT_EQ(window.acknowledgeWide(1000), Ack::Stale);
    EXPECT_EQ(window.acknowledgeWide((1ull << 32) + 10), Ack::Progress);
    EXPECT_EQ(window.acknowledgeWide((1ull << 32) + 10), Ack::Stale);
    EXPECT_EQ(window.acknowledgeWide((1ull << 32) + 5000), Ack::Complete);
    EXPECT_EQ(window.acked(), (1ull << 32) + 5000);

    // Resumed at the end, or past it: nothing to send, nothing to wait for.
    for (quint64 start : {3000ull, 4000ull}) {
        SendWindow done(3000, peer::kTransferBlockBytes, start);
        EXPECT_TRUE(done.complete()) << start;
        EXPECT_FALSE(done.next()) << start;
        EXPECT_EQ(done.sentBytes(), 3000u) << start;
    }
    const auto resumed = SendWindow(3000, peer::kTransferBlockBytes, 1000).next();
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->offset, 1000u);

    peer::ReceiveCount count(3000, 1000);
    EXPECT_EQ(count.take(5000), 2000);
    EXPECT_TRUE(count.complete());
    EXPECT_TRUE(peer::ReceiveCount(3000, 3000).complete());
    EXPECT_EQ(peer::ReceiveCount(3000, 9000).count(), 3000u);
}

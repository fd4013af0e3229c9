#include "irc/line_framer.h"
#include "irc/line_queue.h"

#include <gtest/gtest.h>

#include <algorithm>

using irc::LineFramer;

namespace {

QList<QByteArray> feedInPieces(LineFramer& framer, const QByteArray& stream,
                               const QList<qsizetype>& cuts)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype cut : cuts) {
        lines += framer.feed(stream.mid(start, cut - start));
        start = cut;
    }
    lines += framer.feed(stream.mid(start));
    return lines;
}

} // namespace

TEST(LineFramer, GivesTheSameLinesWhereverTheStreamIsCut)
{
    const QByteArray stream = ":irc 001 bob :Welcome \xc3\xa9t\xc3\xa9\r\n\r\nPING :x\r\n"
                              ":a!b@c PRIVMSG bob :hi\r\n";
    const QList<QByteArray> expected = {":irc 001 bob :Welcome \xc3\xa9t\xc3\xa9", "", "PING :x",
                                        ":a!b@c PRIVMSG bob :hi"};
    for (qsizetype first = 0; first <= stream.size(); ++first) {
        for (qsizetype second = first; second <= stream.size(); second += 3) {
            LineFramer framer;
            ASSERT_EQ(feedInPieces(framer, stream, {first, second}), expected)
                << "cuts at " << first << " and " << second;
            EXPECT_FALSE(framer.hasPartialLine());
        }
    }
}

TEST(LineFramer, BoundsAPartialLineThatNeverEnds)
{
    LineFramer framer;
    const QByteArray chunk(4096, 'x');
    for (int i = 0; i < 64; ++i) { // 256 KiB without CR LF
        EXPECT_TRUE(framer.feed(chunk).isEmpty());
        EXPECT_LE(framer.pendingSize(), LineFramer::kMaxPendingBytes);
    }
    EXPECT_EQ(framer.takeDroppedLines(), 1);
    // The rest of the over-long line is skipped, and the stream recovers at its end, even when
    // its CR LF straddles two reads.
    EXPECT_TRUE(framer.feed("yyy\r").isEmpty());
    EXPECT_EQ(framer.feed("\nPING :ok\r\n"), QList<QByteArray>{"PING :ok"});
    EXPECT_EQ(framer.takeDroppedLines(), 0);
}

TEST(LineFramer, HandsOutTheSameLinesAsViews)
{
    // Views of lines carried over between reads and of lines whole in a read, long lines up to
    // the limit kept whole and longer ones dropped by the same rule, CR LF pairs split between
    // reads (a read of one byte at a time among them).
    const QByteArray fits(LineFramer::kMaxPendingBytes, 'a');
    const QByteArray tooLong(LineFramer::kMaxPendingBytes + 1, 'b');
    const QByteArray stream = "PING :x\r\n\r\n:a!b@c PRIVMSG bob :hi\r\n" + fits + "\r\n" + tooLong
                              + "\r\n" + tooLong + tooLong + "\r\nnext\r\n";
    for (qsizetype read :
         {qsizetype(1), qsizetype(2), qsizetype(7), qsizetype(4096), stream.size()}) {
        LineFramer copying;
        LineFramer viewing;
        QList<QByteArray> copied;
        QList<QByteArray> viewed;
        for (qsizetype at = 0; at < stream.size(); at += read) {
            const QByteArrayView bytes =
                QByteArrayView(stream).sliced(at).first(std::min(read, stream.size() - at));
            copied += copying.feed(bytes);
            viewing.forEachLine(bytes,
                                [&](QByteArrayView line) { viewed.append(line.toByteArray()); });
            ASSERT_EQ(viewing.pendingSize(), copying.pendingSize()) << "read " << read;
        }
        EXPECT_EQ(viewed,
                  (QList<QByteArray>{"PING :x", "", ":a!b@c PRIVMSG bob :hi", fits, "next"}))
            << "read " << read;
        EXPECT_EQ(viewed, copied) << "read " << read;
        EXPECT_EQ(viewing.takeDroppedLines(), 2) << "read " << read;
        EXPECT_EQ(copying.takeDroppedLines(), 2) << "read " << read;
        EXPECT_FALSE(viewing.hasPartialLine());
    }
}

// Lines that lie whole in a read are views of it, not copies; a line cut between two reads comes
// whole, and a line taken off the queue stays readable while later reads are queued.
TEST(LineQueue, ViewsTheReadAndKeepsTakenLinesAlive)
{
    irc::LineFramer framer;
    irc::LineQueue queue;
    const QByteArray first = "PING :a\r\nPRIVMSG bob :h";
    const QList<QByteArrayView> batch = queue.push(first, framer);
    ASSERT_EQ(batch, QList<QByteArrayView>{"PING :a"});
    EXPECT_EQ(batch.front().data(), first.constData());

    const irc::LineQueue::Line ping = queue.pop();
    EXPECT_TRUE(queue.empty());
    const QByteArray second = "i\r\nNOTICE x :y\r\n";
    EXPECT_EQ(queue.push(second, framer),
              (QList<QByteArrayView>{"PRIVMSG bob :hi", "NOTICE x :y"}));
    EXPECT_EQ(ping.view, "PING :a");
    EXPECT_EQ(queue.pop().view, "PRIVMSG bob :hi");
    const irc::LineQueue::Line notice = queue.pop();
    EXPECT_EQ(notice.view, "NOTICE x :y");
    EXPECT_EQ(notice.view.data(), second.constData() + 3);
    EXPECT_TRUE(queue.empty());
}

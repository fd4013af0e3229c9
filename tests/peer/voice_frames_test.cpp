#include "peer/voice/voice_frames.h"

#include <QList>
#include <gtest/gtest.h>

#include <rapidcheck/gtest.h>

using peer::frameVoicePacket;
using peer::kMaxVoiceFrameBytes;
using peer::VoiceFrameReader;

namespace {

// Bytes that differ from packet to packet and byte to byte, so a lost or shifted byte shows.
QByteArray packet(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed * 7 + 1) & 0xff);
    return bytes;
}

QByteArray stream(const QList<QByteArray>& packets)
{
    QByteArray bytes;
    for (const QByteArray& p : packets)
        bytes += frameVoicePacket(p);
    return bytes;
}

} // namespace

TEST(VoiceFrames, FramesOnlyPacketsTheLinkCanCarry)
{
    const struct
    {
        QByteArray packet;
        QByteArray frame;
    } cases[] = {
        {{}, {}},
        {"x", QByteArray("\x00\x01x", 3)},
        {packet(256, 1), QByteArray("\x01\x00", 2) + packet(256, 1)},
        {packet(kMaxVoiceFrameBytes, 2), QByteArray("\x01\x90", 2) + packet(400, 2)},
        {packet(kMaxVoiceFrameBytes + 1, 3), {}},
        {packet(0x10000 + 5, 4), {}}, // would wrap the 16-bit length to 5
    };
    for (const auto& c : cases)
        EXPECT_EQ(frameVoicePacket(c.packet), c.frame) << c.packet.size() << " bytes";
}

// Whatever the packets and however the stream is cut into reads, the same packets come out, and
// no more than one frame is ever held.
RC_GTEST_PROP(VoiceFrameReader, ReadsTheSamePacketsWhateverTheReadsAndHoldsAtMostOneFrame, ())
{
    const auto sizes =
        *rc::gen::container<std::vector<int>>(rc::gen::inRange(1, int(kMaxVoiceFrameBytes) + 1));
    QList<QByteArray> packets;
    for (int size : sizes)
        packets.append(packet(size, int(packets.size())));
    const QByteArray bytes = stream(packets);
    const auto pieces = *rc::gen::container<std::vector<int>>(rc::gen::inRange(0, 1500));
    VoiceFrameReader reader;
    QList<QByteArray> read;
    for (qsizetype at = 0, i = 0; at < bytes.size(); ++i) {
        const qsizetype rest = bytes.size() - at;
        const qsizetype piece = i < qsizetype(pieces.size()) ? qMin<qsizetype>(pieces[i], rest) : 1;
        read += reader.feed(QByteArrayView(bytes).sliced(at, piece));
        at += piece;
        RC_ASSERT(reader.bufferedBytes() <= VoiceFrameReader::kMaxBufferedBytes);
    }
    RC_ASSERT(read == packets);
    RC_ASSERT(!reader.hasPartialFrame());
}

TEST(VoiceFrameReader, FailsOnALengthNoPacketHasAndReadsNothingAfter)
{
    const QByteArray before = frameVoicePacket("kept");
    const QByteArray after = frameVoicePacket("dropped");
    const struct
    {
        QByteArray header;
        quint16 length;
    } cases[] = {
        {QByteArray("\x00\x00", 2), 0},
        {QByteArray("\x01\x91", 2), quint16(kMaxVoiceFrameBytes + 1)},
        {QByteArray("\xff\xff", 2), 0xffff},
    };
    for (const auto& c : cases) {
        // Whole, and with the bad length field split between two reads.
        for (qsizetype cut : {before.size(), before.size() + 1}) {
            const QByteArray bytes = before + c.header + QByteArray(500, 'a') + after;
            VoiceFrameReader reader;
            QList<QByteArray> read = reader.feed(QByteArrayView(bytes).first(cut));
            read += reader.feed(QByteArrayView(bytes).sliced(cut));
            EXPECT_EQ(read, QList<QByteArray>{"kept"}) << c.length;
            EXPECT_TRUE(reader.hasFailed());
            EXPECT_EQ(reader.badLength(), c.length);
            EXPECT_EQ(reader.bufferedBytes(), 0);
            EXPECT_TRUE(reader.feed(after).isEmpty()) << "a failed stream has no frames left";
        }
    }
}

TEST(VoiceFrameReader, KeepsAPartialFrameUntilItsLastByte)
{
    const QByteArray frame = frameVoicePacket(packet(kMaxVoiceFrameBytes, 9));
    VoiceFrameReader reader;
    EXPECT_TRUE(reader.feed(QByteArrayView(frame).chopped(1)).isEmpty());
    EXPECT_TRUE(reader.hasPartialFrame());
    EXPECT_FALSE(reader.hasFailed());
    EXPECT_EQ(reader.bufferedBytes(), VoiceFrameReader::kMaxBufferedBytes);
    EXPECT_EQ(reader.feed(QByteArrayView(frame).last(1)),
              QList<QByteArray>{packet(kMaxVoiceFrameBytes, 9)});
    EXPECT_FALSE(reader.hasPartialFrame());
    EXPECT_EQ(reader.bufferedBytes(), 0);
}

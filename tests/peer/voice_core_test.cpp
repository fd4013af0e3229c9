#include "peer/voice/voice_core.h"
#include "tests/support/transfer_acks.h"

#include <QList>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using peer::CaptureGate;
using peer::IncomingVoice;
using peer::PlaybackQueue;
using peer::VoiceLeg;
using test::ack;

namespace {

// Samples that differ from block to block and byte to byte, so a lost or repeated byte shows.
QByteArray samples(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 1024 * 13 + seed) & 0xff);
    return bytes;
}

} // namespace

TEST(CaptureGate, KeepsOneBlockInFlightAndDropsThoseCapturedMeanwhile)
{
    enum Kind { Capture, Read };
    const struct Step
    {
        Kind kind;
        QByteArray bytes;
        bool result; // a block sent, or the block in flight released
    } steps[] = {
        {Capture, samples(1000), false},    // not a whole block yet
        {Capture, samples(24, 1000), true}, // the first block goes
        {Capture, samples(1024), false},    // completed while the first is unacknowledged
        {Read, ack(1024).left(3), false},   // a split acknowledgement releases nothing yet
        {Read, ack(1024).mid(3), true},     // its last byte does
        {Read, ack(0), false},              // nothing left in flight
        {Capture, samples(3072), true},     // a burst: the first goes, two are dropped
        {Read, ack(0) + ack(0), true},      // two in one read release one block
        {Capture, samples(1024), true},
    };
    CaptureGate gate;
    int index = 0;
    for (const Step& step : steps) {
        if (step.kind == Capture) {
            const auto block = gate.captured(step.bytes);
            EXPECT_EQ(block.has_value(), step.result) << "step " << index;
            if (block) {
                EXPECT_EQ(block->size(), peer::kVoiceBlockBytes) << "step " << index;
            }
        } else {
            EXPECT_EQ(gate.received(step.bytes), step.result) << "step " << index;
        }
        ++index;
    }
    EXPECT_EQ(gate.sentBlocks(), 3u);
    EXPECT_EQ(gate.droppedBlocks(), 3u);
    EXPECT_TRUE(gate.inFlight());
}

TEST(CaptureGate, SendsTheCapturedSamplesWholeAndInOrderAndOnlyStoresTheAcknowledgedCount)
{
    const QByteArray stream = samples(1024 * 3);
    CaptureGate gate;
    QByteArray sent;
    for (qsizetype at = 0; at < stream.size(); at += 100) {
        const qsizetype size = std::min<qsizetype>(100, stream.size() - at);
        if (auto block = gate.captured(QByteArrayView(stream).sliced(at, size))) {
            sent += *block;
            gate.received(ack(0));
        }
    }
    EXPECT_EQ(sent, stream);

    // The acknowledged value is only stored; it goes back to 0 when a block completes while it
    // is 1024 or more.
    gate = CaptureGate();
    gate.received(ack(5000));
    EXPECT_EQ(gate.ackCount(), 5000u);
    EXPECT_FALSE(gate.captured(samples(1000)));
    EXPECT_EQ(gate.ackCount(), 5000u);
    EXPECT_TRUE(gate.captured(samples(24)));
    EXPECT_EQ(gate.ackCount(), 0u);
    gate.received(ack(600));
    gate.captured(samples(1024));
    EXPECT_EQ(gate.ackCount(), 600u);
}

TEST(PlaybackQueue, CountsAndAcknowledgesEachReadWhereverTcpSplitsTheBlocks)
{
    struct Step
    {
        qsizetype bytes;
        std::optional<quint32> ack;
        int dropped;
        int queued;
    };
    const struct
    {
        const char* why;
        QList<Step> steps;
    } cases[] = {
        {"600 then 600 gives 600 then 0", {{600, 600, 0, 0}, {600, 0, 0, 1}}},
        {"one byte, then the rest of the block", {{1, 1, 0, 0}, {1023, 0, 0, 1}}},
        {"the second block fills the queue: no acknowledgement",
         {{1024, 0, 0, 1}, {1024, std::nullopt, 0, 2}}},
        {"a third block is dropped and draws none",
         {{1024, 0, 0, 1}, {1024, std::nullopt, 0, 2}, {1024, std::nullopt, 1, 2}}},
        {"three blocks joined in one read", {{3072, std::nullopt, 1, 2}}},
        {"two blocks joined, then half a third",
         {{2048, std::nullopt, 0, 2}, {512, std::nullopt, 0, 2}}},
        {"uneven reads", {{1000, 1000, 0, 0}, {1000, 0, 0, 1}, {1072, std::nullopt, 1, 2}}},
        {"an empty read changes nothing", {{700, 700, 0, 0}, {0, std::nullopt, 0, 0}}},
    };
    for (const auto& c : cases) {
        PlaybackQueue queue;
        int index = 0;
        for (const Step& step : c.steps) {
            const auto result = queue.received(samples(step.bytes));
            const PlaybackQueue::Received expected{
                step.ack ? std::optional<QByteArray>(ack(*step.ack)) : std::nullopt, step.dropped};
            EXPECT_EQ(result, expected) << c.why << ", read " << index;
            EXPECT_EQ(queue.queuedBlocks(), step.queued) << c.why << ", read " << index;
            ++index;
        }
    }
}

TEST(PlaybackQueue, AcknowledgesWhenTheDeviceHasTakenABlock)
{
    PlaybackQueue queue;
    queue.received(samples(1024));
    queue.received(samples(1024, 1));
    queue.received(samples(1024, 2));
    EXPECT_EQ(queue.droppedBlocks(), 1u);
    queue.received(samples(100)); // count 100, waits for the next block
    EXPECT_FALSE(queue.taken(1000));
    EXPECT_EQ(queue.taken(24), ack(100));
    EXPECT_EQ(queue.queuedBlocks(), 1);
    EXPECT_EQ(queue.taken(1024), ack(100));
    EXPECT_EQ(queue.queuedBlocks(), 0);
    EXPECT_FALSE(queue.taken(10)); // nothing queued
}

// The device takes what it accepts; what it does not take waits, and nothing is played twice.
TEST(PlaybackQueue, KeepsWhatTheDeviceDidNotTake)
{
    const QByteArray stream = samples(1024 * 2);
    const struct
    {
        const char* why;
        QList<qint64> accepts;
    } cases[] = {
        {"whole blocks", {1024, 1024}},
        {"a block in two writes", {300, 724, 1024}},
        {"small writes", {1, 2, 1000, 21, 512, 512}},
        {"a device that would take more than the block", {4096, 4096}},
        {"a device that takes nothing at first", {0, 1024, 0, 1024}},
    };
    for (const auto& c : cases) {
        PlaybackQueue queue;
        queue.received(stream);
        QByteArray played;
        for (qint64 accept : c.accepts) {
            const QByteArrayView next = queue.nextForDevice();
            played += next.first(std::min<qint64>(accept, next.size())).toByteArray();
            queue.taken(accept);
        }
        EXPECT_EQ(played, stream) << c.why;
        EXPECT_TRUE(queue.nextForDevice().isEmpty()) << c.why;
        EXPECT_EQ(queue.queuedBlocks(), 0) << c.why;
    }
}

TEST(PlaybackQueue, PlaysEveryByteSentWhateverTheReadsWhenTheDeviceKeepsUp)
{
    const QByteArray stream = samples(1024 * 5);
    const QList<qsizetype> cuts[] = {{1024}, {600}, {1}, {1500}, {2048}, {333, 1200, 7}};
    for (const auto& sizes : cuts) {
        PlaybackQueue queue;
        QByteArray played;
        qsizetype at = 0;
        for (int i = 0; at < stream.size(); ++i) {
            const qsizetype size = std::min(sizes[i % sizes.size()], stream.size() - at);
            queue.received(QByteArrayView(stream).sliced(at, size));
            at += size;
            while (!queue.nextForDevice().isEmpty()) {
                played += queue.nextForDevice().toByteArray();
                queue.taken(queue.nextForDevice().size());
            }
        }
        EXPECT_EQ(played, stream) << sizes.first();
        EXPECT_EQ(queue.droppedBlocks(), 0u) << sizes.first();
    }
}

TEST(VoiceLegs, DecideIncomingOffers)
{
    const VoiceLeg ourFirst{"bob", true, false};
    const VoiceLeg bobsReturn{"bob", false, true};
    const VoiceLeg bobsFirst{"bob", false, false};
    const VoiceLeg ourReturn{"bob", true, true};
    const struct
    {
        const char* why;
        QList<VoiceLeg> legs;
        QByteArray sender;
        IncomingVoice decision;
    } cases[] = {
        {"no chat", {}, "bob", IncomingVoice::Ask},
        {"the return of our leg", {ourFirst}, "bob", IncomingVoice::AcceptAsReturn},
        {"nicks compare without case", {ourFirst}, "BoB", IncomingVoice::AcceptAsReturn},
        {"someone else", {ourFirst}, "carol", IncomingVoice::Ask},
        {"a third leg after the return", {ourFirst, bobsReturn}, "bob", IncomingVoice::Ask},
        {"a third leg on the accepting side", {bobsFirst, ourReturn}, "bob", IncomingVoice::Ask},
        {"a leg we offered as a return", {ourReturn}, "bob", IncomingVoice::Ask},
        {"an empty sender", {VoiceLeg{"", true, false}}, "", IncomingVoice::Ask},
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::incomingVoiceOffer(c.legs, c.sender), c.decision) << c.why;
}

TEST(VoiceLegs, OfferAReturnOnlyForAFirstLegWeAccepted)
{
    const VoiceLeg bobsFirst{"bob", false, false};
    const struct
    {
        const char* why;
        QList<VoiceLeg> legs;
        VoiceLeg connected;
        bool offers;
    } cases[] = {
        {"a first leg we accepted", {bobsFirst}, bobsFirst, true},
        {"its return is already offered", {bobsFirst, {"bob", true, true}}, bobsFirst, false},
        {"a return we accepted", {{"bob", false, true}}, {"bob", false, true}, false},
        {"a leg we offered", {{"bob", true, false}}, {"bob", true, false}, false},
        {"another peer's return does not count",
         {bobsFirst, {"carol", true, true}},
         bobsFirst,
         true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(peer::offersReturnLeg(c.legs, c.connected), c.offers) << c.why;
}

TEST(VoiceTexts, AreThoseTheProgramHasAlwaysShown)
{
    EXPECT_STREQ(peer::kVoiceChatOpenTitle, "Voice Chat Already Open");
    EXPECT_STREQ(peer::kVoiceChatOpenText,
                 "You can only have one voice chat session open at a time.  Please close your "
                 "exising voice chat window before continuing.");
    // The others are shown in the windows of the voice chat tests.
    EXPECT_EQ(peer::voiceStatusText(peer::VoiceStatus::PlaybackPrepareFailed),
              "waveoutprepareheader error");
}

TEST(VoiceStatusLog, DropsTheOldestLinesPast64KiB)
{
    peer::VoiceStatusLog log;
    log.append("Connecting...");
    log.append("Connection established.");
    EXPECT_EQ(log.text(), "Connecting...\r\nConnection established.\r\n");

    // 14 bytes a line: 4681 lines fit in 65536 bytes.
    for (int i = 1; i <= 5000; ++i)
        log.append(QString("status %1").arg(i, 5, 10, QChar('0')));
    EXPECT_EQ(log.bytes(), 4681 * 14);
    EXPECT_TRUE(log.text().startsWith("status 00320\r\n"));
    EXPECT_TRUE(log.text().endsWith("status 05000\r\n"));

    // Counted in UTF-8; the newest line stays even when it alone is over the limit.
    log.append(QString(40000, QChar(0xe9)));
    EXPECT_EQ(log.bytes(), 80002);
    EXPECT_EQ(log.text().size(), 40002);
    log.append("x");
    EXPECT_EQ(log.text(), "x\r\n");
}

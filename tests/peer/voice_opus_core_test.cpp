#include "peer/voice/jitter_buffer.h"
#include "peer/voice/voice_core.h"
#include "peer/voice/voice_negotiation.h"
#include "peer/voice/voice_send_queue.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

using peer::JitterBuffer;
using peer::VoiceCodec;
using peer::VoiceNegotiation;
using peer::VoiceSendQueue;
using Pop = peer::JitterBuffer::Pop;

namespace {

struct Arrival
{
    qint64 atMs;
    int seq; // wrapped to 16 bits when pushed
};

struct Played
{
    qint64 atMs;
    Pop pop;
};

QByteArray packetFor(int seq)
{
    return QByteArray::number(seq & 0xFFFF);
}

// Frame k arrives at 20 k, from frame `first` to before `end`.
std::vector<Arrival> steady(int first, int end, qint64 lateMs = 0)
{
    std::vector<Arrival> arrivals;
    for (int seq = first; seq < end; ++seq)
        arrivals.push_back({qint64(seq - first) * 20 + lateMs, seq});
    return arrivals;
}

// Runs the buffer on a fake clock: the device pops every 20 ms at 10 ms past the arrivals'
// grid, and arrivals due at a time are pushed before a pop at that time.
// `each` sees the buffer after every pop.
std::vector<Played> run(JitterBuffer& buffer, std::vector<Arrival> arrivals, qint64 fromMs,
                        qint64 untilMs, const std::function<void(qint64)>& each = {})
{
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.atMs < b.atMs; });
    std::vector<Played> played;
    size_t next = 0;
    for (qint64 now = fromMs + 10; now < untilMs; now += 20) {
        for (; next < arrivals.size() && arrivals[next].atMs <= now; ++next) {
            const int seq = arrivals[next].seq;
            buffer.push(quint16(seq), packetFor(seq), arrivals[next].atMs);
        }
        played.push_back({now, buffer.pop(now)});
        if (each)
            each(now);
    }
    return played;
}

int count(const std::vector<Played>& played, Pop::Kind kind, qint64 fromMs = 0)
{
    return int(std::count_if(played.begin(), played.end(), [&](const Played& p) {
        return p.atMs >= fromMs && p.pop.kind == kind;
    }));
}

} // namespace

TEST(JitterBuffer, SteadyArrivalsPlayInOrderAfterTheStartDelayWithoutConcealment)
{
    JitterBuffer buffer;
    const auto played = run(buffer, steady(0, 400), 0, 8000);
    const auto first = std::find_if(played.begin(), played.end(),
                                    [](const Played& p) { return p.pop.kind != Pop::Silence; });
    ASSERT_NE(first, played.end());
    EXPECT_EQ(first->atMs, 50); // frame 0 came at 0 and waited the 40 ms start delay
    EXPECT_EQ(first->pop.kind, Pop::Frame);
    EXPECT_EQ(first->pop.seq, 0);
    int expected = 0;
    const peer::JitterStats stats = buffer.stats();
    for (auto it = first; it != played.end() && it->pop.kind == Pop::Frame; ++it) {
        // Only a frame skipped to bring the delay down may be missing from the run.
        EXPECT_LE(it->pop.seq - expected, 1) << "at " << it->atMs;
        expected = it->pop.seq + 1;
        EXPECT_EQ(it->pop.packet, packetFor(it->pop.seq));
    }
    EXPECT_EQ(count(played, Pop::Conceal), 0);
    EXPECT_EQ(stats.concealed + stats.stretched + stats.droppedLate, 0u);
    // A steady stream keeps the delay it started with, the least: nothing to skip.
    EXPECT_EQ(stats.targetDelayMs, peer::kMinJitterDelayMs);
    EXPECT_EQ(stats.trimmed, 0u);
    EXPECT_EQ(stats.played + stats.trimmed + quint64(stats.bufferedMs / 20), 400u);
}

TEST(JitterBuffer, MissingLateAndDuplicateFramesAreConcealedOrDropped)
{
    const struct Case
    {
        const char* name;
        std::vector<Arrival> changes; // added to frames 0..99 at 20 k
        int leaveOut;                 // a frame that never comes at its time, or -1
        std::vector<int> concealedSeqs;
        quint64 late;
        quint64 duplicate;
    } cases[] = {
        {"missing", {}, 30, {30}, 0, 0},
        {"late after its slot", {{30 * 20 + 300, 30}}, 30, {30}, 1, 0},
        {"late but before its slot", {{30 * 20 + 40, 30}}, 30, {}, 0, 0},
        {"duplicate while held", {{30 * 20 + 5, 30}}, -1, {}, 0, 1},
        {"duplicate of one played", {{30 * 20 + 500, 30}}, -1, {}, 0, 1},
    };
    for (const Case& c : cases) {
        std::vector<Arrival> arrivals;
        for (const Arrival& a : steady(0, 100)) {
            if (a.seq != c.leaveOut)
                arrivals.push_back(a);
        }
        arrivals.insert(arrivals.end(), c.changes.begin(), c.changes.end());
        JitterBuffer buffer;
        const auto played = run(buffer, arrivals, 0, 1500);
        std::vector<int> concealed;
        int frames30 = 0;
        for (const Played& p : played) {
            if (p.pop.kind == Pop::Conceal)
                concealed.push_back(p.pop.seq);
            frames30 += p.pop.kind == Pop::Frame && p.pop.seq == 30;
        }
        EXPECT_EQ(concealed, c.concealedSeqs) << c.name;
        EXPECT_EQ(frames30, c.concealedSeqs.empty() ? 1 : 0) << c.name;
        EXPECT_EQ(buffer.stats().droppedLate, c.late) << c.name;
        EXPECT_EQ(buffer.stats().droppedDuplicate, c.duplicate) << c.name;
    }
}

// Frames that come 45 ms later for good leave nothing in hand after each pop: a frame waits one
// more slot now and then so that the delay grows, and no frame is lost to it.
TEST(JitterBuffer, FramesThatComeLaterForGoodMakeTheDelayGrowWithoutLosingOne)
{
    std::vector<Arrival> arrivals = steady(0, 50);
    for (const Arrival& later : steady(50, 200, 45))
        arrivals.push_back({later.atMs + 50 * 20, later.seq});
    JitterBuffer buffer;
    const auto played = run(buffer, arrivals, 0, 4200);
    std::vector<int> frames;
    for (const Played& p : played) {
        if (p.pop.kind == Pop::Frame)
            frames.push_back(p.pop.seq);
    }
    const peer::JitterStats stats = buffer.stats();
    EXPECT_GT(stats.stretched, 0u);
    EXPECT_EQ(stats.droppedLate, 0u);
    EXPECT_EQ(quint64(frames.size()) + stats.trimmed, 200u);
    EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
    EXPECT_EQ(frames.back(), 199);
}

TEST(JitterBuffer, AStallOfAHundredMillisecondsIsConcealedThenPlaybackCatchesUp)
{
    // Frames 50..54 are held up by the network and come with frame 55.
    std::vector<Arrival> arrivals = steady(0, 200);
    for (Arrival& a : arrivals) {
        if (a.seq >= 50 && a.seq < 55)
            a.atMs = 55 * 20;
    }
    JitterBuffer buffer;
    const auto played = run(buffer, arrivals, 0, 4000); // until the last frame came
    const peer::JitterStats stats = buffer.stats();
    // What could not wait was concealed, and exactly those frames came too late.
    EXPECT_GE(stats.concealed, 1u);
    EXPECT_LE(stats.concealed, 3u);
    EXPECT_EQ(stats.droppedLate, stats.concealed);
    EXPECT_EQ(count(played, Pop::Silence, 100), 0) << "playback never restarted";
    // The stream after the stall is whole, but for a frame skipped to bring the delay down.
    const int heard = int(std::count_if(played.begin(), played.end(), [](const Played& p) {
        return p.pop.kind == Pop::Frame && p.pop.seq >= 55;
    }));
    EXPECT_EQ(quint64(heard) + stats.trimmed + quint64(stats.bufferedMs / 20), 145u);
}

TEST(JitterBuffer, DelayGrowsFastOnJitterAndComesBackSlowlyWithinBounds)
{
    // Four seconds of frames sent in bursts of five every 100 ms, then steady ones.
    std::vector<Arrival> arrivals;
    for (int seq = 0; seq < 200; ++seq)
        arrivals.push_back({(seq / 5) * 100 + 80, seq});
    for (int seq = 200; seq < 800; ++seq)
        arrivals.push_back({qint64(seq) * 20, seq});
    JitterBuffer buffer;
    std::vector<int> targets;
    const auto played = run(buffer, arrivals, 0, 16000, [&](qint64 now) {
        targets.push_back(buffer.targetDelayMs());
        ASSERT_GE(buffer.targetDelayMs(), peer::kMinJitterDelayMs) << "at " << now;
        ASSERT_LE(buffer.targetDelayMs(), peer::kMaxJitterDelayMs) << "at " << now;
        ASSERT_LE(buffer.stats().bufferedMs, 200) << "at " << now;
    });
    const auto targetAt = [&](qint64 ms) { return targets[size_t((ms - 10) / 20)]; };
    EXPECT_EQ(targetAt(110), peer::kMaxJitterDelayMs) << "the first burst raises it";
    EXPECT_EQ(count(played, Pop::Conceal, 300), 0) << "bursts no longer reach the speaker late";
    // Steady from 4 s on: down one frame at a time, not before the bursts left the window.
    EXPECT_EQ(targetAt(4500), 80);
    EXPECT_GE(targetAt(6000), 60);
    EXPECT_EQ(targetAt(12000), peer::kMinJitterDelayMs);
    EXPECT_EQ(buffer.stats().droppedLate, 0u);
    EXPECT_GT(buffer.stats().trimmed, 0u);
    EXPECT_LE(buffer.stats().bufferedMs, 60);
}

TEST(JitterBuffer, SequenceNumbersWrapWithoutLosingFrames)
{
    JitterBuffer buffer;
    const auto played = run(buffer, steady(65500, 65500 + 100), 0, 2000);
    std::vector<int> seqs;
    for (const Played& p : played) {
        if (p.pop.kind == Pop::Frame)
            seqs.push_back(p.pop.seq);
    }
    ASSERT_FALSE(seqs.empty());
    EXPECT_EQ(seqs.front(), 65500);
    EXPECT_EQ(quint16(seqs.back() - seqs.front()) + 1 + buffer.stats().bufferedMs / 20, 100);
    for (size_t i = 1; i < seqs.size(); ++i)
        EXPECT_EQ(quint16(seqs[i] - seqs[i - 1]), 1) << i;
    EXPECT_EQ(count(played, Pop::Conceal), 0);
    EXPECT_EQ(buffer.stats().droppedLate + buffer.stats().droppedDuplicate, 0u);
    // A frame from before the wrap, sent again after it, is not mistaken for a new one.
    buffer.push(quint16(65500 + 90), packetFor(65500 + 90), 2000);
    EXPECT_EQ(buffer.stats().droppedDuplicate, 1u);
}

TEST(JitterBuffer, HoldsAtMostASecondDroppingTheOldestFirst)
{
    JitterBuffer buffer;
    for (int seq = 0; seq < 200; ++seq)
        buffer.push(quint16(seq), packetFor(seq), 0);
    EXPECT_EQ(buffer.stats().bufferedMs, 1000);
    EXPECT_EQ(buffer.stats().droppedOverflow, 150u);
    EXPECT_EQ(buffer.pop(0).kind, Pop::Silence);
    const Pop first = buffer.pop(100);
    EXPECT_EQ(first.kind, Pop::Frame);
    EXPECT_EQ(first.seq, 150);

    // A frame far ahead while playing does not stretch the buffer beyond a second either.
    buffer.push(5000, packetFor(5000), 120);
    EXPECT_LE(buffer.stats().bufferedMs, 1000);
    qint64 now = 120;
    Pop pop;
    for (int i = 0; i < 20 && pop.seq != 5000; ++i, now += 20)
        pop = buffer.pop(now);
    EXPECT_EQ(pop.kind, Pop::Frame) << "playback went on with the frame ahead";
    EXPECT_EQ(pop.seq, 5000);
}

TEST(JitterBuffer, ALongGapFallsSilentAndPlaybackStartsAgain)
{
    // The link stalls for a second; the sender's queue keeps only its newest five frames.
    std::vector<Arrival> arrivals = steady(0, 50);
    for (int seq = 95; seq < 100; ++seq)
        arrivals.push_back({1990, seq});
    for (int seq = 100; seq < 150; ++seq)
        arrivals.push_back({qint64(seq) * 20, seq});
    JitterBuffer buffer;
    const auto played = run(buffer, arrivals, 0, 3000);
    const peer::JitterStats stats = buffer.stats();
    EXPECT_EQ(stats.concealed, 5u) << "concealment gives way to silence after 100 ms";
    EXPECT_EQ(count(played, Pop::Silence, 1200) - count(played, Pop::Silence, 1990), 39)
        << "every pop from 1210 to 1970";
    EXPECT_EQ(count(played, Pop::Silence, 2100), 0);
    EXPECT_EQ(stats.droppedLate + stats.droppedOverflow, 0u);
    EXPECT_EQ(stats.played + stats.trimmed + quint64(stats.bufferedMs / 20), 50u + 55u);
}

TEST(VoiceSendQueue, DropsTheOldestWhileTheSocketIsBackedUpAndNeverGrowsPastTheBound)
{
    VoiceSendQueue queue(100);
    EXPECT_EQ(queue.maxFrames(), 5);
    EXPECT_FALSE(queue.offer({}));
    qint64 socketBacklog = 40; // the socket still holds bytes: nothing more is handed to it
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(queue.offer(QByteArray(10 + i, char(i))));
        EXPECT_EQ(queue.take(socketBacklog), std::nullopt);
        EXPECT_LE(queue.framesPending(), 5);
    }
    EXPECT_EQ(queue.dropped(), 7u);
    EXPECT_EQ(queue.bytesPending(), 17 + 18 + 19 + 20 + 21);
    socketBacklog = 0;
    for (int i = 7; i < 12; ++i)
        EXPECT_EQ(queue.take(socketBacklog), QByteArray(10 + i, char(i))) << "the newest, in order";
    EXPECT_EQ(queue.take(socketBacklog), std::nullopt);
    EXPECT_EQ(queue.bytesPending(), 0);
    EXPECT_EQ(queue.taken(), 5u);
}

namespace {

QByteArray word(const char* text)
{
    return QByteArray(text, peer::kVoiceOpusWordBytes);
}

} // namespace

TEST(VoiceNegotiation, TwoOpusSidesAgreeBeforeAnySound)
{
    VoiceNegotiation capture(VoiceNegotiation::Side::Capture);
    VoiceNegotiation playback(VoiceNegotiation::Side::Playback);
    const auto offer = capture.connected(1000);
    EXPECT_EQ(playback.connected(1001), VoiceNegotiation::Step{});
    EXPECT_EQ(offer.send, word(peer::kVoiceOpusOffer));
    // The offer comes in two reads.
    EXPECT_EQ(playback.received(offer.send.left(3), 1050), VoiceNegotiation::Step{});
    const auto accept = playback.received(offer.send.mid(3), 1051);
    EXPECT_EQ(accept.send, word(peer::kVoiceOpusAccept));
    EXPECT_EQ(playback.codec(), VoiceCodec::Undecided);
    const auto confirm = capture.received(accept.send, 1100);
    EXPECT_EQ(capture.codec(), VoiceCodec::Opus);
    EXPECT_EQ(capture.deadline(), std::nullopt);
    // The confirm and the first packet arrive in one read: the packet is the codec's.
    const auto step = playback.received(confirm.send + "packet", 1150);
    EXPECT_EQ(playback.codec(), VoiceCodec::Opus);
    EXPECT_EQ(step, (VoiceNegotiation::Step{{}, "packet"}));
}

TEST(VoiceNegotiation, APlainPlayerIsTalkedToPlainlyAtOnce)
{
    VoiceNegotiation capture(VoiceNegotiation::Side::Capture);
    peer::PlaybackQueue plainPlayer;
    const auto offer = capture.connected(0);
    const auto heard = plainPlayer.received(offer.send);
    ASSERT_TRUE(heard.ack) << "a plain player acknowledges what it read";
    const auto step = capture.received(*heard.ack, 80);
    EXPECT_EQ(capture.codec(), VoiceCodec::Plain);
    EXPECT_FALSE(capture.timedOut());
    EXPECT_TRUE(step.send.isEmpty());
    // The acknowledgement goes on to the plain sender, where it releases nothing.
    peer::CaptureGate gate;
    EXPECT_FALSE(gate.received(step.passOn));
    EXPECT_TRUE(gate.captured(QByteArray(peer::kVoiceBlockBytes, '\x80')).has_value());
}

TEST(VoiceNegotiation, ASilentPeerGetsThePlainChatWithinFiveSecondsAndNoOpusNoWait)
{
    VoiceNegotiation capture(VoiceNegotiation::Side::Capture);
    capture.connected(10'000);
    ASSERT_TRUE(capture.deadline());
    EXPECT_LE(*capture.deadline() - 10'000, 5000);
    capture.elapsed(*capture.deadline() - 1);
    EXPECT_EQ(capture.codec(), VoiceCodec::Undecided);
    capture.elapsed(*capture.deadline());
    EXPECT_EQ(capture.codec(), VoiceCodec::Plain);
    EXPECT_TRUE(capture.timedOut());

    // A side without Opus speaks plainly at once and sends nothing.
    VoiceNegotiation plain(VoiceNegotiation::Side::Capture, false);
    EXPECT_EQ(plain.connected(0), VoiceNegotiation::Step{});
    EXPECT_EQ(plain.codec(), VoiceCodec::Plain);
    EXPECT_EQ(plain.deadline(), std::nullopt);
    EXPECT_EQ(plain.received(word(peer::kVoiceOpusAccept), 5).passOn, word(peer::kVoiceOpusAccept));
}

TEST(VoiceNegotiation, AnAcceptAfterTheWaitIsDroppedAndBothSidesGoPlain)
{
    VoiceNegotiation capture(VoiceNegotiation::Side::Capture);
    VoiceNegotiation playback(VoiceNegotiation::Side::Playback);
    const auto offer = capture.connected(0);
    playback.connected(0);
    const auto accept = playback.received(offer.send, 10);
    // The accept is read only after the wait: the capturer already sends samples.
    const auto late = capture.received(accept.send + QByteArray(4, '\0'), 2500);
    EXPECT_EQ(capture.codec(), VoiceCodec::Plain);
    EXPECT_EQ(late, (VoiceNegotiation::Step{{}, QByteArray(4, '\0')}));
    const QByteArray samples(peer::kVoiceBlockBytes, '\x80');
    const auto step = playback.received(samples, 2600);
    EXPECT_EQ(playback.codec(), VoiceCodec::Plain);
    EXPECT_EQ(step, (VoiceNegotiation::Step{{}, samples}));
}

TEST(VoiceNegotiation, APlainCapturerIsNeverSentAnything)
{
    // Samples that open like the offer cost their 8 bytes, not the chat.
    const QByteArray lookalike = word(peer::kVoiceOpusOffer) + QByteArray(1016, '\x80');
    const QByteArray samples = QByteArray(peer::kVoiceBlockBytes, 'K');
    for (const QByteArray& block : {samples, lookalike}) {
        VoiceNegotiation playback(VoiceNegotiation::Side::Playback);
        EXPECT_TRUE(playback.connected(0).send.isEmpty());
        EXPECT_EQ(playback.deadline(), std::nullopt);
        QByteArray sent;
        QByteArray passed;
        for (qsizetype at = 0; at < block.size(); at += 300) {
            const auto step = playback.received(
                QByteArrayView(block).sliced(at).first(std::min<qsizetype>(300, block.size() - at)),
                at);
            sent += step.send;
            passed += step.passOn;
        }
        EXPECT_EQ(playback.codec(), VoiceCodec::Plain);
        if (block == samples) {
            EXPECT_TRUE(sent.isEmpty());
            EXPECT_EQ(passed, samples) << "every sample reaches the player";
        } else {
            EXPECT_EQ(passed, block.mid(peer::kVoiceOpusWordBytes));
        }
    }
}

TEST(VoiceNegotiation, HostileAndRepeatedAnswersDecideOnceAndSafely)
{
    const struct Case
    {
        const char* name;
        VoiceNegotiation::Side side;
        QByteArray reads;
        VoiceCodec codec;
        QByteArray passOn;
    } cases[] = {
        {"an accept said twice", VoiceNegotiation::Side::Capture,
         word(peer::kVoiceOpusAccept) + word(peer::kVoiceOpusAccept), VoiceCodec::Opus,
         word(peer::kVoiceOpusAccept)},
        {"a word that only starts like the accept", VoiceNegotiation::Side::Capture, "KVOPUS/X",
         VoiceCodec::Plain, "KVOPUS/X"},
        {"our own offer echoed", VoiceNegotiation::Side::Capture, word(peer::kVoiceOpusOffer),
         VoiceCodec::Plain, word(peer::kVoiceOpusOffer)},
        {"an offer said twice", VoiceNegotiation::Side::Playback,
         word(peer::kVoiceOpusOffer) + word(peer::kVoiceOpusOffer), VoiceCodec::Plain,
         word(peer::kVoiceOpusOffer)},
        {"a confirm without an offer", VoiceNegotiation::Side::Playback,
         word(peer::kVoiceOpusConfirm), VoiceCodec::Plain, word(peer::kVoiceOpusConfirm)},
    };
    for (const Case& c : cases) {
        VoiceNegotiation side(c.side);
        side.connected(0);
        QByteArray passed;
        for (const char byte : c.reads)
            passed += side.received(QByteArrayView(&byte, 1), 10).passOn;
        EXPECT_EQ(side.codec(), c.codec) << c.name;
        EXPECT_EQ(passed, c.passOn) << c.name;
    }
}

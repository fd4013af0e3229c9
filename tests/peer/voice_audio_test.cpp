// A voice chat between two programs' voice chats in one process, through the test sound server:
// a tone spoken into one side's microphone must come out of the other side's speaker at the same
// frequency, both ways, and closing one window must end the chat on both sides.
#include "peer/voice_window.h"
#include "tests/peer/voice_audio_rig.h"

#include <QPointer>
#include <gtest/gtest.h>

#include <chrono>

using voicerig::Heard;
using voicerig::Pair;
using voicerig::speakAndListen;
using voicerig::Watchdog;

namespace {

constexpr char kPeerClosed[] =
    "Connection terminated.  The other user may have closed the connection.";

std::string lastLine(const QString& text)
{
    const QStringList lines = text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    return lines.isEmpty() ? std::string() : lines.last().toStdString();
}

TEST(VoiceAudioTest, ToneCrossesBothWaysAndClosingEndsBothSides)
{
    Watchdog watchdog("voice_audio_test", std::chrono::seconds(30));
    if (const auto missing = voicerig::missingDevice()) {
        FAIL() << "audio device " << missing->toStdString()
               << " is missing: run this test through tools/test, which starts the test sound "
                  "server with its devices";
    }

    // The harness's own path first, without the program: what is spoken into a mouth reaches
    // its microphone. When this fails, the sound server is at fault, not the voice chat. (One
    // test, not two: ctest may run tests side by side, and both would speak into the same mouth.)
    watchdog.stage("harness check");
    const Heard direct = speakAndListen("kivvo_a_mouth", "kivvo_a_mic", 440, 1000);
    ASSERT_TRUE(direct.onset) << "silence on kivvo_a_mic (level " << direct.maxLevel << " over "
                              << direct.captured
                              << " samples): the sound server does not carry "
                                 "sound";
    std::printf("mouth to microphone: %s\n", testing::PrintToString(direct).c_str());
    ASSERT_GT(direct.share, 0.9) << direct;
    ASSERT_GT(direct.loud, 0.99) << direct;

    watchdog.stage("connecting");
    Pair pair;
    pair.alice.start("bob");
    ASSERT_EQ(pair.alice.count(), 1);
    ASSERT_TRUE(voicerig::spinUntil([&] { return pair.connected(); }, 5000))
        << "alice: " << pair.alice.count() << " calls, bob: " << pair.bob.count() << " calls";
    // Bob was asked about the first link; Alice took his return link without a question.
    EXPECT_EQ(pair.aliceHost.peerAsked, 1);
    EXPECT_EQ(pair.bobHost.peerAsked, 0);
    EXPECT_EQ(pair.aliceHost.unreadable + pair.bobHost.unreadable, 0);

    watchdog.stage("alice speaks 440 Hz");
    const Heard atBob = speakAndListen("kivvo_a_mouth", "kivvo_b_ear", 440, 1000);
    ASSERT_TRUE(atBob.onset) << "bob's speaker stayed silent (level " << atBob.maxLevel << " over "
                             << atBob.captured << " samples)";
    std::printf("alice to bob: %s\n", testing::PrintToString(atBob).c_str());
    // Gaps are how the link keeps its delay short, but most of the time there must be sound.
    EXPECT_GT(atBob.share, 0.8) << atBob;
    EXPECT_LT(atBob.otherShare, 0.05) << atBob;
    EXPECT_GT(atBob.loud, 0.5) << atBob;

    watchdog.stage("bob speaks 1000 Hz");
    const Heard atAlice = speakAndListen("kivvo_b_mouth", "kivvo_a_ear", 1000, 440);
    ASSERT_TRUE(atAlice.onset) << "alice's speaker stayed silent (level " << atAlice.maxLevel
                               << " over " << atAlice.captured << " samples)";
    std::printf("bob to alice: %s\n", testing::PrintToString(atAlice).c_str());
    EXPECT_GT(atAlice.share, 0.8) << atAlice;
    EXPECT_LT(atAlice.otherShare, 0.05) << atAlice;
    EXPECT_GT(atAlice.loud, 0.5) << atAlice;

    watchdog.stage("alice closes");
    QPointer<peer::VoiceCall> aliceCall = pair.alice.at(0);
    peer::VoiceCall* bobCall = pair.bob.at(0);
    peer::VoiceWindow* aliceWindow = pair.alice.windowOf(aliceCall);
    ASSERT_NE(aliceWindow, nullptr);
    aliceWindow->close();
    ASSERT_TRUE(
        voicerig::spinUntil([&] { return bobCall->hasEnded() && pair.alice.count() == 0; }, 3000));
    // Whatever was queued by the ending runs too.
    voicerig::spinFor(100);
    // Alice's chat went with her window, and its devices with it.
    EXPECT_TRUE(aliceCall.isNull());
    EXPECT_FALSE(bobCall->isCapturing());
    EXPECT_FALSE(bobCall->isPlaying());
    EXPECT_EQ(lastLine(pair.bob.statusLog().text()), kPeerClosed);
    peer::VoiceWindow* bobWindow = pair.bob.windowOf(bobCall);
    ASSERT_NE(bobWindow, nullptr);
    EXPECT_TRUE(bobWindow->statusText().endsWith(QLatin1String(kPeerClosed)));
    watchdog.stage("tearing down");
}

} // namespace

// Two whole programs on a real ngircd hold a voice chat through the test sound server: the offer
// goes over the server from the Voice Chat command, the peer is asked once, the return link
// comes back unasked, and a tone spoken on each side is heard on the other. Their devices come
// from the sound module, as in the program: loaded by the chat, not before.
#include "peer/voice/sound_module.h"
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_link.h"
#include "tests/peer/voice_audio_rig.h"
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/speech_sample.h"
#include "tests/support/wait_for.h"

#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>

using test::waitFor;

namespace {

// How closely the spoken sentence must come out at the other end, through two sound devices and
// their resampling, Opus at 24 kbit/s and the jitter buffer, piece by piece: measured 0.87 here
// (the codec alone gives 0.96); noise, a wrong rate or a stalled link fall far below 0.7. As one
// piece it comes to only about 0.25, since the devices' clocks drift and the jitter buffer drops
// or makes up a frame now and then, which shifts all that follows.
constexpr double kSentenceCorrelation = 0.7;

int connectedLinks(peer::VoiceChats& voice)
{
    int connected = 0;
    for (int call = 0; call < voice.count(); ++call) {
        for (int i = 0; i < voice.at(call)->linkCount(); ++i)
            connected += voice.at(call)->link(i)->isConnected();
    }
    return connected;
}

// Whether the sound module is mapped into this process. The harness links Qt Multimedia itself,
// so the module's own file is what tells.
bool moduleMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(KIVVO_SOUND_MODULE_PATH);
}

std::unique_ptr<test::ProgramCore> startProgram(quint16 port, const QByteArray& nick, char party,
                                                std::shared_ptr<peer::ModuleSoundSystem>& sound)
{
    test::CoreOptions options;
    options.nick = nick;
    options.serverPort = port;
    const QByteArray prefix = QByteArray("kivvo_") + party;
    sound = std::make_shared<peer::ModuleSoundSystem>(QStringLiteral(KIVVO_SOUND_MODULE_PATH),
                                                      prefix + "_mic", prefix + "_speaker");
    options.sound = sound;
    return std::make_unique<test::ProgramCore>(options);
}

using VoiceEndToEnd = test::NgircdTest;

TEST_F(VoiceEndToEnd, TwoProgramsTalkBothWaysThroughTheServer)
{
    voicerig::Watchdog watchdog("voice_e2e_test", std::chrono::seconds(50));
    if (const auto missing = voicerig::missingDevice()) {
        FAIL() << "audio device " << missing->toStdString()
               << " is missing: run this test through tools/test, which starts the test sound "
                  "server with its devices";
    }
    // The harness's own path first, without the program: what is spoken into a mouth reaches
    // its microphone. When this fails, the sound server is at fault, not the voice chat.
    watchdog.stage("harness check");
    const voicerig::Heard direct =
        voicerig::speakAndListen("kivvo_a_mouth", "kivvo_a_mic", 440, 1000);
    ASSERT_TRUE(direct.onset) << "silence on kivvo_a_mic (level " << direct.maxLevel << " over "
                              << direct.captured << " samples): the sound server carries no sound";
    ASSERT_GT(direct.share, 0.9) << direct;
    ASSERT_GT(direct.loud, 0.99) << direct;

    watchdog.stage("starting");
    std::shared_ptr<peer::ModuleSoundSystem> aliceSound;
    std::shared_ptr<peer::ModuleSoundSystem> bobSound;
    auto alice = startProgram(server.port(), "alice", 'a', aliceSound);
    auto bob = startProgram(server.port(), "bob", 'b', bobSound);
    ASSERT_TRUE(online({"alice", "bob"}));
    EXPECT_FALSE(aliceSound->isLoaded() || bobSound->isLoaded());
    EXPECT_FALSE(moduleMapped()) << "two programs started and the sound module is loaded";

    watchdog.stage("connecting");
    bob->prompter->answers = {true};
    ASSERT_TRUE(alice->program->commands().run(app::Command::VoiceChat, QByteArray("bob")));
    peer::VoiceChats& aliceVoice = alice->program->voiceChats();
    peer::VoiceChats& bobVoice = bob->program->voiceChats();
    ASSERT_TRUE(waitFor(
        [&] { return connectedLinks(aliceVoice) == 2 && connectedLinks(bobVoice) == 2; }, 10000));
    EXPECT_TRUE(aliceSound->isLoaded() && bobSound->isLoaded());
    EXPECT_TRUE(moduleMapped());
    EXPECT_EQ(bob->prompter->questions.size(), 1u);
    EXPECT_TRUE(alice->prompter->questions.empty()) << "the return link is taken unasked";
    ASSERT_EQ(aliceVoice.count(), 1);
    ASSERT_EQ(bobVoice.count(), 1);
    // The devices open once each link has agreed on Opus with its peer.
    const auto allOpus = [](const peer::VoiceChats& voice) {
        const peer::VoiceCall* call = voice.at(0);
        for (int i = 0; i < call->linkCount(); ++i) {
            if (call->link(i)->codec() != peer::VoiceCodec::Opus)
                return false;
        }
        return call->linkCount() == 2 && call->isCapturing() && call->isPlaying();
    };
    ASSERT_TRUE(waitFor([&] { return allOpus(aliceVoice) && allOpus(bobVoice); }, 5000));

    watchdog.stage("alice speaks 440 Hz");
    const voicerig::Heard atBob =
        voicerig::speakAndListen("kivvo_a_mouth", "kivvo_b_ear", 440, 1000);
    ASSERT_TRUE(atBob.onset) << "bob's speaker stayed silent";
    EXPECT_GT(atBob.share, 0.8) << atBob;
    EXPECT_LT(atBob.otherShare, 0.05) << atBob;
    // Gaps are how the link keeps its delay short, but most of the time there must be sound.
    EXPECT_GT(atBob.loud, 0.5) << atBob;

    watchdog.stage("bob speaks 1000 Hz");
    const voicerig::Heard atAlice =
        voicerig::speakAndListen("kivvo_b_mouth", "kivvo_a_ear", 1000, 440);
    ASSERT_TRUE(atAlice.onset) << "alice's speaker stayed silent";
    EXPECT_GT(atAlice.share, 0.8) << atAlice;
    EXPECT_LT(atAlice.otherShare, 0.05) << atAlice;
    EXPECT_GT(atAlice.loud, 0.5) << atAlice;

    watchdog.stage("alice says a sentence");
    if (const std::optional<QVector<qint16>> sentence = test::spokenSentence()) {
        QElapsedTimer clock;
        clock.start();
        const peer::SoundFormat format = peer::SoundFormat::opus();
        voicerig::Ear ear(voicerig::findInput("kivvo_b_ear"), clock, format);
        voicerig::Mouth mouth(voicerig::findOutput("kivvo_a_mouth"), clock, format);
        mouth.tone().play(
            QByteArray(reinterpret_cast<const char*>(sentence->constData()), sentence->size() * 2));
        voicerig::spinFor(int(sentence->size() / 48) + 1500);
        QVector<qint16> heard(ear.samples().size() / 2);
        std::memcpy(heard.data(), ear.samples().constData(), size_t(heard.size()) * 2);
        // The path's delay is found, not assumed: first by the millisecond, then exactly.
        const test::Match coarse = test::bestMatch(*sentence, heard, 48000, 48);
        test::Match match = coarse;
        for (qsizetype lag = std::max<qsizetype>(0, coarse.lag - 48); lag <= coarse.lag + 48;
             ++lag) {
            const double c = test::correlation(*sentence, heard, lag);
            if (c > match.correlation)
                match = {lag, c};
        }
        const double followed = test::windowedCorrelation(*sentence, heard, match.lag);
        std::cout << "[ measured ] spoken sentence alice -> bob: delay " << match.lag / 48
                  << " ms, correlation " << match.correlation << " as a whole, " << followed
                  << " by 100 ms pieces" << std::endl;
        EXPECT_GT(followed, kSentenceCorrelation);
    } else {
        std::cout << "espeak-ng is missing: the sentence was not spoken" << std::endl;
    }

    watchdog.stage("bob exits");
    bob->program->closeStep();
    ASSERT_TRUE(waitFor([&] { return aliceVoice.at(0)->hasEnded(); }, 5000));
    EXPECT_FALSE(aliceVoice.at(0)->isCapturing() || aliceVoice.at(0)->isPlaying());
    EXPECT_TRUE(
        aliceVoice.statusLogOf(aliceVoice.at(0))
            .text()
            .endsWith(
                "Connection terminated.  The other user may have closed the connection.\r\n"));
}

} // namespace

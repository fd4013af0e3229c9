// Voice chats on real loopback sockets, with scripted sound devices that capture and play on
// command: what goes over the wire, what the devices get, the status lines, the two links of a
// chat and the release of everything on every way a chat ends.
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_link.h"
#include "peer/voice/voice_negotiation.h"
#include "peer/voice/voice_window.h"
#include "tests/support/scripted_host.h"
#include "tests/support/scripted_sound.h"
#include "tests/support/transfer_acks.h"
#include "tests/support/wait_for.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>

using peer::VoiceCodec;
using peer::VoiceStatus;
using test::ack;
using test::ScriptedOutput;
using test::ScriptedSound;
using test::waitFor;

namespace {

constexpr char kPeerClosed[] =
    "Connection terminated.  The other user may have closed the connection.";

QByteArray samples(qsizetype size, char first = 0)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(first + i * 7);
    return data;
}

// One side of a voice chat: its voice chats with scripted devices.
// A side speaks only the plain voice chat unless `opus` says otherwise, as programs did before
// Opus: most of the suite pins that chat byte for byte.
struct Side
{
    explicit Side(const QByteArray& nick, bool opus = false)
        : host(nick)
        , voice(host, sound)
    {
        voice.setOpus(opus);
    }
    test::ScriptedHost host;
    ScriptedSound sound;
    peer::VoiceChats voice;

    peer::VoiceCall* call(int index = 0) const
    {
        return voice.count() > index ? voice.at(index) : nullptr;
    }
    QString status(int index = 0) const
    {
        const peer::VoiceWindow* window = call(index) ? voice.windowOf(call(index)) : nullptr;
        return window ? window->statusText() : QStringLiteral("<no window>");
    }
    int connectedLinks(int index = 0) const
    {
        int connected = 0;
        if (const peer::VoiceCall* c = call(index)) {
            for (int i = 0; i < c->linkCount(); ++i)
                connected += c->link(i)->isConnected();
        }
        return connected;
    }
    // Alice's offer taken by a scripted player, as bob's program would.
    void connectPlayer(QTcpSocket& player)
    {
        player.connectToHost(QHostAddress::LocalHost, host.lastOffer(irc::DccKind::Voice)->port);
        ASSERT_TRUE(waitFor([&] { return connectedLinks() == 1; }));
    }
    // Takes an offer as the offer inbox does, saying yes when asked.
    void receive(const irc::DccOffer& offer, int* asked = nullptr)
    {
        if (!voice.answersOurOffer(offer) && asked)
            ++*asked;
        voice.accept(offer);
    }
};

// Alice offers bob a voice chat, bob takes it and offers the return link, alice takes that.
void connectBothWays(Side& alice, Side& bob, const QByteArray& as = "bob", int* asked = nullptr)
{
    alice.voice.start(as);
    bob.receive(*alice.host.lastOffer(irc::DccKind::Voice), asked);
    ASSERT_TRUE(waitFor([&] { return bob.host.sent.size() == 1; }));
    alice.receive(*bob.host.lastOffer(irc::DccKind::Voice), asked);
    ASSERT_TRUE(waitFor([&] { return alice.connectedLinks() == 2 && bob.connectedLinks() == 2; }));
}

// The capturing side with a scripted player at the other end of the link.
TEST(VoiceCapture, PeerCloseEndsTheChatAndReleasesEverythingButTheWindow)
{
    Side alice{"alice"};
    QTcpSocket player;
    alice.voice.start("bob");
    const auto offer = alice.host.lastOffer(irc::DccKind::Voice);
    ASSERT_TRUE(offer);
    ASSERT_EQ(offer->address, QHostAddress(0x7F000001u));
    ASSERT_NO_FATAL_FAILURE(alice.connectPlayer(player));
    ASSERT_EQ(alice.sound.devices.openInputs, 1);
    player.disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return alice.call()->hasEnded(); }));
    EXPECT_EQ(alice.sound.devices.openInputs, 0);
    EXPECT_EQ(alice.call()->linkCount(), 0);
    EXPECT_EQ(alice.status(), "Connecting...\nConnection established.\n" + QString(kPeerClosed));
    // The window stays with its last words, and the user closes it.
    peer::VoiceWindow* window = alice.voice.windowOf(alice.call());
    ASSERT_TRUE(window && window->isVisible());
    // A second chat waits until that window is closed.
    QSignalSpy refused(&alice.voice, &peer::VoiceChats::alreadyOpen);
    alice.voice.start("carol");
    EXPECT_EQ(refused.count(), 1);
    EXPECT_EQ(alice.host.sent.size(), 1);
    window->findChild<QPushButton*>()->click();
    ASSERT_TRUE(waitFor([&] { return alice.voice.count() == 0; }));
    alice.voice.start("carol");
    EXPECT_EQ(alice.host.sent.size(), 2);
}

TEST(VoiceCapture, DeviceFailuresAreStatusLinesAndStopCaptureOnly)
{
    const std::pair<VoiceStatus, const char*> failures[] = {
        {VoiceStatus::CaptureOpenFailed, "waveInOpen error"},
        {VoiceStatus::CaptureQueueFailed, "waveInAddBuffer error"},
        {VoiceStatus::CaptureStartFailed, "waveInStart error"},
    };
    for (const auto& [failure, text] : failures) {
        Side alice("alice");
        alice.sound.devices.inputFails = failure;
        alice.voice.start("bob");
        QTcpSocket player;
        ASSERT_NO_FATAL_FAILURE(alice.connectPlayer(player));
        EXPECT_EQ(alice.status(),
                  QStringLiteral("Connecting...\nConnection established.\n") + text);
        EXPECT_FALSE(alice.call()->isCapturing());
        EXPECT_FALSE(alice.call()->hasEnded()) << "the link stays; the other way may still play";
    }
    // A device that breaks down while capturing says so once and is released.
    Side alice("alice");
    alice.voice.start("bob");
    QTcpSocket player;
    ASSERT_NO_FATAL_FAILURE(alice.connectPlayer(player));
    alice.sound.lastInput->breakDown(VoiceStatus::CaptureQueueFailed);
    EXPECT_EQ(alice.sound.devices.openInputs, 0);
    EXPECT_FALSE(alice.call()->isCapturing());
    EXPECT_TRUE(alice.status().endsWith("\nwaveInAddBuffer error"));
}

// The playing side, connected to a scripted capturer that listens for it.
class PlayingSide : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(capturer.listen(QHostAddress::LocalHost));
        bob.voice.accept(irc::DccOffer::active(irc::DccKind::Voice, "alice", {}, 0x7F000001,
                                               capturer.serverPort(), 0));
        ASSERT_TRUE(waitFor([&] { return capturer.hasPendingConnections(); }));
        link = capturer.nextPendingConnection();
        ASSERT_TRUE(waitFor([&] { return bob.connectedLinks() == 1; }));
        output = bob.sound.lastOutput;
        ASSERT_TRUE(output);
    }
    // Sends `data` as one write and collects the acknowledgements that come back.
    QList<quint32> send(const QByteArray& data, int expectAcks)
    {
        link->write(data);
        link->flush();
        return acks(expectAcks);
    }
    QList<quint32> acks(int expect)
    {
        waitFor([&] { return pending.size() + link->bytesAvailable() >= expect * 4; }, 1000);
        QTest::qWait(expect == 0 ? 100 : 0);
        pending += link->readAll();
        QList<quint32> values;
        while (pending.size() >= 4) {
            values << qFromBigEndian<quint32>(pending.constData());
            pending.remove(0, 4);
        }
        return values;
    }

    Side bob{"bob"};
    QTcpServer capturer;
    QTcpSocket* link = nullptr;
    QPointer<ScriptedOutput> output;
    QByteArray pending;
};

TEST_F(PlayingSide, OffersTheReturnLinkAndPlaysWhatArrives)
{
    EXPECT_EQ(bob.status(), "Connection established.");
    // The return link goes to the nick that offered, once the link is up.
    const auto back = bob.host.lastOffer(irc::DccKind::Voice);
    ASSERT_TRUE(back);
    EXPECT_TRUE(bob.host.sent.last().startsWith("PRIVMSG alice :\x01"
                                                "DCC VOICE 2130706433 "));
    EXPECT_EQ(bob.host.sent.size(), 1);

    // The link counts and acknowledges as the queue does, and the device gets the samples whole.
    EXPECT_EQ(send(samples(600), 1), QList<quint32>{600});
    EXPECT_EQ(send(samples(424, 3), 1), QList<quint32>{0});
    output->drain(1024);
    EXPECT_EQ(bob.sound.devices.played, samples(600) + samples(424, 3));
}

TEST_F(PlayingSide, PeerCloseEndsBothLinksAndReleasesTheDevice)
{
    ASSERT_EQ(bob.sound.devices.openOutputs, 1);
    ASSERT_EQ(bob.call()->linkCount(), 2) << "the return link listens";
    link->disconnectFromHost();
    ASSERT_TRUE(waitFor([&] { return bob.call()->hasEnded(); }));
    EXPECT_EQ(bob.sound.devices.openOutputs, 0);
    EXPECT_EQ(bob.call()->linkCount(), 0);
    EXPECT_EQ(bob.status(), "Connection established.\n" + QString(kPeerClosed));
    // The return link's port no longer listens.
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, bob.host.lastOffer(irc::DccKind::Voice)->port);
    EXPECT_FALSE(late.waitForConnected(1000) && late.waitForReadyRead(200));
}

TEST_F(PlayingSide, AFailingDeviceSaysSoOnceAndTheLinkGoesOn)
{
    bob.sound.devices.writeFails = VoiceStatus::PlaybackWriteFailed;
    send(samples(1024), 1);
    ASSERT_TRUE(waitFor([&] { return !bob.call()->isPlaying(); }));
    EXPECT_TRUE(bob.status().endsWith("\nwaveoutwrite error"));
    EXPECT_FALSE(bob.call()->isPlaying());
    send(samples(1024), 0);
    EXPECT_EQ(bob.status().count("waveoutwrite error"), 1);
    EXPECT_FALSE(bob.call()->hasEnded());
}

TEST(VoicePlayback, WithoutAPlaybackDeviceTheReturnLinkIsStillOfferedAndAnUnreachableOfferEnds)
{
    Side bob("bob");
    bob.sound.devices.outputFails = VoiceStatus::PlaybackOpenFailed;
    QTcpServer capturer;
    ASSERT_TRUE(capturer.listen(QHostAddress::LocalHost));
    const quint16 port = capturer.serverPort();
    const auto offer = [port] {
        return irc::DccOffer::active(irc::DccKind::Voice, "alice", {}, 0x7F000001, port, 0);
    };
    bob.voice.accept(offer());
    ASSERT_TRUE(waitFor([&] { return bob.connectedLinks() == 1; }));
    EXPECT_EQ(bob.status(), "Connection established.\nwaveoutopen error");
    EXPECT_EQ(bob.host.sent.size(), 1);

    Side carol("carol");
    capturer.close();
    carol.voice.accept(offer());
    ASSERT_TRUE(waitFor([&] { return carol.call()->hasEnded(); }));
    EXPECT_EQ(carol.status(), "Connection established.\n" + QString(kPeerClosed));
    EXPECT_TRUE(carol.host.sent.isEmpty()) << "no return link for a link that never came up";
}

// Two sides that each follow the rules, with offers passed between them as the server would.
TEST(VoiceChat, IsTwoLinksOneEachWayAndTheOffersStop)
{
    Side alice("alice");
    Side bob("bob");
    int asked = 0;
    // The contact list's spelling.
    ASSERT_NO_FATAL_FAILURE(connectBothWays(alice, bob, "Bob", &asked));
    QTest::qWait(100);
    EXPECT_EQ(asked, 1) << "only the first offer is a question";
    EXPECT_EQ(alice.host.sent.size(), 1);
    EXPECT_EQ(bob.host.sent.size(), 1);
    ASSERT_EQ(alice.voice.count(), 1);
    ASSERT_EQ(bob.voice.count(), 1);
    EXPECT_TRUE(alice.call()->isCapturing() && alice.call()->isPlaying());
    EXPECT_TRUE(bob.call()->isCapturing() && bob.call()->isPlaying());
    EXPECT_EQ(alice.status(), "Connecting...\nConnection established.");
    // Bob's return link connecting is the same conversation: it was said twice.
    EXPECT_EQ(bob.status(), "Connection established.");
    // Each window names whom it talks with.
    EXPECT_EQ(alice.voice.windowOf(alice.call())->peerLabel()->text(), "Voice chat with Bob");
    EXPECT_EQ(bob.voice.windowOf(bob.call())->peerLabel()->text(), "Voice chat with alice");
    EXPECT_EQ(bob.voice.windowOf(bob.call())->windowTitle(), "Voice Chat");
    EXPECT_EQ(bob.voice.windowOf(bob.call())->button()->text(), "End Voice Chat");

    // Sound goes both ways: one block each, acknowledged, played whole.
    alice.sound.devices.room = bob.sound.devices.room = 1 << 20;
    alice.sound.lastInput->speak(samples(1024, 1));
    bob.sound.lastInput->speak(samples(1024, 2));
    ASSERT_TRUE(waitFor([&] {
        return alice.sound.devices.played.size() == 1024 && bob.sound.devices.played.size() == 1024;
    }));
    EXPECT_EQ(bob.sound.devices.played, samples(1024, 1));
    EXPECT_EQ(alice.sound.devices.played, samples(1024, 2));
    // The plain chat's devices run at the plain format, one each way on each side.
    const QList<peer::SoundFormat> plain{peer::SoundFormat::voice()};
    EXPECT_EQ(alice.sound.devices.inputFormats, plain);
    EXPECT_EQ(alice.sound.devices.outputFormats, plain);
    EXPECT_EQ(bob.sound.devices.inputFormats, plain);
    EXPECT_EQ(bob.sound.devices.outputFormats, plain);
    EXPECT_EQ(alice.sound.lastInput->format(), peer::SoundFormat::voice());
    EXPECT_EQ(bob.sound.lastOutput->format(), peer::SoundFormat::voice());

    // The second link of a running chat is not taken unasked a second time.
    EXPECT_FALSE(alice.voice.answersOurOffer(*bob.host.lastOffer(irc::DccKind::Voice)));

    // Ending it on one side ends both links on both sides and releases all four devices.
    alice.voice.windowOf(alice.call())->close();
    ASSERT_TRUE(waitFor([&] { return alice.voice.count() == 0 && bob.call()->hasEnded(); }));
    EXPECT_EQ(alice.sound.devices.openInputs + alice.sound.devices.openOutputs, 0);
    EXPECT_EQ(bob.sound.devices.openInputs + bob.sound.devices.openOutputs, 0);
    EXPECT_TRUE(bob.status().endsWith(kPeerClosed));
    // Nothing is left to end: the button only closes the window.
    EXPECT_EQ(bob.voice.windowOf(bob.call())->button()->text(), "Close");
}

TEST(VoiceChat, AnOfferFromSomeoneElseIsAskedAboutAndGetsAWindowOfItsOwn)
{
    Side alice("alice");
    alice.voice.start("bob");
    const auto fromCarol = irc::DccOffer::active(irc::DccKind::Voice, "carol", {}, 0x7F000001, 1);
    EXPECT_FALSE(alice.voice.answersOurOffer(fromCarol));
    alice.voice.accept(fromCarol);
    EXPECT_EQ(alice.voice.count(), 2);
    // Each window has its own status text.
    EXPECT_EQ(alice.status(0), "Connecting...");
    EXPECT_EQ(alice.status(1), "Connection established.");
    alice.voice.closeAll();
    EXPECT_EQ(alice.voice.count(), 0);
}

TEST(VoiceChat, ClosingAllReleasesDevicesAndSockets)
{
    Side alice("alice");
    Side bob("bob");
    ASSERT_NO_FATAL_FAILURE(connectBothWays(alice, bob));
    // Each side asked for sound once, for the chat it started or took up: the return link asks
    // nothing more.
    EXPECT_EQ(alice.sound.prepared, 1);
    EXPECT_EQ(bob.sound.prepared, 1);
    const quint16 port = alice.host.lastOffer(irc::DccKind::Voice)->port;
    alice.voice.closeAll();
    EXPECT_EQ(alice.sound.devices.openInputs + alice.sound.devices.openOutputs, 0);
    ASSERT_TRUE(waitFor([&] { return bob.call()->hasEnded(); }));
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_FALSE(late.waitForConnected(500) && late.waitForReadyRead(200));
}

TEST(VoiceWithoutSound, AChatThatWouldStartSaysWhyInItsWindowAndNothingGoesOut)
{
    Side alice("alice");
    alice.sound.unavailable = QStringLiteral("No sound module here.");
    alice.voice.start("bob");
    ASSERT_EQ(alice.voice.count(), 1);
    EXPECT_TRUE(alice.host.sent.isEmpty()) << "an offer nobody could hear";
    EXPECT_EQ(alice.status(), "No sound module here.");
    EXPECT_TRUE(alice.call()->hasEnded());
    EXPECT_EQ(alice.voice.windowOf(alice.call())->button()->text(), "Close");
    EXPECT_EQ(alice.voice.windowOf(alice.call())->peerLabel()->text(), "Voice chat with bob");
    // Its window counts as the one chat the user may have open.
    QSignalSpy alreadyOpen(&alice.voice, &peer::VoiceChats::alreadyOpen);
    alice.voice.start("carol");
    EXPECT_EQ(alreadyOpen.size(), 1);

    // An offer taken up gets its window with the reason, and connects nowhere.
    QTcpServer carol;
    ASSERT_TRUE(carol.listen(QHostAddress::LocalHost));
    alice.voice.accept(
        irc::DccOffer::active(irc::DccKind::Voice, "carol", {}, 0x7F000001, carol.serverPort()));
    ASSERT_EQ(alice.voice.count(), 2);
    EXPECT_EQ(alice.status(1), "No sound module here.");
    EXPECT_TRUE(alice.call(1)->hasEnded());
    EXPECT_EQ(alice.call(1)->linkCount(), 0);
    EXPECT_FALSE(carol.waitForNewConnection(200));
    EXPECT_EQ(alice.sound.devices.inputsMade + alice.sound.devices.outputsMade, 0);

    // Each chat asks again: sound that came back serves the next one.
    alice.voice.closeAll();
    alice.sound.unavailable.reset();
    alice.voice.start("bob");
    EXPECT_TRUE(alice.host.lastOffer(irc::DccKind::Voice));
    EXPECT_EQ(alice.status(), "Connecting...");
}

} // namespace

namespace {

// `ms` of a sine at `hz` in the Opus link's device format (48 kHz, 16-bit).
QByteArray tone(int hz, int ms)
{
    const int count = 48 * ms;
    QByteArray pcm(count * 2, '\0');
    auto* out = reinterpret_cast<qint16*>(pcm.data());
    for (int i = 0; i < count; ++i)
        out[i] = qint16(8000 * std::sin(2 * M_PI * hz * i / 48000.0));
    return pcm;
}

// The share of the energy of 16-bit `pcm` at `hz` (Goertzel), 0 for silence.
double toneShare(const QByteArray& pcm, int hz)
{
    const auto* in = reinterpret_cast<const qint16*>(pcm.constData());
    const qsizetype count = pcm.size() / 2;
    const double w = 2 * M_PI * hz / 48000.0;
    double s1 = 0, s2 = 0, energy = 0;
    for (qsizetype i = 0; i < count; ++i) {
        const double s = in[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s;
        energy += double(in[i]) * in[i];
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return energy > 0 ? 2 * power / (double(count) * energy) : 0;
}

bool allLinks(const Side& side, peer::VoiceCodec codec)
{
    const peer::VoiceCall* call = side.call();
    if (!call || call->linkCount() != 2)
        return false;
    for (int i = 0; i < call->linkCount(); ++i) {
        if (call->link(i)->codec() != codec)
            return false;
    }
    return true;
}

} // namespace

TEST(OpusVoiceChat, TwoSidesWithOpusTalkOpusAtFortyEightKilohertz)
{
    Side alice("alice", true);
    Side bob("bob", true);
    ASSERT_NO_FATAL_FAILURE(connectBothWays(alice, bob));
    ASSERT_TRUE(waitFor([&] { return allLinks(alice, VoiceCodec::Opus); }));
    ASSERT_TRUE(waitFor([&] { return allLinks(bob, VoiceCodec::Opus); }));
    const QList<peer::SoundFormat> opus{peer::SoundFormat::opus()};
    EXPECT_EQ(alice.sound.devices.inputFormats, opus);
    EXPECT_EQ(bob.sound.devices.outputFormats, opus);

    // Half a second of a 1 kHz tone, in the device's 20 ms pieces, as a microphone gives it.
    bob.sound.devices.room = 1 << 24;
    const QByteArray sound = tone(1000, 500);
    for (qsizetype at = 0; at < sound.size(); at += 1920) {
        alice.sound.lastInput->speak(sound.mid(at, 1920));
        QTest::qWait(20);
    }
    ASSERT_TRUE(waitFor([&] { return bob.sound.devices.played.size() >= 48000 * 2 * 3 / 10; }));
    // Mostly the tone: a wrong rate or codec leaves next to none of it. The pieces come on a real
    // clock, so on a loaded machine or under a sanitizer a concealed frame or two lands here too.
    EXPECT_GT(toneShare(bob.sound.devices.played.right(48000 * 2 / 5), 1000), 0.5);
    // What the window says of it: the codec, what goes out and the delay held here.
    ASSERT_TRUE(waitFor(
        [&] {
            return bob.voice.windowOf(bob.call())->codecLabel()->text().startsWith("Opus 48 kHz");
        },
        2000));
    EXPECT_LE(alice.call()->link(0)->bitrate(), 32000);
}

TEST(OpusVoiceChat, APeerThatSpeaksOnlyThePlainChatGetsItEitherWay)
{
    for (const bool aliceHasOpus : {true, false}) {
        Side alice("alice", aliceHasOpus);
        Side bob("bob", !aliceHasOpus);
        QElapsedTimer clock;
        clock.start();
        ASSERT_NO_FATAL_FAILURE(connectBothWays(alice, bob));
        // The Opus side's capture goes plain on the plain player's answer; both microphones
        // then run in the plain format.
        ASSERT_TRUE(waitFor([&] { return alice.sound.lastInput && bob.sound.lastInput; }, 5000));
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(alice.sound.devices.inputFormats,
                  QList<peer::SoundFormat>{peer::SoundFormat::voice()});
        EXPECT_EQ(bob.sound.devices.inputFormats,
                  QList<peer::SoundFormat>{peer::SoundFormat::voice()});
        // Then the plain chat as ever: a block each way, played whole. A plain capturer says
        // nothing before its first samples, so the Opus player goes plain on them.
        alice.sound.devices.room = bob.sound.devices.room = 1 << 20;
        alice.sound.lastInput->speak(samples(1024, 1));
        bob.sound.lastInput->speak(samples(1024, 2));
        // The Opus side's offer reached the plain player as 8 samples of near-silence before
        // the sound, which moves its blocks on by 8 bytes; the Opus side heard the plain samples
        // exactly.
        const QByteArray& plainHeard =
            aliceHasOpus ? bob.sound.devices.played : alice.sound.devices.played;
        const QByteArray& opusHeard =
            aliceHasOpus ? alice.sound.devices.played : bob.sound.devices.played;
        const QByteArray expected =
            QByteArray(peer::kVoiceOpusOffer) + samples(1024, aliceHasOpus ? 1 : 2).left(1016);
        ASSERT_TRUE(waitFor([&] {
            return plainHeard == expected && opusHeard == samples(1024, aliceHasOpus ? 2 : 1);
        }));
        EXPECT_TRUE(allLinks(alice, VoiceCodec::Plain) && allLinks(bob, VoiceCodec::Plain));
        EXPECT_EQ(bob.voice.windowOf(bob.call())->codecLabel()->text(), "8 kHz samples, 64 kbit/s");
    }
}

// Ended, the window still said "sending 23 kbit/s"; and the next chat's window opened on the
// last one's lines, so its own first words were lost among them.
TEST(VoiceChat, AnEndedChatSaysItEndedAndTheNextOneStartsAFreshText)
{
    Side alice("alice", true);
    {
        Side bob("bob", true);
        ASSERT_NO_FATAL_FAILURE(connectBothWays(alice, bob));
        ASSERT_TRUE(waitFor(
            [&] {
                return alice.voice.windowOf(alice.call())->codecLabel()->text().contains("sending");
            },
            3000));
        bob.voice.closeAll();
        ASSERT_TRUE(waitFor([&] { return alice.call()->hasEnded(); }));
    }
    peer::VoiceWindow* window = alice.voice.windowOf(alice.call());
    ASSERT_TRUE(window);
    EXPECT_EQ(window->codecLabel()->text(), "The voice chat has ended.");
    EXPECT_EQ(alice.status(), "Connecting...\nConnection established.\n" + QString(kPeerClosed));
    window->close();
    ASSERT_TRUE(waitFor([&] { return alice.voice.count() == 0; }));

    alice.voice.start("carol");
    ASSERT_EQ(alice.voice.count(), 1);
    EXPECT_EQ(alice.status(), "Connecting...");
    EXPECT_EQ(alice.voice.windowOf(alice.call())->codecLabel()->text(), "");
}

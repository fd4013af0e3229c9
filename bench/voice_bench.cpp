// Mouth-to-ear delay and dropped blocks of a voice chat between two programs' voice chats in one
// process, through the test sound server (tools/bench voice starts it):
//   voice_bench [SECONDS] [BURSTS] [opus|plain] [DELAY_MS]
// SECONDS (default 60) of continuous tone both ways for the drop count, BURSTS (default 8)
// tone bursts per direction for the delay; the chat between two programs with Opus (default) or
// the plain 8 kHz chat; DELAY_MS (default 0) is added to each link each way by a relay in the
// middle, as a long line would (this machine's kernel has no netem). Figures are named with the
// codec and the delay ("voice opus delay alice to bob ms", "voice opus +50ms ...").
//
// A delay is measured from the moment the harness handed the burst's first sample to its own
// playback stream to the moment the ear captured the first sample of it, both on one monotonic
// clock: the capture moment is the arrival of the ear's piece less the samples after the onset
// in it. Both ends of that include the harness's own buffering, so the same measure over the
// harness's path alone (a mouth straight into its microphone) is printed as the reference; the
// program's path contains one such hop on the way in.
#include "bench/figures.h"
#include "tests/peer/voice_audio_rig.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using voicerig::Ear;
using voicerig::Mouth;
using voicerig::Pair;

namespace {

constexpr int kOnsetThreshold = 30;
constexpr qsizetype kBurstSamples = voicerig::kRate * 4 / 10;

struct Spread
{
    double min = 0;
    double median = 0;
    double max = 0;
};

Spread spread(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median, values.back()};
}

// Waits (bounded) until the ear has heard 300 ms of silence, so that a burst's onset is its own.
bool quiet(const Ear& ear, int timeoutMs)
{
    constexpr qsizetype kQuiet = voicerig::kRate * 3 / 10;
    return voicerig::spinUntil(
        [&] {
            if (ear.size() < kQuiet)
                return false;
            const QByteArrayView tail = QByteArrayView(ear.samples()).last(kQuiet);
            return !Ear::onsetIn(tail, kOnsetThreshold);
        },
        timeoutMs);
}

// Bursts of `hz` spoken into `mouth` and heard at `ear`: each one's delay in ms.
std::vector<double> burstDelays(Mouth& mouth, const Ear& ear, double hz, int bursts,
                                const char* name)
{
    std::vector<double> delays;
    for (int i = 0; i < bursts; ++i) {
        if (!quiet(ear, 3000)) {
            std::printf("  %s: no silence before burst %d\n", name, i + 1);
            continue;
        }
        // The loop runs in step with the blocks arriving at the ear, so without this every
        // burst would start at the same point of the program's 128 ms blocks; the offsets
        // spread the starts evenly over one block.
        voicerig::spinFor(int(i * 1000LL * peer::kVoiceBlockBytes / voicerig::kRate / bursts));
        const qsizetype from = ear.size();
        mouth.tone().burst(hz, kBurstSamples);
        std::optional<qsizetype> onset;
        voicerig::spinUntil(
            [&] {
                onset = ear.onset(from, kOnsetThreshold);
                return onset && mouth.tone().burstStartNs();
            },
            3000);
        const auto spoken = mouth.tone().burstStartNs();
        const auto heard = onset ? ear.capturedNs(*onset) : std::nullopt;
        if (!spoken || !heard) {
            std::printf("  %s: burst %d not heard within 3 s\n", name, i + 1);
            continue;
        }
        delays.push_back(double(*heard - *spoken) / 1e6);
        // The rest of the burst goes by before the next one is prepared.
        voicerig::spinFor(int(kBurstSamples * 1000 / voicerig::kRate) + 100);
    }
    return delays;
}

void printDelays(const char* name, const std::vector<double>& delays, int bursts,
                 const char* figure)
{
    bench::printFigure(figure, delays);
    const Spread s = spread(delays);
    std::printf("%-34s min %6.1f  median %6.1f  max %6.1f ms  (%zu of %d bursts)\n", name, s.min,
                s.median, s.max, delays.size(), bursts);
}

struct LinkCounts
{
    quint64 sent = 0;
    quint64 droppedAtCapture = 0;
    quint64 droppedAtPlayback = 0;
};

// The links of one direction: `from`'s capturing link and `to`'s playing one.
LinkCounts counts(const peer::VoiceChats& from, const peer::VoiceChats& to)
{
    LinkCounts c;
    if (const peer::VoiceLink* capture = Pair::linkOf(from, peer::VoiceLink::Role::Capture)) {
        c.sent = capture->sentBlocks();
        c.droppedAtCapture = capture->droppedBlocks();
    }
    if (const peer::VoiceLink* playback = Pair::linkOf(to, peer::VoiceLink::Role::Playback))
        c.droppedAtPlayback = playback->droppedBlocks();
    return c;
}

// Prints what was dropped on one direction; returns the dropped share in percent of completed.
double printDrops(const char* name, const LinkCounts& before, const LinkCounts& after,
                  const Ear& ear, qsizetype earFrom, double hz, double seconds)
{
    const quint64 sent = after.sent - before.sent;
    const quint64 capDrop = after.droppedAtCapture - before.droppedAtCapture;
    const quint64 playDrop = after.droppedAtPlayback - before.droppedAtPlayback;
    const quint64 completed = sent + capDrop;
    const double expected = seconds * voicerig::kRate / double(peer::kVoiceBlockBytes);
    std::printf("%s: %llu blocks completed (%.0f expected in %.0f s), %llu sent\n", name,
                static_cast<unsigned long long>(completed), expected, seconds,
                static_cast<unsigned long long>(sent));
    std::printf("  dropped at capture  %5llu  = %6.2f %% of completed\n",
                static_cast<unsigned long long>(capDrop),
                completed ? 100.0 * double(capDrop) / double(completed) : 0.0);
    std::printf("  dropped at playback %5llu  = %6.2f %% of sent\n",
                static_cast<unsigned long long>(playDrop),
                sent ? 100.0 * double(playDrop) / double(sent) : 0.0);
    const QByteArrayView heard = QByteArrayView(ear.samples()).sliced(earFrom);
    const voicerig::WindowedShare tone = voicerig::windowedShare(heard, hz);
    std::printf("  heard at the ear: %.2f %% of %.1f s in gaps, tone share %.3f when loud\n",
                100.0 * (1.0 - tone.loud), double(heard.size()) / voicerig::kRate, tone.share);
    return completed ? 100.0 * double(capDrop + playDrop) / double(completed) : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeDir.isValid()) {
        QFile::setPermissions(runtimeDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                     | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const int bursts = argc > 2 ? std::max(1, std::atoi(argv[2])) : 8;
    const bool opus = argc <= 3 || std::strcmp(argv[3], "plain") != 0;
    const int linkDelayMs = argc > 4 ? std::max(0, std::atoi(argv[4])) : 0;
    const std::string codec = std::string(opus ? "opus" : "plain")
                              + (linkDelayMs ? " +" + std::to_string(linkDelayMs) + "ms" : "");
    const auto figure = [&codec](const char* what) { return "voice " + codec + " " + what; };
    voicerig::Watchdog watchdog("voice_bench", std::chrono::seconds(seconds + 20 * bursts + 60));

    if (const auto missing = voicerig::missingDevice()) {
        std::fprintf(stderr,
                     "voice_bench: audio device %s is missing: run it as tools/bench voice, "
                     "which starts the test sound server\n",
                     missing->constData());
        return 1;
    }
    QElapsedTimer clock;
    clock.start();

    std::printf("Mouth-to-ear delay, %d tone bursts of %lld ms each way\n", bursts,
                static_cast<long long>(kBurstSamples * 1000 / voicerig::kRate));
    {
        watchdog.stage("reference");
        Mouth mouth(voicerig::findOutput("kivvo_a_mouth"), clock);
        Ear mic(voicerig::findInput("kivvo_a_mic"), clock);
        const auto delays = burstDelays(mouth, mic, 440, bursts, "reference");
        printDelays("reference (mouth a -> mic a)", delays, bursts, "voice harness delay ms");
    }

    watchdog.stage("connecting");
    Pair pair(opus, linkDelayMs);
    pair.alice.start("bob");
    if (!voicerig::spinUntil([&] { return pair.connected(); }, 5000)) {
        std::fprintf(stderr, "voice_bench: the voice chat did not connect within 5 s\n");
        return 1;
    }
    Mouth mouthA(voicerig::findOutput("kivvo_a_mouth"), clock);
    Mouth mouthB(voicerig::findOutput("kivvo_b_mouth"), clock);
    Ear earA(voicerig::findInput("kivvo_a_ear"), clock);
    Ear earB(voicerig::findInput("kivvo_b_ear"), clock);

    watchdog.stage("alice to bob bursts");
    const auto ab = burstDelays(mouthA, earB, 440, bursts, "alice -> bob");
    printDelays("alice -> bob (mouth a -> ear b)", ab, bursts,
                figure("delay alice to bob ms").c_str());
    watchdog.stage("bob to alice bursts");
    const auto ba = burstDelays(mouthB, earA, 1000, bursts, "bob -> alice");
    printDelays("bob -> alice (mouth b -> ear a)", ba, bursts,
                figure("delay bob to alice ms").c_str());

    watchdog.stage("continuous tone");
    std::printf("\nContinuous tone both ways for %d s\n", seconds);
    quiet(earA, 3000);
    quiet(earB, 3000);
    const LinkCounts abBefore = counts(pair.alice, pair.bob);
    const LinkCounts baBefore = counts(pair.bob, pair.alice);
    mouthA.tone().setTone(440);
    mouthB.tone().setTone(1000);
    // The ears' measure starts once the tone is surely through, and ends with the counts.
    voicerig::spinFor(1000);
    const qsizetype earAFrom = earA.size();
    const qsizetype earBFrom = earB.size();
    QElapsedTimer run;
    run.start();
    voicerig::spinFor(seconds * 1000);
    const double ran = double(run.nsecsElapsed()) / 1e9;
    const LinkCounts abAfter = counts(pair.alice, pair.bob);
    const LinkCounts baAfter = counts(pair.bob, pair.alice);
    if (!pair.connected()) {
        std::fprintf(stderr, "voice_bench: the voice chat ended during the run\n");
        return 1;
    }
    // The counts cover one more second, from before the tone started, than the ears.
    const double abDropped =
        printDrops("alice -> bob", abBefore, abAfter, earB, earBFrom, 440, ran + 1);
    const double baDropped =
        printDrops("bob -> alice", baBefore, baAfter, earA, earAFrom, 1000, ran + 1);
    // One value per direction.
    bench::printFigure(figure("dropped blocks %"), {abDropped, baDropped});
    if (opus) {
        // What went over the wire each way, and the frames the players had to make up.
        std::vector<double> rates;
        std::vector<double> concealed;
        for (const peer::VoiceChats* side : {&pair.alice, &pair.bob}) {
            const peer::VoiceCall* call = side->at(0);
            for (int i = 0; i < call->linkCount(); ++i) {
                const peer::VoiceLink* link = call->link(i);
                if (link->role() == peer::VoiceLink::Role::Capture)
                    rates.push_back(link->bitrate() / 1000.0);
                else if (const auto stats = link->jitterStats())
                    concealed.push_back(stats->played + stats->concealed
                                            ? 100.0 * double(stats->concealed + stats->droppedLate)
                                                  / double(stats->played + stats->concealed)
                                            : 0.0);
            }
        }
        std::printf(
            "Opus: sending %.1f / %.1f kbit/s, concealed or late %.2f / %.2f %% of frames\n",
            rates.size() > 0 ? rates[0] : 0.0, rates.size() > 1 ? rates[1] : 0.0,
            concealed.size() > 0 ? concealed[0] : 0.0, concealed.size() > 1 ? concealed[1] : 0.0);
        bench::printFigure(figure("bitrate kbit/s"), rates);
        bench::printFigure(figure("concealed frames %"), concealed);
    }
    mouthA.tone().setTone(0);
    mouthB.tone().setTone(0);
    watchdog.stage("closing");
    pair.alice.closeAll();
    voicerig::spinUntil([&] { return pair.bob.count() == 0 || pair.bob.at(0)->hasEnded(); }, 3000);
    return 0;
}

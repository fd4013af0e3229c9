#pragma once

// Two voice chat sides in one process on the test sound server's devices, with the test's own
// mouths and ears beside them: shared by the voice test between two programs and the voice
// benchmark.
//
// Each party X has a sink kivvo_X_mouth the harness plays into, a source kivvo_X_mic over its
// monitor that the program captures, a sink kivvo_X_speaker the program plays into and a source
// kivvo_X_ear over that one's monitor that the harness listens with (tools/common.sh).

#include "irc/dcc_offer.h"
#include "peer/common/chat_host.h"
#include "peer/voice/backend_sound.h"
#include "peer/voice/qt_sound.h"
#include "peer/voice/voice_call.h"
#include "peer/voice/voice_chats.h"
#include "peer/voice/voice_link.h"
#include "tests/support/scripted_host.h"
#include "tests/support/wait_for.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QAudioSource>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

namespace voicerig {

inline constexpr int kRate = peer::kVoiceSampleRate;
inline constexpr double kPi = 3.14159265358979323846;

// Samples as their distance from silence, in steps of an 8-bit sample whatever the format, so
// that one threshold serves both.
inline std::vector<double> centred(QByteArrayView bytes, peer::SoundFormat format)
{
    std::vector<double> values;
    if (format.sample == peer::SoundFormat::Int16) {
        values.reserve(size_t(bytes.size() / 2));
        for (qsizetype at = 0; at + 1 < bytes.size(); at += 2) {
            qint16 sample = 0;
            std::memcpy(&sample, bytes.data() + at, sizeof sample);
            values.push_back(sample / 256.0);
        }
    } else {
        values.reserve(size_t(bytes.size()));
        for (const char c : bytes)
            values.push_back(quint8(c) - 128.0);
    }
    return values;
}

// One sample, `value` 8-bit steps from silence, in the bytes of `format`.
inline void appendSample(QByteArray& out, peer::SoundFormat format, double value)
{
    if (format.sample == peer::SoundFormat::Int16) {
        const auto sample = qint16(std::lround(value * 256));
        out.append(reinterpret_cast<const char*>(&sample), sizeof sample);
    } else {
        out.append(char(quint8(std::lround(128.0 + value))));
    }
}

// Audio calls have been seen to hang inside the sound library; a stuck run must still end, and
// say where it was.
class Watchdog
{
public:
    Watchdog(const char* program, std::chrono::seconds limit)
        : m_thread([this, program, limit] {
            std::unique_lock lock(m_mutex);
            if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                std::fprintf(stderr, "%s: no end after %lld s (at: %s)\n", program,
                             static_cast<long long>(limit.count()), m_stage);
                std::fflush(stderr);
                std::_Exit(1);
            }
        })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    // `name` must outlive the watchdog (a literal).
    void stage(const char* name)
    {
        std::lock_guard lock(m_mutex);
        m_stage = name;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    const char* m_stage = "start";
    std::thread m_thread;
};

inline bool spinUntil(const std::function<bool()>& done, int timeoutMs)
{
    return test::waitFor(done, timeoutMs);
}

inline void spinFor(int ms)
{
    test::waitFor([] { return false; }, ms);
}

inline QAudioDevice findDevice(const QList<QAudioDevice>& devices, const QByteArray& id)
{
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&](const QAudioDevice& device) { return device.id() == id; });
    return found == devices.end() ? QAudioDevice() : *found;
}

inline QAudioDevice findInput(const QByteArray& id)
{
    return findDevice(QMediaDevices::audioInputs(), id);
}

inline QAudioDevice findOutput(const QByteArray& id)
{
    return findDevice(QMediaDevices::audioOutputs(), id);
}

// Every device the rig needs, or the first one missing.
inline std::optional<QByteArray> missingDevice()
{
    for (const char* party : {"a", "b"}) {
        const QByteArray p(party);
        for (const QByteArray& id : {"kivvo_" + p + "_mic", "kivvo_" + p + "_ear"}) {
            if (findInput(id).isNull())
                return id;
        }
        for (const QByteArray& id : {"kivvo_" + p + "_mouth", "kivvo_" + p + "_speaker"}) {
            if (findOutput(id).isNull())
                return id;
        }
    }
    return std::nullopt;
}

// Samples of a format (the voice format's unsigned 8-bit ones unless another is given): a
// continuous tone, or silence with tone bursts that start exactly at the beginning of the next
// piece the sink pulls, so that the moment a burst left the harness is known to the sample.
class ToneSource : public QIODevice
{
public:
    explicit ToneSource(QObject* parent = nullptr,
                        peer::SoundFormat format = peer::SoundFormat::voice())
        : QIODevice(parent)
        , m_format(format)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        m_clock.start();
    }

    void setTone(double hz) { m_hz = hz; }
    void burst(double hz, qint64 samples)
    {
        m_burstHz = hz;
        m_burstLeft = samples;
        m_burstPending = true;
        m_burstStartNs.reset();
    }
    // When the first sample of the last burst was handed to the sink (QElapsedTimer of the rig).
    std::optional<qint64> burstStartNs() const { return m_burstStartNs; }
    // Plays `samples` (in the source's format) once, before the tone goes on.
    void play(const QByteArray& samples)
    {
        m_clip = samples;
        m_clipAt = 0;
    }
    void setClock(const QElapsedTimer& clock) { m_clock = clock; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return (1 << 20) + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        // A clip goes first, whole samples of it, then whatever the tone says.
        if (m_clipAt < m_clip.size()) {
            const qsizetype bytes = qsizetype(qMin<qint64>(maxSize, m_clip.size() - m_clipAt))
                                    / m_format.bytesPerSample() * m_format.bytesPerSample();
            std::memcpy(data, m_clip.constData() + m_clipAt, size_t(bytes));
            m_clipAt += bytes;
            return bytes;
        }
        if (m_burstPending && maxSize > 0) {
            m_burstPending = false;
            m_burstStartNs = m_clock.nsecsElapsed();
            m_phase = 0;
        }
        // Whole samples only; the sink asks again for the rest.
        const qint64 samples = maxSize / m_format.bytesPerSample();
        QByteArray out;
        out.reserve(samples * m_format.bytesPerSample());
        for (qint64 i = 0; i < samples; ++i) {
            double hz = m_hz;
            if (m_burstLeft > 0) {
                hz = m_burstHz;
                --m_burstLeft;
            }
            double value = 0;
            if (hz > 0) {
                value = 90.0 * std::sin(m_phase);
                m_phase += 2 * kPi * hz / m_format.sampleRate;
                if (m_phase > 2 * kPi)
                    m_phase -= 2 * kPi;
            }
            appendSample(out, m_format, value);
        }
        std::memcpy(data, out.constData(), size_t(out.size()));
        return out.size();
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    peer::SoundFormat m_format;
    QElapsedTimer m_clock;
    double m_hz = 0;
    double m_phase = 0;
    double m_burstHz = 0;
    qint64 m_burstLeft = 0;
    bool m_burstPending = false;
    std::optional<qint64> m_burstStartNs;
    QByteArray m_clip;
    qsizetype m_clipAt = 0;
};

// The harness's mouth: plays a ToneSource into a sink, pulled by the sink.
class Mouth
{
public:
    Mouth(const QAudioDevice& device, const QElapsedTimer& clock,
          peer::SoundFormat format = peer::SoundFormat::voice())
        : m_tone(nullptr, format)
        , m_sink(device, peer::audioFormat(format))
    {
        m_tone.setClock(clock);
        // 100 ms: what the harness itself adds to a measured delay stays small. Pulled sinks of
        // 50 ms or less were seen never to start playing.
        m_sink.setBufferSize(format.bytesForMs(100));
        m_sink.start(&m_tone);
    }
    ~Mouth() { m_sink.stop(); }
    ToneSource& tone() { return m_tone; }

private:
    ToneSource m_tone;
    QAudioSink m_sink;
};

// The harness's ear: keeps what a source captured, with the arrival time of each piece.
class Ear
{
public:
    Ear(const QAudioDevice& device, const QElapsedTimer& clock,
        peer::SoundFormat format = peer::SoundFormat::voice())
        : m_source(device, peer::audioFormat(format))
        , m_clock(clock)
        , m_format(format)
    {
        m_source.setBufferSize(format.bytesForMs(40));
        QIODevice* io = m_source.start();
        if (!io)
            return;
        QObject::connect(io, &QIODevice::readyRead, &m_source, [this, io] {
            const QByteArray piece = io->readAll();
            if (piece.isEmpty())
                return;
            m_samples += piece;
            m_arrivals.push_back({m_samples.size(), m_clock.nsecsElapsed()});
        });
    }
    ~Ear() { m_source.stop(); }

    const QByteArray& samples() const { return m_samples; }
    qsizetype size() const { return m_samples.size(); }
    // When the sample at byte `index` was captured: its piece's arrival less the samples after
    // it in there.
    std::optional<qint64> capturedNs(qsizetype index) const
    {
        for (const Arrival& arrival : m_arrivals) {
            if (index < arrival.end)
                return arrival.ns
                       - (arrival.end - index) * 1'000'000'000LL / m_format.bytesPerSecond();
        }
        return std::nullopt;
    }
    // The first sample from `from` on that is further than `threshold` from silence.
    std::optional<qsizetype> onset(qsizetype from, int threshold) const
    {
        const auto at = onsetIn(QByteArrayView(m_samples).sliced(from), threshold);
        return at ? std::optional<qsizetype>(from + *at) : std::nullopt;
    }
    static std::optional<qsizetype> onsetIn(QByteArrayView samples, int threshold)
    {
        for (qsizetype i = 0; i < samples.size(); ++i) {
            if (std::abs(int(quint8(samples[i])) - 128) > threshold)
                return i;
        }
        return std::nullopt;
    }

private:
    struct Arrival
    {
        qsizetype end;
        qint64 ns;
    };
    QAudioSource m_source;
    const QElapsedTimer& m_clock;
    peer::SoundFormat m_format;
    QByteArray m_samples;
    std::vector<Arrival> m_arrivals;
};

// How much of the signal's power lies at `hz`: about 1 for a pure tone of that frequency,
// near 0 for another one or for noise (Goertzel over the whole window, mean removed).
inline double toneShare(const std::vector<double>& samples, double hz, int rate)
{
    const auto n = qsizetype(samples.size());
    if (n == 0)
        return 0;
    double mean = 0;
    for (const double value : samples)
        mean += value;
    mean /= double(n);
    const double coeff = 2 * std::cos(2 * kPi * hz / rate);
    double s1 = 0;
    double s2 = 0;
    double energy = 0;
    for (const double value : samples) {
        const double x = value - mean;
        energy += x * x;
        const double s0 = x + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (energy <= 0)
        return 0;
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * power / (double(n) * energy);
}

// The tone's share measured in short windows (200 samples: a whole number of periods of both
// test frequencies), so that a block dropped on the way, which splices the tone at another
// phase, costs one window and not the whole measure. Windows quieter than `quiet` are gaps and
// are only counted.
struct WindowedShare
{
    double share = 0; // mean over the loud windows
    double loud = 0;  // fraction of windows that are loud
    int windows = 0;
};

inline double level(const std::vector<double>& samples);

// Windows of 25 ms whatever the rate: 200 samples of the voice format.
inline WindowedShare windowedShare(QByteArrayView bytes, double hz, double quiet = 10,
                                   peer::SoundFormat format = peer::SoundFormat::voice())
{
    const std::vector<double> samples = centred(bytes, format);
    const size_t window = size_t(format.sampleRate / 40);
    WindowedShare result;
    int loud = 0;
    for (size_t at = 0; at + window <= samples.size(); at += window) {
        const std::vector<double> part(samples.begin() + qsizetype(at),
                                       samples.begin() + qsizetype(at + window));
        ++result.windows;
        if (level(part) < quiet)
            continue;
        ++loud;
        result.share += toneShare(part, hz, format.sampleRate);
    }
    if (loud > 0)
        result.share /= loud;
    if (result.windows > 0)
        result.loud = double(loud) / result.windows;
    return result;
}

// Root mean square distance from silence, in steps of an 8-bit sample.
inline double level(const std::vector<double>& samples)
{
    if (samples.empty())
        return 0;
    double sum = 0;
    for (const double x : samples)
        sum += x * x;
    return std::sqrt(sum / double(samples.size()));
}

inline double level(QByteArrayView bytes, peer::SoundFormat format = peer::SoundFormat::voice())
{
    return level(centred(bytes, format));
}

// Carries the TCP links made to `target` on with `delayMs` added each way, as a long line would:
// what one side writes reaches the other that much later, in order.
class DelayLink : public QObject
{
public:
    DelayLink(quint16 target, int delayMs, QObject* parent)
        : QObject(parent)
        , m_target(target)
        , m_delayMs(delayMs)
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* in = m_server.nextPendingConnection()) {
                auto* out = new QTcpSocket(this);
                out->connectToHost(QHostAddress::LocalHost, m_target);
                pipe(in, out);
                pipe(out, in);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void pipe(QTcpSocket* from, QTcpSocket* to)
    {
        from->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const int delay = m_delayMs;
        QObject::connect(from, &QTcpSocket::readyRead, to, [from, to, delay] {
            const QByteArray data = from->readAll();
            QTimer::singleShot(delay, Qt::PreciseTimer, to, [to, data] { to->write(data); });
        });
        QObject::connect(from, &QTcpSocket::disconnected, to, [to, delay] {
            QTimer::singleShot(delay, Qt::PreciseTimer, to, [to] { to->disconnectFromHost(); });
        });
    }

    QTcpServer m_server;
    quint16 m_target;
    int m_delayMs;
};

// One side's server line, as the program's offer inbox would see it arrive at the other side:
// the answer to our own offer is taken at once, any other offer after the user said yes.
class RelayHost : public test::ScriptedHost
{
public:
    explicit RelayHost(const QByteArray& nick)
        : ScriptedHost(nick)
    {}
    void setPeer(peer::VoiceChats* peer, QByteArray peerNick)
    {
        m_peer = peer;
        m_peerNick = std::move(peerNick);
    }
    // Each link of our offers reaches the peer through a DelayLink of `delayMs` each way.
    void setLinkDelay(int delayMs) { m_delayMs = delayMs; }

    bool sendServerLine(const QByteArray& line) override
    {
        sent << line;
        if (!m_peer || !line.startsWith("PRIVMSG " + m_peerNick + " :"))
            return true;
        auto offer = readOffer(irc::DccKind::Voice, nick, line);
        if (!offer)
            return true;
        if (m_delayMs > 0) {
            auto* relay = new DelayLink(offer->port, m_delayMs, m_peer);
            offer->port = relay->port();
        }
        // As from the server: later, not inside the sender's own call.
        peer::VoiceChats* peer = m_peer;
        QTimer::singleShot(0, peer, [peer, offer = *offer] { peer->accept(offer); });
        return true;
    }

private:
    QByteArray m_peerNick;
    peer::VoiceChats* m_peer = nullptr;
    int m_delayMs = 0;
};

// Alice and Bob, each with the voice chats of a program on their own microphone and speaker.
struct Pair
{
    // `opus` false: both sides speak only the plain chat, as programs before Opus did.
    explicit Pair(bool opus = true, int linkDelayMs = 0)
        : aliceSound(devices, "kivvo_a_mic", "kivvo_a_speaker")
        , bobSound(devices, "kivvo_b_mic", "kivvo_b_speaker")
        , alice(aliceHost, aliceSound)
        , bob(bobHost, bobSound)
    {
        aliceHost.setPeer(&bob, "bob");
        bobHost.setPeer(&alice, "alice");
        alice.setOpus(opus);
        bob.setOpus(opus);
        aliceHost.setLinkDelay(linkDelayMs);
        bobHost.setLinkDelay(linkDelayMs);
    }

    static bool fullyConnected(const peer::VoiceChats& side)
    {
        if (side.count() != 1)
            return false;
        const peer::VoiceCall* call = side.at(0);
        if (call->hasEnded() || call->linkCount() != 2)
            return false;
        for (int i = 0; i < 2; ++i) {
            if (!call->link(i)->isConnected())
                return false;
        }
        return call->isCapturing() && call->isPlaying();
    }
    bool connected() const { return fullyConnected(alice) && fullyConnected(bob); }

    static peer::VoiceLink* linkOf(const peer::VoiceChats& side, peer::VoiceLink::Role role)
    {
        if (side.count() < 1)
            return nullptr;
        const peer::VoiceCall* call = side.at(0);
        for (int i = 0; i < call->linkCount(); ++i) {
            if (call->link(i)->role() == role)
                return call->link(i);
        }
        return nullptr;
    }

    RelayHost aliceHost{"alice"};
    RelayHost bobHost{"bob"};
    peer::QtSoundBackend devices; // linked in, not the module: what is tested is the chat
    peer::BackendSoundSystem aliceSound;
    peer::BackendSoundSystem bobSound;
    peer::VoiceChats alice;
    peer::VoiceChats bob;
};

struct Heard
{
    bool onset = false;
    double delayMs = 0;    // from the first sample spoken to its arrival at the ear
    double share = 0;      // of the tone spoken, in the loud part of what was heard
    double otherShare = 0; // of the other test frequency
    double loud = 0;       // the part of what was heard that was not a gap
    double maxLevel = 0;   // over everything captured, for the message when nothing came
    qsizetype captured = 0;
};

inline std::ostream& operator<<(std::ostream& out, const Heard& heard)
{
    return out << "onset after " << heard.delayMs << " ms, tone share " << heard.share
               << ", other frequency's share " << heard.otherShare << ", loud part " << heard.loud;
}

// Speaks `hz` into `mouthId` and listens on `earId` until the tone arrived and a further 1.3 s
// was heard; the first 300 ms after its arrival, when playback may still be settling, are left
// out of the measure.
inline Heard speakAndListen(const QByteArray& mouthId, const QByteArray& earId, double hz,
                            double otherHz)
{
    QElapsedTimer clock;
    clock.start();
    Ear ear(voicerig::findInput(earId), clock);
    // The onset is looked for only in what was captured once the ear was surely running.
    voicerig::spinFor(200);
    const qsizetype quietEnd = ear.size();
    Mouth mouth(voicerig::findOutput(mouthId), clock);
    mouth.tone().burst(hz, 0);
    mouth.tone().setTone(hz);
    constexpr qsizetype kSkip = voicerig::kRate * 3 / 10;
    constexpr qsizetype kMeasured = voicerig::kRate;
    Heard heard;
    std::optional<qsizetype> onset;
    voicerig::spinUntil(
        [&] {
            if (!onset)
                onset = ear.onset(quietEnd, 30);
            return onset && ear.size() >= *onset + kSkip + kMeasured;
        },
        6000);
    heard.maxLevel = voicerig::level(ear.samples());
    heard.captured = ear.size();
    if (!onset || ear.size() < *onset + kSkip + kMeasured)
        return heard;
    heard.onset = true;
    if (const auto spoken = mouth.tone().burstStartNs())
        heard.delayMs = double(*ear.capturedNs(*onset) - *spoken) / 1e6;
    const QByteArrayView measured = QByteArrayView(ear.samples()).sliced(*onset + kSkip, kMeasured);
    const voicerig::WindowedShare tone = voicerig::windowedShare(measured, hz);
    heard.share = tone.share;
    heard.loud = tone.loud;
    heard.otherShare = voicerig::windowedShare(measured, otherHz).share;
    return heard;
}

} // namespace voicerig

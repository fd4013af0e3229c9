#pragma once

// A spoken sentence for the voice suites: espeak-ng's voice at 48 kHz, and how closely what came
// out of a path follows it.
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QVector>
#include <QtEndian>

#include <cmath>
#include <optional>

namespace test {

namespace speech {
constexpr double kPi = 3.14159265358979323846;
}

struct Recording
{
    int sampleRate = 0;
    QVector<qint16> samples;
};

// The 16-bit mono PCM of a RIFF WAVE file, as espeak-ng writes it.
inline std::optional<Recording> readWav(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    Recording recording;
    bool pcm16 = false;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const QByteArray id = bytes.mid(at, 4);
        const qsizetype size = qMin<qsizetype>(
            qFromLittleEndian<quint32>(bytes.constData() + at + 4), bytes.size() - at - 8);
        const char* body = bytes.constData() + at + 8;
        if (id == "fmt " && size >= 16) {
            pcm16 = qFromLittleEndian<quint16>(body) == 1
                    && qFromLittleEndian<quint16>(body + 2) == 1
                    && qFromLittleEndian<quint16>(body + 14) == 16;
            recording.sampleRate = int(qFromLittleEndian<quint32>(body + 4));
        } else if (id == "data" && pcm16) {
            recording.samples.resize(size / 2);
            for (qsizetype i = 0; i < recording.samples.size(); ++i)
                recording.samples[i] = qFromLittleEndian<qint16>(body + 2 * i);
            return recording;
        }
        at += 8 + size + (size & 1);
    }
    return std::nullopt;
}

// Windowed-sinc interpolation (Hann, 16 taps each side), for raising the sample rate only.
inline QVector<qint16> upsample(const QVector<qint16>& input, int fromRate, int toRate)
{
    constexpr int kTaps = 16;
    QVector<qint16> output(input.size() * toRate / fromRate);
    for (qsizetype n = 0; n < output.size(); ++n) {
        const double t = double(n) * fromRate / toRate;
        const qsizetype centre = qsizetype(std::floor(t));
        double sum = 0;
        for (qsizetype k = centre - kTaps + 1; k <= centre + kTaps; ++k) {
            if (k < 0 || k >= input.size())
                continue;
            const double d = t - double(k);
            const double sinc = d == 0 ? 1 : std::sin(speech::kPi * d) / (speech::kPi * d);
            const double window = 0.5 * (1 + std::cos(speech::kPi * d / kTaps));
            sum += input[k] * sinc * window;
        }
        output[n] = qint16(qBound(-32768.0, std::round(sum), 32767.0));
    }
    return output;
}

// The normalised correlation of `a` with `b` delayed by `lag` samples, over their overlap.
inline double correlation(const QVector<qint16>& a, const QVector<qint16>& b, qsizetype lag)
{
    double ab = 0;
    double aa = 0;
    double bb = 0;
    for (qsizetype i = 0; i < a.size() && i + lag < b.size(); ++i) {
        ab += double(a[i]) * b[i + lag];
        aa += double(a[i]) * a[i];
        bb += double(b[i + lag]) * b[i + lag];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// "the quick brown fox jumps over the lazy dog" as espeak-ng says it, at 48 kHz; nothing when
// espeak-ng is missing or failed.
inline std::optional<QVector<qint16>> spokenSentence()
{
    const QString espeak = QStandardPaths::findExecutable(QStringLiteral("espeak-ng"));
    QTemporaryDir dir;
    if (espeak.isEmpty() || !dir.isValid())
        return std::nullopt;
    const QString path = dir.filePath(QStringLiteral("fox.wav"));
    QProcess speaker;
    speaker.start(espeak, {QStringLiteral("-w"), path,
                           QStringLiteral("the quick brown fox jumps over the lazy dog")});
    if (!speaker.waitForFinished(30000) || speaker.exitCode() != 0)
        return std::nullopt;
    const std::optional<Recording> spoken = readWav(path);
    if (!spoken || spoken->sampleRate <= 0 || spoken->samples.size() <= spoken->sampleRate)
        return std::nullopt;
    return upsample(spoken->samples, spoken->sampleRate, 48000);
}

struct Match
{
    qsizetype lag = 0;
    double correlation = -1;
};

// The lag up to `maxLag` at which `b` follows `a` best, by `step`s.
inline Match bestMatch(const QVector<qint16>& a, const QVector<qint16>& b, qsizetype maxLag,
                       qsizetype step = 1)
{
    Match best;
    for (qsizetype lag = 0; lag <= maxLag; lag += step) {
        const double c = correlation(a, b, lag);
        if (c > best.correlation)
            best = {lag, c};
    }
    return best;
}

// How closely `b` follows `a` piece by piece: for each `windowMs` of `a` that carries sound, the
// best correlation within `slackMs` of `lag`, weighted by the piece's energy. A path that drops
// or makes up a frame now and then shifts what follows by a frame; one lag for the whole of it
// would take that for noise.
inline double windowedCorrelation(const QVector<qint16>& a, const QVector<qint16>& b, qsizetype lag,
                                  int windowMs = 100, int slackMs = 60)
{
    const qsizetype window = 48 * windowMs;
    const qsizetype slack = 48 * slackMs;
    double weighted = 0;
    double weights = 0;
    for (qsizetype from = 0; from + window <= a.size(); from += window) {
        const QVector<qint16> piece = a.mid(from, window);
        double energy = 0;
        for (const qint16 x : piece)
            energy += double(x) * x;
        if (energy < double(window) * 500.0 * 500.0)
            continue; // a pause: nothing to follow
        double best = 0;
        for (qsizetype l = std::max<qsizetype>(0, lag - slack); l <= lag + slack; l += 4) {
            if (from + l + window > b.size())
                break;
            best = std::max(best, correlation(piece, b.mid(from + l, window), 0));
        }
        weighted += best * energy;
        weights += energy;
    }
    return weights > 0 ? weighted / weights : 0;
}

} // namespace test

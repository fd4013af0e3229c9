// Finding what was said: indexing a million log lines on the index's thread while the GUI
// thread's 10 ms timer runs, the index's size against the logs', searches against a plain
// `grep -F` over the same logs, and opening a chat whose log holds 100,000 lines.
//   search_bench [LINES] [REPETITIONS]     defaults 1000000 and 3
#include "bench/figures.h"
#include "bench/run_until.h"
#include "peer/chat/chat_log.h"
#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/common/chat_host.h"
#include "peer/search/log_index.h"
#include "peer/search/log_search.h"
#include "tests/support/scripted_host.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kLogs = 100;
constexpr int kBigLog = 100000;

// Words of a made-up language, a few common and most rare, as people write.
class Words
{
public:
    Words()
    {
        const char* syllables[] = {"ka", "lo", "mi",  "ne",  "ru",  "sa",  "ti",  "vo",  "ze",
                                   "pa", "qu", "den", "far", "gol", "hin", "jor", "wex", "yul"};
        QRandomGenerator random(11);
        for (int i = 0; i < 8000; ++i) {
            QByteArray word;
            const int parts = 1 + int(random.bounded(3));
            for (int p = 0; p < parts; ++p)
                word += syllables[random.bounded(int(std::size(syllables)))];
            m_words.push_back(word + QByteArray::number(i % 7 ? 0 : i).left(i % 7 ? 0 : 4));
        }
    }
    const QByteArray& pick(QRandomGenerator& random) const
    {
        const double u = random.generateDouble();
        return m_words[std::size_t(u * u * u * double(m_words.size()))];
    }
    const QByteArray& at(std::size_t i) const { return m_words[i]; }

private:
    std::vector<QByteArray> m_words;
};

qint64 writeLogs(const QString& folder, int lines, const Words& words)
{
    QDir().mkpath(folder);
    QRandomGenerator random(5);
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    qint64 bytes = 0;
    const auto write = [&](const QString& name, int count, int logIndex) {
        QFile file(folder + '/' + name);
        file.open(QIODevice::WriteOnly);
        QByteArray out = peer::ChatLog::startedText(name.toUtf8());
        for (int i = 0; i < count; ++i) {
            QByteArray text = (i % 2 ? "<alice> " : "<" + name.chopped(4).toUtf8() + "> ");
            const int length = 3 + int(random.bounded(12));
            for (int w = 0; w < length; ++w)
                text += words.pick(random) + (w + 1 < length ? " " : "");
            out += peer::ChatLog::stampedLine(start.addSecs(qint64(i) * 37 + logIndex), text);
            if (out.size() > (1 << 20)) {
                file.write(out);
                bytes += out.size();
                out.clear();
            }
        }
        file.write(out);
        bytes += out.size();
    };
    const int perLog = std::max(1, (lines - kBigLog) / kLogs);
    for (int i = 0; i < kLogs; ++i)
        write(QStringLiteral("nick%1.txt").arg(i), perLog, i);
    write(QStringLiteral("big.txt"), std::min(lines, kBigLog), kLogs);
    return bytes;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size() + QFileInfo(path + "-wal").size();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(kLogs, atoi(argv[1])) : 1000000;
    const int repetitions = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const Words words;
    std::vector<double> indexSeconds, timerP99, sizeRatio, queryP99, grepMs, openMs;
    const QList<QByteArray> queries = {words.at(0),
                                       words.at(3),
                                       words.at(40),
                                       words.at(900),
                                       words.at(7000),
                                       words.at(0) + " " + words.at(1),
                                       words.at(2) + " " + words.at(5) + " " + words.at(9),
                                       words.at(100).left(3),
                                       words.at(2000).left(4),
                                       "nothing such",
                                       "ka"};

    for (int rep = 0; rep < repetitions; ++rep) {
        QTemporaryDir dir;
        const QString logs = dir.filePath("logs");
        const qint64 logBytes = writeLogs(logs, lines, words);
        const QString indexPath = dir.filePath("log-index.db");

        // Indexing, on the index's thread, while the window's timer runs.
        {
            peer::LogSearch search(indexPath);
            std::vector<double> intervals;
            QElapsedTimer beat;
            QTimer timer;
            timer.setTimerType(Qt::PreciseTimer);
            QObject::connect(&timer, &QTimer::timeout, [&] {
                intervals.push_back(double(beat.nsecsElapsed()) / 1e6);
                beat.restart();
            });
            QElapsedTimer clock;
            clock.start();
            beat.start();
            timer.start(10);
            search.setLogsFolder(logs);
            bench::runUntil([&] { return clock.elapsed() > 100 && !search.catchingUp(); }, 600000);
            indexSeconds.push_back(double(clock.elapsed()) / 1000);
            timer.stop();
            timerP99.push_back(percentile(intervals, 0.99));
        }
        sizeRatio.push_back(double(sizeOf(indexPath)) / double(logBytes));

        // Searches, as the find window asks them.
        peer::LogIndex index(indexPath);
        index.open(logs);
        std::vector<double> samples;
        for (const QByteArray& query : queries) {
            std::vector<double> each;
            std::size_t found = 0;
            for (int round = 0; round < 20; ++round) {
                QElapsedTimer clock;
                clock.start();
                found = index
                            .find(peer::SearchText::from(QString::fromUtf8(query)), std::nullopt,
                                  peer::LogSearch::kMaxHits)
                            .size();
                each.push_back(double(clock.nsecsElapsed()) / 1e6);
            }
            std::printf("  \"%s\": %zu found, p99 %.1f ms\n", query.constData(), found,
                        percentile(each, 0.99));
            samples.insert(samples.end(), each.begin(), each.end());
        }
        queryP99.push_back(percentile(samples, 0.99));
        std::vector<double> greps;
        for (const QByteArray& query : queries) {
            QElapsedTimer clock;
            clock.start();
            QProcess grep;
            grep.start("grep", {"-r", "-F", "-i", "-c", QString::fromUtf8(query), logs});
            grep.waitForFinished(120000);
            greps.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        grepMs.push_back(percentile(greps, 0.5));

        // A chat whose log holds 100,000 lines opens with its last lines.
        test::ScriptedHost host;
        host.logging = true;
        host.dir = dir.path();
        QFile::rename(dir.filePath("logs/big.txt"), dir.filePath("logs/bigone.txt"));
        std::vector<double> opens;
        for (int i = 0; i < 10; ++i) {
            peer::ChatSessions chats(host);
            QElapsedTimer clock;
            clock.start();
            peer::ChatWindow* window = chats.openChat("bigone");
            opens.push_back(double(clock.nsecsElapsed()) / 1e6);
            if (window->viewText().size() < 1000)
                std::fprintf(stderr, "search_bench: the chat opened without its lines\n");
            chats.closeAll();
            QFile::resize(dir.filePath("logs/bigone.txt"),
                          QFileInfo(dir.filePath("logs/bigone.txt")).size()
                              - qint64(sizeof "\r\n*Started chat with bigone*\r\n") + 1);
        }
        openMs.push_back(percentile(opens, 0.5));
        std::printf("run %d: %d lines (%.0f MB) indexed in %.1f s, index %.2fx the logs, query "
                    "p99 %.1f ms, grep %.0f ms, open %.1f ms\n",
                    rep + 1, lines, double(logBytes) / 1e6, indexSeconds.back(), sizeRatio.back(),
                    queryP99.back(), grepMs.back(), openMs.back());
    }
    bench::printFigure("search index 1M lines s", indexSeconds);
    bench::printFigure("window timer p99 while indexing ms", timerP99);
    bench::printFigure("search index size / logs", sizeRatio);
    bench::printFigure("search query p99 ms", queryP99);
    bench::printFigure("grep -F query ms", grepMs);
    bench::printFigure("open chat of 100,000 lines ms", openMs);
    return 0;
}

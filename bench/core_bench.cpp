// The protocol cores against references built into the same binary: server line dispatch against
// a bare CR LF splitter, our Blowfish against OpenSSL's, the chat packet round trip, the key
// schedule and one presence poll. Each benchmark's label is its figure's name and its counter
// "value" the figure (bench/figures.h): rates per second of CPU time (MB are 10^6 bytes), the
// µs figures CPU time per call.
//
// The dispatch figures run over the server stream of bench/server_lines.h; the Blowfish figures
// are in blowfish_bench.cpp. For a quick check that the program still runs, set
// KIVVO_BENCH_SMOKE=1, which shrinks the inputs:
//     KIVVO_BENCH_SMOKE=1 core_bench --benchmark_min_time=0.001 --benchmark_repetitions=1
#include "bench/core_common.h"
#include "bench/server_lines.h"
#include "config/settings.h"
#include "irc/line_framer.h"
#include "irc/line_queue.h"
#include "irc/line_router.h"
#include "irc/presence.h"
#include "irc/registration.h"
#include "irc/server_events.h"

#include <QByteArray>
#include <QList>
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bench::kMicrosecondsEach;
using bench::kOurNick;
using bench::randomNick;
using bench::serverStream;
using bench::ServerStream;

// What the dispatcher asks of the link, answered at no cost.
irc::LineServices quietServices()
{
    return {[] { return QByteArray(kOurNick); }, [](const QByteArray&) { return true; },
            [] { return qint64(0); }, [] { return QByteArray("localhost"); },
            [](const QString&) {}};
}

// The way the program takes server lines, as ServerLink does: each read is framed into a queue
// of lines that view the read's buffer, and each line is parsed once at its delivery; the
// registration and the router (its filters, then the dispatcher) read the parsed parts in
// place.
void DispatchLines(benchmark::State& state)
{
    const ServerStream& stream = serverStream();
    config::Settings settings;
    settings.nick = kOurNick;
    settings.altnick = "kivvo_";
    irc::ServerEvents events;
    std::size_t lines = 0;
    for (auto _ : state) {
        irc::LineFramer framer;
        irc::LineQueue queue;
        irc::LineRouter router(events, settings, quietServices());
        irc::Registration registration(kOurNick, "Kivvo", {});
        registration.start();
        const char* at = stream.bytes.data();
        for (const std::size_t read : stream.reads) {
            // The read buffer as the socket hands it over.
            const QByteArray bytes = QByteArray::fromRawData(at, qsizetype(read));
            const QList<QByteArrayView> batch = queue.push(bytes, framer);
            benchmark::DoNotOptimize(batch.data());
            while (!queue.empty()) {
                const irc::LineQueue::Line line = queue.pop();
                if (const std::optional<irc::Message> message = irc::parseMessage(line.view)) {
                    registration.take(*message);
                    router.route(*message);
                }
                ++lines;
            }
            at += read;
        }
    }
    if (lines != stream.lines * std::size_t(state.iterations()))
        state.SkipWithError("the framer lost lines");
    state.SetLabel("dispatch lines/s");
    state.counters["value"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}

// The least any receiver must do: find each CR LF and copy the line out.
void BareSplitter(benchmark::State& state)
{
    const ServerStream& stream = serverStream();
    std::size_t lines = 0;
    for (auto _ : state) {
        std::string pending;
        const char* at = stream.bytes.data();
        for (const std::size_t read : stream.reads) {
            const char* p = at;
            const char* const end = at + read;
            if (!pending.empty()) {
                // The carried-over tail may end in the CR of a CR LF split between two reads.
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', read));
                while (lf && (lf == p ? pending.back() != '\r' : lf[-1] != '\r'))
                    lf = static_cast<const char*>(std::memchr(lf + 1, '\n', end - lf - 1));
                if (!lf) {
                    pending.append(p, end);
                    at = end;
                    continue;
                }
                pending.append(p, lf);
                pending.pop_back(); // its CR
                std::string line = std::move(pending);
                benchmark::DoNotOptimize(line.data());
                ++lines;
                pending.clear();
                p = lf + 1;
            }
            while (p < end) {
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
                while (lf && (lf == p || lf[-1] != '\r'))
                    lf = static_cast<const char*>(std::memchr(lf + 1, '\n', end - lf - 1));
                if (!lf) {
                    pending.assign(p, end);
                    break;
                }
                std::string line(p, lf - 1);
                benchmark::DoNotOptimize(line.data());
                ++lines;
                p = lf + 1;
            }
            at = end;
        }
    }
    if (lines != stream.lines * std::size_t(state.iterations()))
        state.SkipWithError("the splitter lost lines");
    state.SetLabel("bare splitter lines/s");
    state.counters["value"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}

BENCHMARK(DispatchLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BareSplitter)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Presence

constexpr int kContacts = 256;

void PresencePoll(benchmark::State& state)
{
    std::mt19937 rng(99);
    QList<QByteArray> contacts;
    for (int i = 0; i < kContacts; ++i)
        contacts.append(QByteArray::fromStdString(randomNick(rng)));
    // The 303 replies: of each ISON line's names, about every other one online.
    QList<QList<QByteArray>> replies;
    for (const QByteArray& request : irc::BuildIsonLines(contacts)) {
        QList<QByteArray> online;
        for (const QByteArray& name : request.split(' ').mid(1)) {
            if (rng() % 2)
                online.append(name);
        }
        replies.append(online);
    }

    irc::PresenceMerge merge;
    qsizetype online = 0;
    for (auto _ : state) {
        const QList<QByteArray> requests = irc::BuildIsonLines(contacts);
        merge.startPoll(int(requests.size()));
        for (const QList<QByteArray>& reply : replies) {
            if (const auto merged = merge.takeReply(reply))
                online = merged->size();
        }
        benchmark::DoNotOptimize(online);
    }
    state.SetLabel("presence poll 256 contacts µs");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()) * 1e-6, kMicrosecondsEach);
}

BENCHMARK(PresencePoll)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

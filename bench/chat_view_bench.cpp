// The cost of showing one more chat line, with a short and with a long conversation already in
// the window: it must not grow with the conversation.
#include "peer/chat/chat_window.h"
#include "peer/common/chat_host.h"
#include "peer/common/session_record.h"
#include "tests/support/scripted_host.h"

#include <QApplication>
#include <QLocale>
#include <benchmark/benchmark.h>

namespace {

const QByteArray kLine = "<bob> some \x02"
                         "bold\x02 and \x03"
                         "4red\x03 text, a typical line\r\n";

void ShowLineAfter(benchmark::State& state)
{
    test::ScriptedHost host;
    peer::ChatSession session;
    session.nick = "bob";
    auto* window = new peer::ChatWindow(session, host);
    window->show();
    for (int i = 0; i < state.range(0); ++i)
        window->showLine(kLine);
    QCoreApplication::processEvents();
    for (auto _ : state)
        window->showLine(kLine);
    // The figure is the cost of the line that comes after range(0) lines, in microseconds.
    state.SetLabel("chat append line "
                   + QLocale(QLocale::English).toString(qlonglong(state.range(0))).toStdString()
                   + " µs");
    state.counters["value"] =
        benchmark::Counter(double(state.iterations()) * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    delete window;
}

// A fixed number of iterations, so that the conversation grows by the same few lines in all.
BENCHMARK(ShowLineAfter)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Memory: the program idle against a minimal Qt program, chat windows and chat lines, and a
// 1 GiB file transfer.
//   memory_bench [--repetitions N | N] [--smoke] [--app PATH] [--minimal PATH]
// N defaults to 5; --smoke is one repetition at tiny sizes.
//
// Everything runs on the offscreen platform (no X server needed), each measurement in a process
// of its own so that one cannot inherit another's heap:
// - idle: the real binaries (../kivvo and ./minimal_qt next to this one), each in a fresh
//   XDG_CONFIG_HOME / XDG_DATA_HOME holding an existing configuration with autoconnect off; VmRSS
//   from /proc once it has stayed put for a second.
// - chat lines, chat windows, transfer: this binary again (--child MODE), building the program
//   in-process as the test suites do (app::Program over a fresh store, main window shown,
//   started), then doing the work the way the program would: server text arriving from a peer
//   opens that peer's chat window and shows its line. The file transfer runs between a
//   peer::Transfers that offers (FileSender) and one that takes the offer up (FileReceiver), on
//   one event loop over loopback, from a sparse file; growth is RSS at the end minus RSS once
//   1/64 of the file has crossed (everything a transfer sets up exists by then). The figure is
//   the default mode; fast send is printed beside it.
#include "bench/child_process.h"
#include "bench/figures.h"
#include "bench/memory_child.h"
#include "bench/program_args.h"
#include "bench/program_home.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::g_quick;
using bench::nowMs;
using bench::rssKb;
using bench::stop;

// Waits until a process's RSS has moved by less than 64 kB for a whole second (a few tenths
// when quick), at most `timeoutMs`; the RSS then.
long settledRss(pid_t pid, int timeoutMs)
{
    const double deadline = nowMs() + timeoutMs;
    long last = rssKb(pid);
    int steady = 0;
    while (nowMs() < deadline && steady < (g_quick ? 3 : 10)) {
        usleep(100000);
        const long now = rssKb(pid);
        steady = std::labs(now - last) < 64 ? steady + 1 : 0;
        last = now;
    }
    return last;
}

// ---- the idle figures: real binaries -----------------------------------------------------

std::optional<double> idleRss(const std::string& program, const std::vector<std::string>& args,
                              int settleTimeoutMs)
{
    const bench::Home home;
    const pid_t pid = bench::launch(program, args, home, "offscreen", {}).pid;
    if (pid < 0)
        return std::nullopt;
    // Let it reach its event loop before judging whether it has settled.
    usleep(g_quick ? 200000 : 500000);
    const long kb = settledRss(pid, settleTimeoutMs);
    const bool alive = waitpid(pid, nullptr, WNOHANG) == 0;
    stop(pid);
    if (!alive || kb == 0) {
        std::fprintf(stderr, "%s did not stay up\n", program.c_str());
        return std::nullopt;
    }
    return double(kb) / 1024.0;
}

// ---- parent side -------------------------------------------------------------------------

std::string self()
{
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, size_t(n)) : std::string("./memory_bench");
}

// Runs this binary as a child doing `mode` over `amount`; its RSS before and after, in kB.
std::optional<std::pair<long, long>> runChild(const std::string& mode, qint64 amount)
{
    int fds[2];
    if (pipe(fds) != 0)
        return std::nullopt;
    const std::string me = self();
    const std::string count = std::to_string(amount);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl(me.c_str(), me.c_str(), "--child", mode.c_str(), count.c_str(),
              g_quick ? "quick" : "full", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string output;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long before = 0;
    long after = 0;
    const size_t at = output.find("@rss ");
    if (at == std::string::npos
        || std::sscanf(output.c_str() + at, "@rss %ld %ld", &before, &after) != 2) {
        std::fprintf(stderr, "memory_bench --child %s %s failed\n", mode.c_str(), count.c_str());
        return std::nullopt;
    }
    return std::make_pair(before, after);
}

void report(const std::string& name, const std::vector<double>& values, const char* note)
{
    bench::report(name, values, note, 40, 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
        g_quick = argc >= 5 && std::strcmp(argv[4], "quick") == 0;
        return bench::memoryChild(argv[2], std::atoll(argv[3]), argc, argv);
    }

    const auto args = bench::parseProgramArgs(argc, argv, 5);
    if (!args)
        return 2;
    const int repetitions = args->repetitions;
    const bool smoke = args->smoke;
    const std::string& kivvo = args->kivvo;
    const std::string& minimal = args->minimal;
    g_quick = smoke;
    const int lines = smoke ? 100 : 10000;
    const int windows = smoke ? 5 : 300;
    const qint64 fileSize = smoke ? qint64(4) << 20 : qint64(1) << 30;
    const int settleTimeout = smoke ? 1500 : 10000;
    std::signal(SIGPIPE, SIG_IGN);

    std::vector<double> idle, minimalIdle, afterLines, afterWindows, perWindow, growth, fastGrowth;
    for (int i = 0; i < repetitions; ++i) {
        const auto ours = idleRss(kivvo, {}, settleTimeout);
        const auto theirs = idleRss(minimal, {"minimal Qt"}, settleTimeout);
        const auto lineRun = runChild("lines", lines);
        const auto windowRun = runChild("windows", windows);
        const auto transferRun = runChild("transfer", fileSize);
        const auto fastRun = runChild("transfer-fast", fileSize);
        if (!ours || !theirs || !lineRun || !windowRun || !transferRun || !fastRun)
            return 1;
        idle.push_back(*ours);
        minimalIdle.push_back(*theirs);
        afterLines.push_back(double(lineRun->second) / 1024.0);
        afterWindows.push_back(double(windowRun->second) / 1024.0);
        perWindow.push_back(double(windowRun->second - windowRun->first) / 1024.0 / windows);
        growth.push_back(double(transferRun->second - transferRun->first) / 1024.0);
        fastGrowth.push_back(double(fastRun->second - fastRun->first) / 1024.0);
        std::fprintf(stderr,
                     "repetition %d: lines %ld->%ld kB, windows %ld->%ld kB, transfer %ld->%ld kB, "
                     "fast send %ld->%ld kB\n",
                     i + 1, lineRun->first, lineRun->second, windowRun->first, windowRun->second,
                     transferRun->first, transferRun->second, fastRun->first, fastRun->second);
    }
    std::printf("%d repetitions, offscreen; %d lines, %d windows, %lld MiB\n", repetitions, lines,
                windows, static_cast<long long>(fileSize >> 20));
    std::printf("%-40s %8s %8s %8s\n", "", "min", "median", "max");
    report("idle RSS MB", idle, "the real binary, settled; target within 15 MB of minimal Qt");
    report("minimal Qt idle RSS MB", minimalIdle, "bench/minimal_qt measured the same way");
    // The names stay the same under --smoke (tiny sizes), so the table reads either run.
    report("RSS after 10,000 chat lines MB", afterLines, "one chat window, in-process program");
    report("RSS after 300 chat windows MB", afterWindows, "one line each, in-process program");
    report("RSS per chat window MB", perWindow, "growth over the windows / their number");
    report("RSS growth over 1 GiB transfer MB", growth,
           "default mode; from 1/64 of the file to its end; target no growth");
    std::vector<double> sorted = fastGrowth;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-40s %8.2f %8.2f %8.2f  %s\n", "(the same with fast send MB)", sorted.front(),
                sorted[sorted.size() / 2], sorted.back(), "for reading only");
    return 0;
}

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
#include "app/main_window.h"
#include "app/program.h"
#include "bench/figures.h"
#include "bench/program_args.h"
#include "bench/sent_offer.h"
#include "config/installation.h"
#include "config/registry.h"
#include "irc/dcc_offer.h"
#include "peer/chat_host.h"
#include "peer/chat_sessions.h"
#include "peer/transfer.h"
#include "peer/transfers.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// VmRSS of a process in kB; 0 when it cannot be read (the process is gone).
long rssKb(pid_t pid = 0)
{
    const std::string path =
        pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status");
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kb = std::atol(line + 6);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

// Under --smoke every wait is short: the run only has to show that it works.
bool g_quick = false;

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

bool reap(pid_t pid, int timeoutMs, int* status = nullptr)
{
    const double deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
        int s = 0;
        const pid_t got = waitpid(pid, &s, WNOHANG);
        if (got == pid) {
            if (status)
                *status = s;
            return true;
        }
        if (got < 0 && errno == ECHILD)
            return true;
        usleep(5000);
    }
    return false;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    if (!reap(pid, 5000)) {
        kill(pid, SIGKILL);
        reap(pid, 5000);
    }
}

// A fresh store as any run after the first finds it: keys, install folder, one server (never
// contacted: autoconnect is off), the nick.
void makeConfiguration(config::Registry& registry, const QString& installDir)
{
    config::FirstRunDefaults defaults;
    defaults.installDir = installDir;
    defaults.nick = "alice";
    defaults.autoconnect = false;
    config::installIfMissing(registry, defaults);
}

// ---- the idle figures: real binaries -----------------------------------------------------

quint16 freeLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                       && getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    close(s);
    return bound ? ntohs(address.sin_port) : 0;
}

std::optional<double> idleRss(const std::string& program, const std::vector<std::string>& args,
                              int settleTimeoutMs)
{
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("config"));
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QDir().mkpath(config + QStringLiteral("/kivvo"));
    QDir().mkpath(runtime);
    chmod(runtime.toLocal8Bit().constData(), 0700);
    {
        config::Registry registry(config + QStringLiteral("/kivvo/registry.db"));
        makeConfiguration(registry, data + QStringLiteral("/kivvo"));
    }
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("QT_QPA_PLATFORM=", 0) && entry.rfind("XDG_CONFIG_HOME=", 0)
            && entry.rfind("XDG_DATA_HOME=", 0) && entry.rfind("XDG_RUNTIME_DIR=", 0)
            && entry.rfind("KIVVO_IDENT_PORT=", 0) && entry.rfind("DISPLAY=", 0))
            env.push_back(entry);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_CONFIG_HOME=" + config.toStdString());
    env.push_back("XDG_DATA_HOME=" + data.toStdString());
    env.push_back("XDG_RUNTIME_DIR=" + runtime.toStdString());
    // The ident listener opens as it always does, on a port nobody else holds.
    env.push_back("KIVVO_IDENT_PORT=" + std::to_string(freeLoopbackPort()));
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string cwd = dir.path().toStdString();

    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
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

// ---- the in-process figures (child side) ----------------------------------------------------

void settle(int ms)
{
    if (g_quick)
        ms /= 5;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

struct ProgramUnderTest
{
    ProgramUnderTest()
        : registry(dir.filePath(QStringLiteral("registry.db")))
    {
        makeConfiguration(registry, dir.filePath(QStringLiteral("install")));
        program = std::make_unique<app::Program>(registry, app::Program::Options{});
        program->window().show();
        program->start();
    }
    QTemporaryDir dir;
    config::Registry registry;
    std::unique_ptr<app::Program> program;
};

// One peer's lines arriving as server text into one chat window.
std::pair<long, long> chatLines(int count)
{
    ProgramUnderTest under;
    settle(500);
    const long before = rssKb();
    for (int i = 0; i < count; ++i) {
        const QByteArray text = "line " + QByteArray::number(i)
                                + ": the quick brown fox jumps over the lazy dog, "
                                  "and then some more words";
        under.program->chats().deliverPrivateText("bob", text, std::nullopt);
        // Painted now and then, as lines arriving from a server would be.
        if (i % 100 == 99)
            QCoreApplication::processEvents();
    }
    settle(1000);
    return {before, rssKb()};
}

// Peers each saying one line: one chat window each.
std::pair<long, long> chatWindows(int count)
{
    ProgramUnderTest under;
    // The first window pays for what every window shares (fonts, style, the icons' cache).
    under.program->chats().deliverPrivateText("first", QByteArray("hello"), std::nullopt);
    settle(500);
    const long before = rssKb();
    for (int i = 0; i < count; ++i) {
        under.program->chats().deliverPrivateText("peer" + QByteArray::number(i),
                                                  QByteArray("hello"), std::nullopt);
        if (i % 10 == 9)
            QCoreApplication::processEvents();
    }
    settle(1000);
    return {before, rssKb()};
}

class OfferHost : public peer::ChatHost
{
public:
    explicit OfferHost(QByteArray nick)
        : m_nick(std::move(nick))
    {}
    QByteArray nickInUse() const override { return m_nick; }
    bool sendServerLine(const QByteArray& line) override
    {
        offer = line;
        return true;
    }
    bool loggingOn() const override { return false; }
    std::optional<QString> installDir() const override { return std::nullopt; }
    quint32 offerAddress() const override { return 0x7F000001; }
    QByteArray offer;

private:
    QByteArray m_nick;
};

bool makeFile(const QString& path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Holes: the file costs no disk and reads at page-cache speed; its bytes do not matter here.
    return file.resize(size);
}

// RSS once the transfer has settled into its stride (windows, sockets, buffers all made), and
// again when the whole file has arrived: what grows with the file's length is the difference.
std::pair<long, long> transferGrowth(qint64 size, bool fastSend)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    const QString target = dir.filePath(QStringLiteral("target.bin"));
    if (!makeFile(source, size))
        return {0, 0};
    OfferHost sender("alice");
    OfferHost receiver("bob");
    peer::Transfers sending(sender);
    peer::Transfers receiving(receiver);
    sending.setFastSend(fastSend);
    if (!sending.offerFile("bob", source))
        return {0, 0};
    const auto offer = bench::readSentOffer(irc::DccKind::Send, sender.offer);
    if (!offer || !receiving.receive(*offer, target))
        return {0, 0};
    peer::Transfer* out = sending.at(0);
    peer::Transfer* in = receiving.at(0);
    const quint64 stride = quint64(size / 64);
    if (!runUntil([&] { return in->count() >= stride || in->isFinished(); }, 60 * 1000))
        return {0, 0};
    const long before = rssKb();
    if (!runUntil([&] { return out->isFinished() && in->isFinished(); }, 30 * 60 * 1000)
        || in->status() != peer::Transfer::Status::Complete)
        return {0, 0};
    settle(500);
    const long after = rssKb();
    QFile::remove(target);
    return {before, after};
}

int child(const std::string& mode, qint64 amount, int argc, char** argv)
{
    // The parent chooses the platform (offscreen); run by hand, a child may be given another.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    // Warnings from the offscreen platform (it cannot raise windows) say nothing about memory.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    std::pair<long, long> result{0, 0};
    if (mode == "lines")
        result = chatLines(int(amount));
    else if (mode == "windows")
        result = chatWindows(int(amount));
    else if (mode == "transfer")
        result = transferGrowth(amount, false);
    else if (mode == "transfer-fast")
        result = transferGrowth(amount, true);
    if (result.first == 0 || result.second == 0)
        return 1;
    std::printf("@rss %ld %ld\n", result.first, result.second);
    std::fflush(stdout);
    // The program's close step is not what is measured; leave without it.
    _exit(0);
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
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%-40s %8.2f %8.2f %8.2f  %s\n", name.c_str(), sorted.front(),
                sorted[sorted.size() / 2], sorted.back(), note);
    bench::printFigure(name, values);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
        g_quick = argc >= 5 && std::strcmp(argv[4], "quick") == 0;
        return child(argv[2], std::atoll(argv[3]), argc, argv);
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

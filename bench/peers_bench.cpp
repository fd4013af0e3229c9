// File transfer rates against a real peer over a real ngircd on loopback, measured side by side
// in one run: irssi to irssi (the reference: what a common client manages against itself on
// this machine), irssi to the program, and the program to irssi in its default mode and with
// fast send. Each rate runs from the moment the receiver's connection is up until the receiver
// has the whole file, as the two ends report it: irssi's DCC events carry the wall-clock time
// they came (the bench's irssi driver notes it), the program says so by its completed signal.
//   peers_bench [MIB] [REPETITIONS]        defaults 64 and 3
// Without ngircd or irssi (with its perl module) it says so and measures nothing.
#include "app/main_window.h"
#include "app/program.h"
#include "bench/figures.h"
#include "bench/run_until.h"
#include "config/installation.h"
#include "config/prompter.h"
#include "config/registry.h"
#include "config/store.h"
#include "peer/transfer/transfer.h"
#include "peer/transfer/transfers.h"
#include "tests/support/irssi_client.h"
#include "tests/support/ngircd_server.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

// A transfer that has not ended by then has failed; a run is bounded by this times the number
// of transfers.
constexpr int kTransferLimitMs = 120 * 1000;
constexpr int kLinkMs = 15 * 1000;

double wallSeconds()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Runs the event loop until `done`, looking at it every `everyMs` only: reading the peers' logs
// at every turn of the loop would take time from the transfer being measured.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = kTransferLimitMs,
               int everyMs = 50)
{
    QElapsedTimer clock;
    clock.start();
    qint64 lastLook = -everyMs;
    return bench::runUntil(
        [&] {
            if (clock.elapsed() - lastLook < everyMs)
                return false;
            lastLook = clock.elapsed();
            return done();
        },
        timeoutMs);
}

// Says yes to every question and takes each offered file into the next destination queued.
class AcceptingPrompter : public config::Prompter
{
public:
    using Prompter::ask;

    std::optional<QString> getInput(QWidget*, const config::InputRequest&) override
    {
        if (destinations.empty())
            return std::nullopt;
        QString next = destinations.front();
        destinations.pop_front();
        return next;
    }
    void showError(QWidget*, const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "peers_bench: the program says \"%s: %s\"\n", qPrintable(title),
                     qPrintable(text));
    }
    void showNotice(QWidget*, const QString&, const QString&) override {}
    bool ask(QWidget*, const config::Question&) override { return true; }
    std::optional<QString> browseForFile(QWidget*) override { return std::nullopt; }
    std::optional<config::FileToSend> askFileToSend(QWidget*, const QString&) override
    {
        if (filesToSend.empty())
            return std::nullopt;
        config::FileToSend next = filesToSend.front();
        filesToSend.pop_front();
        return next;
    }

    std::deque<QString> destinations;
    std::deque<config::FileToSend> filesToSend;
};

// The program as "kivvo", connected to the server, with its own store.
struct ProgramUnderTest
{
    ProgramUnderTest(quint16 port, const QString& folder)
        : registry(QDir(folder).filePath(QStringLiteral("registry.db")))
    {
        config::FirstRunDefaults defaults;
        defaults.installDir = QDir(folder).filePath(QStringLiteral("install"));
        defaults.nick = "kivvo";
        defaults.serverPort = port;
        defaults.autoconnect = true;
        config::installIfMissing(registry, defaults);
        config::Store store(registry);
        config::Settings settings = store.LoadSettings();
        // No desktop notification at each completed file.
        settings.notify = false;
        store.SaveSettings(settings);
        auto accepting = std::make_unique<AcceptingPrompter>();
        prompter = accepting.get();
        app::Program::Options options;
        options.tray = app::Tray::Availability::Absent;
        program = std::make_unique<app::Program>(registry, options, std::move(accepting));
        QObject::connect(&program->transfers(), &peer::Transfers::transferCompleted,
                         [this](const QByteArray&, const QString& fileName) {
                             completedAt[fileName] = wallSeconds();
                         });
        program->window().show();
        program->start();
    }
    void setFastSend(bool on)
    {
        config::Settings settings = program->settings();
        settings.fastsend = on;
        program->applySettings(settings);
    }

    config::Registry registry;
    AcceptingPrompter* prompter = nullptr;
    // When each file, by its name, went all the way (wall-clock seconds, as irssi notes them).
    QHash<QString, double> completedAt;
    std::unique_ptr<app::Program> program;
};

// The line of the first event in `events` that starts with `prefix` and names `fileName`.
std::optional<QByteArray> eventLine(const QByteArray& events, const QByteArray& prefix,
                                    const QString& fileName)
{
    const QByteArray name = fileName.toUtf8();
    for (const QByteArray& line : events.split('\n')) {
        // irssi names a file it sends by its path or its name, one it gets by its name.
        if (line.startsWith(prefix)
            && (line.contains(" " + name + " ") || line.contains("/" + name + " ")))
            return line;
    }
    return std::nullopt;
}

// The value of `key` ("at", "transferred") in an event line.
QByteArray field(const QByteArray& line, const QByteArray& key)
{
    for (const QByteArray& word : line.split(' ')) {
        if (word.startsWith(key + "="))
            return word.mid(key.size() + 1);
    }
    return {};
}

struct Bench
{
    QTemporaryDir folder;
    test::Ngircd server;
    test::IrssiClient sender;   // "ivy"
    test::IrssiClient receiver; // "ira", taking every file
    std::unique_ptr<ProgramUnderTest> kivvo;
    QString source;
    qint64 size = 0;
    int made = 0;

    QString path(const QString& name) const { return folder.filePath(name); }

    bool start(qint64 bytes)
    {
        size = bytes;
        if (!folder.isValid() || !server.start())
            return fail("the local ngircd did not start");
        QDir().mkpath(path("ivy"));
        QDir().mkpath(path("ira"));
        QDir().mkpath(path("kivvo"));
        QDir().mkpath(path("files"));
        QDir().mkpath(path("kivvo-in"));
        if (!sender.start(path("ivy"), server.port(), "ivy")
            || !receiver.start(path("ira"), server.port(), "ira"))
            return fail("irssi did not start");
        kivvo = std::make_unique<ProgramUnderTest>(server.port(), path("kivvo"));
        if (!waitUntil([&] { return sender.isRegistered() && receiver.isRegistered(); }, kLinkMs)
            || !waitUntil([&] { return kivvo->program->link().isConnected(); }, kLinkMs))
            return fail("the clients did not all get onto the server");
        if (!receiver.run("/set dcc_autoget on")
            || !waitUntil([&] { return receiver.logContains("command /set dcc_autoget on"); },
                          kLinkMs))
            return fail("irssi did not take its settings");
        test::Watcher watcher;
        if (!watcher.connectTo(server.port())
            || !waitUntil(
                [&] {
                    return watcher.isOnline("ivy") && watcher.isOnline("ira")
                           && watcher.isOnline("kivvo");
                },
                kLinkMs))
            return fail("the server does not list everyone online");
        return makeSource();
    }

    bool makeSource()
    {
        source = path("files/source.bin");
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly))
            return fail("cannot write the file to send");
        QByteArray chunk(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(1);
        for (qint64 written = 0; written < size;) {
            generator.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
            const qint64 length = std::min<qint64>(chunk.size(), size - written);
            if (file.write(chunk.constData(), length) != length)
                return fail("cannot write the file to send");
            written += length;
        }
        return true;
    }

    // A fresh name for the file to send, on the same bytes: no peer mistakes one run's file for
    // the one before.
    QString freshCopy(const char* pair)
    {
        const QString name = QStringLiteral("%1-%2.bin").arg(QString::fromLatin1(pair)).arg(++made);
        QString copy = path("files/" + name);
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(copy).constData()) != 0)
            return {};
        return copy;
    }

    static bool fail(const char* why)
    {
        std::fprintf(stderr, "peers_bench: %s\n", why);
        return false;
    }

    double rate(double from, double to) const
    {
        return to > from ? double(size) / (to - from) / 1e6 : 0;
    }

    // irssi receives what `sendCommand` offered to "ira": from its connection up to its close,
    // the whole size counted.
    double intoIrssi(const QString& name, const std::function<bool()>& senderDone)
    {
        std::optional<QByteArray> closed;
        const bool ended = waitUntil([&] {
            closed = eventLine(receiver.events(), "dcc-closed GET ", name);
            return closed && senderDone();
        });
        const std::optional<QByteArray> connected =
            eventLine(receiver.events(), "dcc-connected GET ", name);
        QFile::remove(QDir(receiver.downloadFolder()).filePath(name));
        if (!ended || !connected || field(*closed, "transferred") != QByteArray::number(size)) {
            std::fprintf(stderr, "peers_bench: irssi did not receive %s whole\n%s\n",
                         qPrintable(name), receiver.log().right(3000).constData());
            return 0;
        }
        return rate(field(*connected, "at").toDouble(), field(*closed, "at").toDouble());
    }

    double irssiToIrssi()
    {
        const QString copy = freshCopy("irssi-irssi");
        const QString name = QFileInfo(copy).fileName();
        if (copy.isEmpty() || !sender.run("/dcc send ira " + QFile::encodeName(copy)))
            return 0;
        const double result = intoIrssi(
            name, [&] { return eventLine(sender.events(), "dcc-closed SEND ", name).has_value(); });
        QFile::remove(copy);
        return result;
    }

    double programToIrssi(bool fast)
    {
        kivvo->setFastSend(fast);
        const QString copy = freshCopy(fast ? "kivvo-irssi-fast" : "kivvo-irssi");
        const QString name = QFileInfo(copy).fileName();
        if (copy.isEmpty())
            return 0;
        kivvo->prompter->filesToSend.push_back(config::FileToSend{"ira", copy});
        if (!kivvo->program->commands().run(app::Command::SendFileTo, QByteArray("ira"))) {
            fail("the program did not offer the file");
            return 0;
        }
        const double result = intoIrssi(name, [&] { return kivvo->completedAt.contains(name); });
        QFile::remove(copy);
        return result;
    }

    // The program receives: from irssi's word that the program's connection came until the
    // program has the whole file.
    double irssiToProgram()
    {
        const QString copy = freshCopy("irssi-kivvo");
        const QString name = QFileInfo(copy).fileName();
        const QString destination = path("kivvo-in/" + name);
        if (copy.isEmpty())
            return 0;
        kivvo->prompter->destinations.push_back(destination);
        if (!sender.run("/dcc send kivvo " + QFile::encodeName(copy)))
            return 0;
        std::optional<QByteArray> closed;
        const bool ended = waitUntil([&] {
            closed = eventLine(sender.events(), "dcc-closed SEND ", name);
            return closed && kivvo->completedAt.contains(name);
        });
        const std::optional<QByteArray> connected =
            eventLine(sender.events(), "dcc-connected SEND ", name);
        const qint64 landed = QFileInfo(destination).size();
        QFile::remove(destination);
        QFile::remove(copy);
        if (!ended || !connected || landed != size) {
            std::fprintf(stderr, "peers_bench: the program did not receive %s whole\n%s\n",
                         qPrintable(name), sender.log().right(3000).constData());
            return 0;
        }
        return rate(field(*connected, "at").toDouble(), kivvo->completedAt.value(name));
    }
};

void report(const char* name, std::vector<double> figures, const char* words)
{
    bench::printFigure(name, figures);
    std::sort(figures.begin(), figures.end());
    std::printf("%-34s %10.1f %10.1f %10.1f  %s\n", name, figures.front(),
                figures[figures.size() / 2], figures.back(), words);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt wants a private runtime folder; run by hand, the bench may have none.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
    // The program under measurement never touches the keychain of the desk it runs on.
    qputenv("KIVVO_NO_KEYCHAIN", "1");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const qint64 mib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (!test::haveNgircd() || !test::haveIrssi()) {
        std::printf("peers_bench: ngircd or irssi (with its perl module) is not installed; "
                    "nothing measured\n");
        return 0;
    }
    Bench bench;
    if (!bench.start(mib * 1024 * 1024))
        return 1;
    std::vector<double> reference, intoProgram, fromProgram, fromProgramFast;
    // One of each per round, so that whatever else the machine does falls on all of them alike.
    for (int i = 0; i < repetitions; ++i) {
        reference.push_back(bench.irssiToIrssi());
        intoProgram.push_back(bench.irssiToProgram());
        fromProgram.push_back(bench.programToIrssi(false));
        fromProgramFast.push_back(bench.programToIrssi(true));
        for (const auto* figures : {&reference, &intoProgram, &fromProgram, &fromProgramFast}) {
            if (figures->back() <= 0)
                return 1;
        }
    }
    std::printf("%lld MiB, %d repetitions, over ngircd%19s %10s %10s\n",
                static_cast<long long>(mib), repetitions, "min", "median", "max");
    report("irssi to irssi MB/s", reference, "the reference");
    report("irssi to program MB/s", intoProgram, "");
    report("program to irssi default MB/s", fromProgram, "");
    report("program to irssi fast send MB/s", fromProgramFast, "");
    return 0;
}

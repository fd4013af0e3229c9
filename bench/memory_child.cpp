// The in-process half of memory_bench: the program built as the test suites build it, doing
// the work the way the program would, in a process of its own.
#include "bench/memory_child.h"

#include "app/main_window.h"
#include "app/program.h"
#include "bench/run_until.h"
#include "config/installation.h"
#include "config/registry.h"
#include "irc/dcc_offer.h"
#include "peer/chat/chat_sessions.h"
#include "peer/common/chat_host.h"
#include "peer/transfer/transfer.h"
#include "peer/transfer/transfers.h"
#include "tests/support/scripted_host.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

namespace bench {
namespace {

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
    test::ScriptedHost sender("alice");
    test::ScriptedHost receiver("bob");
    peer::Transfers sending(sender);
    peer::Transfers receiving(receiver);
    sending.setFastSend(fastSend);
    if (!sending.offerFile("bob", source))
        return {0, 0};
    const auto offer =
        test::ScriptedHost::readOffer(irc::DccKind::Send, "alice", sender.sent.last());
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

} // namespace

int memoryChild(const std::string& mode, qint64 amount, int argc, char** argv)
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

} // namespace bench

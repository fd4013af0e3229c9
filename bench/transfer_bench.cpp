// File transfer speed: our default mode and fast send between a sender and a receiver on two
// threads over loopback, our receiver fed by a sender that never waits and by a plain
// stop-and-wait sender, several transfers at once, how late a 10 ms timer on the window's thread
// runs during a large fast send, and two references measured in the same run: a stop-and-wait
// loop of 1024-byte blocks over blocking sockets (the protocol's own ceiling) and a plain
// loopback copy.
//   transfer_bench [MIB] [REPETITIONS] [TIMER_MIB]        defaults 64, 5 and 1024
#include "bench/figures.h"
#include "bench/plain_loops.h"
#include "bench/run_until.h"
#include "irc/dcc_offer.h"
#include "peer/common/chat_host.h"
#include "peer/link/dcc_tls.h"
#include "peer/transfer/file_receiver.h"
#include "peer/transfer/transfer_thread.h"
#include "peer/transfer/transfers.h"
#include "tests/support/scripted_host.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::loopbackListener;
using bench::plainCopy;
using bench::readFull;
using bench::stopAndWait;
using test::ScriptedHost;

bool runUntil(const std::function<bool()>& done, int timeoutMs = 600000)
{
    return bench::runUntil(done, timeoutMs);
}

// Our sender with its window in this thread, our receiver in a thread of its own, as two
// programs would run on two cores; over TLS when `identities` are given (sender's, receiver's).
// With `timerLateness`, a 10 ms timer runs on this thread meanwhile, and each interval it took
// goes there.
double ourTransfer(const QString& source, const QString& target, bool fast,
                   const std::vector<peer::TlsIdentity>& identities = {},
                   std::vector<double>* timerIntervals = nullptr)
{
    const bool secure = identities.size() == 2;
    ScriptedHost host;
    host.privateOffers = secure;
    if (secure)
        host.identity = identities[0];
    peer::Transfers sending(host);
    sending.setFastSend(fast);
    QElapsedTimer clock;
    clock.start();
    if (!sending.offerFile("bob", source))
        return 0;
    // The sender listened: the receiver's certificate is new to it, and taken as the user would.
    peer::Transfer* sender = sending.at(0);
    QObject::connect(sender, &peer::Transfer::peerKeyToAccept, sender,
                     [sender] { sender->acceptPeerKey(); });
    const auto offer =
        ScriptedHost::readOffer(irc::DccKind::Send, "alice", host.sent.last(), secure);
    if (!offer)
        return 0;
    std::atomic<bool> received{false};
    std::atomic<bool> complete{false};
    std::thread receiving([&] {
        ScriptedHost receiverHost;
        receiverHost.privateOffers = secure;
        if (secure)
            receiverHost.identity = identities[1];
        peer::FileReceiver receiver("alice", target, offer->size);
        if (secure)
            receiver.makePrivate(receiverHost);
        if (receiver.open()) {
            QEventLoop loop;
            QObject::connect(&receiver, &peer::Transfer::statusChanged, &loop, [&] {
                if (receiver.isFinished())
                    loop.quit();
            });
            receiver.connectTo(QHostAddress(offer->address), offer->port);
            loop.exec();
            complete = receiver.status() == peer::Transfer::Status::Complete;
        }
        received = true;
    });
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QElapsedTimer sinceTick;
    if (timerIntervals) {
        QObject::connect(&tick, &QTimer::timeout, [&] {
            timerIntervals->push_back(double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.start();
        });
        sinceTick.start();
        tick.start();
    }
    const bool done = runUntil([&] { return sending.at(0)->isFinished() && received; });
    tick.stop();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    receiving.join();
    return done && complete ? double(offer->size) / seconds / 1e6 : 0;
}

// Our sender in the default mode, its data on the transfer thread as in the program, against a
// plain receiver on a thread of its own that reads each block and acknowledges it, as the
// reference loop does.
double toPlainReceiver(const QString& source)
{
    ScriptedHost host;
    peer::Transfers sending(host);
    if (!sending.offerFile("bob", source))
        return 0;
    const auto offer =
        ScriptedHost::readOffer(irc::DccKind::Send, "alice", host.sent.last(), false);
    if (!offer)
        return 0;
    QElapsedTimer clock;
    clock.start();
    std::atomic<bool> received{false};
    std::thread receiving([&] {
        const int peer = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(offer->address.toIPv4Address());
        address.sin_port = htons(offer->port);
        if (connect(peer, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            const int one = 1;
            setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::vector<char> block(1024);
            for (quint64 count = 0; count < offer->size;) {
                const ssize_t got = read(peer, block.data(), block.size());
                if (got <= 0)
                    break;
                count += quint64(got);
                const quint32 ack = htonl(quint32(count));
                write(peer, &ack, 4);
            }
        }
        close(peer);
        received = true;
    });
    const bool done = runUntil([&] { return sending.at(0)->isFinished() && received; });
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    receiving.join();
    const bool complete = sending.at(0)->status() == peer::Transfer::Status::Complete;
    return done && complete ? double(offer->size) / seconds / 1e6 : 0;
}

// `count` fast sends at once from one program's transfers to another's receivers (their data
// on the receiving thread's own transfer thread): the aggregate rate, and the rate of the slowest
// against the mean (how far one transfer may starve while the others run).
std::pair<double, double> concurrentTransfers(const QString& source, const QString& targetBase,
                                              int count)
{
    ScriptedHost host;
    peer::Transfers sending(host);
    sending.setFastSend(true);
    QElapsedTimer clock;
    clock.start();
    std::vector<irc::DccOffer> offers;
    for (int i = 0; i < count; ++i) {
        if (!sending.offerFile("bob", source))
            return {0, 0};
        const auto offer =
            ScriptedHost::readOffer(irc::DccKind::Send, "alice", host.sent.last(), false);
        if (!offer)
            return {0, 0};
        offers.push_back(*offer);
    }
    std::vector<double> seconds(size_t(count), 0);
    std::atomic<int> complete{0};
    std::atomic<bool> received{false};
    std::thread receiving([&] {
        peer::TransferThread dataThread;
        std::vector<std::unique_ptr<peer::FileReceiver>> receivers;
        QEventLoop loop;
        int finished = 0;
        for (int i = 0; i < count; ++i) {
            auto receiver = std::make_unique<peer::FileReceiver>(
                "alice", targetBase + QString::number(i), offers[size_t(i)].size);
            receiver->setDataThread(&dataThread);
            if (!receiver->open())
                continue;
            peer::FileReceiver* raw = receiver.get();
            QObject::connect(raw, &peer::Transfer::statusChanged, &loop, [&, raw, i] {
                if (!raw->isFinished())
                    return;
                seconds[size_t(i)] = double(clock.nsecsElapsed()) / 1e9;
                if (raw->status() == peer::Transfer::Status::Complete)
                    ++complete;
                if (++finished == count)
                    loop.quit();
            });
            raw->connectTo(QHostAddress(offers[size_t(i)].address), offers[size_t(i)].port);
            receivers.push_back(std::move(receiver));
        }
        if (int(receivers.size()) == count)
            loop.exec();
        received = true;
    });
    const bool done = runUntil([&] {
        if (!received)
            return false;
        for (int i = 0; i < count; ++i) {
            if (!sending.at(i)->isFinished())
                return false;
        }
        return true;
    });
    const double total = double(clock.nsecsElapsed()) / 1e9;
    receiving.join();
    if (!done || complete != count)
        return {0, 0};
    const double size = double(offers.front().size);
    double mean = 0;
    double slowest = 1e300;
    for (const double s : seconds) {
        mean += size / s / count;
        slowest = std::min(slowest, size / s);
    }
    return {size * count / total / 1e6, slowest / mean};
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

void makeFile(const QString& path, qint64 mib)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(1);
    for (qint64 i = 0; i < mib; ++i) {
        generator.fillRange(reinterpret_cast<quint32*>(chunk.data()), chunk.size() / 4);
        file.write(chunk);
    }
}

// Our receiver, its data on a transfer thread as in the program, fed by a plain sender on a
// thread of its own: one that writes the whole file without waiting for anything (`eager`), or
// one that sends each 1024-byte block after the acknowledgement of the one before.
double fromPlainSender(const QString& target, qint64 size, bool eager)
{
    const auto bound = loopbackListener();
    const int listener = bound.first;
    const sockaddr_in address = bound.second;
    peer::TransferThread dataThread;
    peer::FileReceiver receiver("alice", target, quint64(size));
    receiver.setDataThread(&dataThread);
    if (!receiver.open())
        return 0;
    QElapsedTimer clock;
    clock.start();
    std::thread sending([listener, size, eager] {
        const int peer = accept(listener, nullptr, nullptr);
        const int one = 1;
        setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::vector<char> buffer(eager ? 64 * 1024 : 1024, 'y');
        for (qint64 sent = 0; sent < size;) {
            const ssize_t n = write(peer, buffer.data(),
                                    size_t(std::min<qint64>(qint64(buffer.size()), size - sent)));
            if (n <= 0)
                break;
            sent += n;
            quint32 ack = 0;
            if (!eager && !readFull(peer, reinterpret_cast<char*>(&ack), 4))
                break;
        }
        // Drain the acknowledgements until the receiver closes, then go.
        char sink[4096];
        while (read(peer, sink, sizeof sink) > 0) {
        }
        close(peer);
    });
    receiver.connectTo(QHostAddress::LocalHost, ntohs(address.sin_port));
    runUntil([&] { return receiver.isFinished(); });
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    sending.join();
    close(listener);
    return receiver.status() == peer::Transfer::Status::Complete ? double(size) / seconds / 1e6 : 0;
}

long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return 0;
}

void report(const char* name, std::vector<double> figures, const char* unit)
{
    bench::printFigure(name, figures);
    std::sort(figures.begin(), figures.end());
    std::printf("%-34s %10.1f %10.1f %10.1f  %s\n", name, figures.front(),
                figures[figures.size() / 2], figures.back(), unit);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const qint64 mib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 64;
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const qint64 timerMib = argc > 3 ? std::max(1, std::atoi(argv[3])) : 1024;
    const qint64 size = mib * 1024 * 1024;
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    makeFile(source, mib);
    const QString target = dir.filePath(QStringLiteral("target.bin"));
    const long rssBefore = peakRssKb();
    std::vector<peer::TlsIdentity> identities;
    for (int i = 0; i < 2; ++i) {
        if (auto identity = peer::makeTlsIdentity())
            identities.push_back(*identity);
    }
    std::vector<double> stopWait, copy, normal, sendDefault, fast, eager, receiveDefault,
        privateFast;
    std::map<int, std::pair<std::vector<double>, std::vector<double>>> concurrent;
    for (int i = 0; i < repetitions; ++i) {
        stopWait.push_back(stopAndWait(size));
        copy.push_back(plainCopy(size));
        normal.push_back(ourTransfer(source, target, false));
        sendDefault.push_back(toPlainReceiver(source));
        receiveDefault.push_back(fromPlainSender(target, size, false));
        fast.push_back(ourTransfer(source, target, true));
        eager.push_back(fromPlainSender(target, size, true));
        privateFast.push_back(ourTransfer(source, target, true, identities));
        for (const int count : {2, 4, 8}) {
            const auto [aggregate, fairness] =
                concurrentTransfers(source, dir.filePath(QStringLiteral("many")), count);
            concurrent[count].first.push_back(aggregate);
            concurrent[count].second.push_back(fairness);
        }
    }
    const long growthKb = peakRssKb() - rssBefore;
    // The window's thread during one large fast send, and the same timer with nothing running.
    std::vector<double> idleIntervals;
    {
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(10);
        QElapsedTimer sinceTick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            idleIntervals.push_back(double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.start();
        });
        sinceTick.start();
        tick.start();
        runUntil([&] { return idleIntervals.size() >= 200; });
    }
    const QString large = dir.filePath(QStringLiteral("large.bin"));
    makeFile(large, timerMib);
    std::vector<double> busyIntervals;
    const double largeRate = ourTransfer(large, target, true, {}, &busyIntervals);
    QFile::remove(large);

    std::printf("%lld MiB, %d repetitions%34s %10s %10s\n", static_cast<long long>(mib),
                repetitions, "min", "median", "max");
    report("stop-and-wait reference MB/s", stopWait, "");
    report("transfer default MB/s", normal, "both sides ours, a file written");
    report("send default MB/s", sendDefault, "target >= 1.0x stop-and-wait in every run");
    report("receive default MB/s", receiveDefault, "target >= 1.0x stop-and-wait in every run");
    report("receive from eager sender MB/s", eager, "target >= 0.5x raw copy");
    report("fast send MB/s", fast, "target >= 0.5x raw copy");
    report("private (TLS) fast send MB/s", privateFast, "target >= 600");
    report("raw loopback copy MB/s", copy, "");
    for (auto& [count, figures] : concurrent) {
        const std::string name = "concurrent " + std::to_string(count) + " fast sends MB/s";
        report(name.c_str(), figures.first, "aggregate");
        const std::string fairness = "concurrent " + std::to_string(count) + " slowest/mean";
        report(fairness.c_str(), figures.second, "target >= 0.5");
    }
    std::printf("%-34s %10.1f MB/s (%lld MiB, once)\n", "large fast send", largeRate,
                static_cast<long long>(timerMib));
    bench::printFigure("window timer p99 during large fast send ms",
                       {percentile(busyIntervals, 0.99)});
    bench::printFigure("window timer p99 idle ms", {percentile(idleIntervals, 0.99)});
    std::printf("%-34s %10.2f ms (idle %.2f ms; %zu ticks)\n", "10 ms timer p99 during send",
                percentile(busyIntervals, 0.99), percentile(idleIntervals, 0.99),
                busyIntervals.size());
    std::printf("%-34s %10ld kB (peak RSS growth over the runs)\n", "memory", growthKb);
    bench::printFigure("transfer memory growth MB", {double(growthKb) / 1024});
    return 0;
}

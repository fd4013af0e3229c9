// A bounded soak: two program cores on a real ngircd and a scripted third client keep talking
// at a steady rate (relayed, direct and encrypted lines, CTCP queries, a contact coming and
// going). At the end every line sent must have been shown and logged exactly once, in order,
// and the process must not have grown beyond a small bound. KIVVO_SOAK_SECONDS sets the length
// (tools/soak); the default keeps the run in the suite short.
#include "tests/support/files.h"
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using test::waitFor;

namespace {

// AddressSanitizer keeps freed memory in quarantine, so resident size says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

qint64 residentKiB()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    }
    return 0;
}

// The numbers of the lines "<from> <word> N" in `text`, in the order they appear.
QList<int> numbersOf(const QByteArray& text, const QByteArray& from, const QByteArray& word)
{
    QList<int> numbers;
    const QRegularExpression pattern("<" + QRegularExpression::escape(from) + "> "
                                     + QRegularExpression::escape(word) + " (\\d+)\r\n");
    auto it = pattern.globalMatch(QString::fromLatin1(text));
    while (it.hasNext())
        numbers.append(it.next().captured(1).toInt());
    return numbers;
}

QList<int> upTo(int count)
{
    QList<int> numbers;
    for (int i = 0; i < count; ++i)
        numbers.append(i);
    return numbers;
}

} // namespace

TEST(Soak, EveryLineArrivesOnceInOrderAndMemoryStaysBounded)
{
    if (!test::haveNgircd())
        GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
    const int seconds = qEnvironmentVariableIsSet("KIVVO_SOAK_SECONDS")
                            ? qEnvironmentVariableIntValue("KIVVO_SOAK_SECONDS")
                            : 8;
    test::Ngircd server;
    ASSERT_TRUE(server.start());

    test::Watcher carol;
    ASSERT_TRUE(carol.connectTo(server.port(), "carol"));
    test::ProgramCore alice(server.port(), "alice", {"bob", "carol", "dave"}, true);
    test::ProgramCore bob(server.port(), "bob", {"alice"}, true);
    bob.prompter->answers = {true};
    alice.prompter->answers = {true};
    ASSERT_TRUE(
        waitFor([&] { return alice.showsContact("bob") && alice.showsContact("carol"); }, 15000));

    // The encrypted chat between the two cores.
    alice.contacts()->selectContact("bob");
    alice.run(app::Command::EncryptedChat);
    ASSERT_TRUE(waitFor(
        [&] {
            return bob.chatWith("alice", true) && alice.records().at(0)->keyInstalled
                   && bob.records().at(0)->keyInstalled;
        },
        10000));
    peer::ChatWindow* aliceToBob = alice.chatWith("bob", true);
    peer::ChatWindow* bobFromAlice = bob.chatWith("alice", true);

    // The direct chat from carol, whose link is the test's own socket.
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    carol.send("PRIVMSG alice :\x01"
               "DCC CHAT chat 2130706433 "
               + QByteArray::number(listener.serverPort()) + "\x01");
    ASSERT_TRUE(waitFor([&] { return listener.hasPendingConnections(); }, 10000));
    QTcpSocket* carolLink = listener.nextPendingConnection();
    ASSERT_TRUE(waitFor([&] { return alice.chatWith("carol", true) != nullptr; }));

    // Warm up before the first memory figure: every window and buffer exists by now.
    carol.send("PRIVMSG alice :warm up");
    ASSERT_TRUE(waitFor([&] { return alice.chatWith("carol", false) != nullptr; }));
    waitFor([] { return false; }, 500);
    const qint64 startKiB = residentKiB();

    int sent = 0;
    int ctcpQueries = 0;
    int presenceChanges = 0;
    std::unique_ptr<test::Watcher> dave;
    QElapsedTimer clock;
    clock.start();
    constexpr int kTickMs = 100;
    while (clock.elapsed() < seconds * 1000LL) {
        const QByteArray n = QByteArray::number(sent);
        carol.send("PRIVMSG alice :relay " + n);
        carolLink->write("direct " + n + "\n");
        aliceToBob->input()->setText("sealed " + n);
        aliceToBob->send();
        ++sent;
        if (sent % 30 == 0) {
            carol.send("PRIVMSG alice :\x01VERSION\x01");
            ++ctcpQueries;
        }
        if (sent % 50 == 0) {
            if (dave) {
                dave.reset();
            } else {
                dave = std::make_unique<test::Watcher>();
                ASSERT_TRUE(dave->connectTo(server.port(), "dave"));
            }
            ++presenceChanges;
        }
        const qint64 next = (clock.elapsed() / kTickMs + 1) * kTickMs;
        waitFor([&] { return clock.elapsed() >= next; }, kTickMs);
    }
    const qint64 sendMs = clock.elapsed();

    peer::ChatWindow* relayed = alice.chatWith("carol", false);
    peer::ChatWindow* direct = alice.chatWith("carol", true);
    const QByteArray last = QByteArray::number(sent - 1) + "\r\n";
    ASSERT_TRUE(waitFor(
        [&] {
            return relayed->transcript().endsWith("relay " + last)
                   && direct->transcript().endsWith("direct " + last)
                   && bobFromAlice->transcript().endsWith("sealed " + last);
        },
        30000));
    EXPECT_TRUE(waitFor([&] {
        return carol.received().count(" NOTICE carol :\x01VERSION Kivvo Version ") == ctcpQueries;
    }));
    // The contact list follows dave within a poll or two.
    const bool daveOnline = dave != nullptr;
    EXPECT_TRUE(waitFor([&] { return alice.showsContact("dave") == daveOnline; }, 25000));
    const qint64 endKiB = residentKiB();

    EXPECT_EQ(numbersOf(relayed->transcript(), "carol", "relay"), upTo(sent));
    EXPECT_EQ(numbersOf(direct->transcript(), "carol", "direct"), upTo(sent));
    EXPECT_EQ(numbersOf(bobFromAlice->transcript(), "alice", "sealed"), upTo(sent));
    EXPECT_EQ(numbersOf(aliceToBob->transcript(), "alice", "sealed"), upTo(sent));
    const QByteArray aliceLog = test::readFile(alice.temp.dirPath() + "/logs/carol.txt");
    const QByteArray bobLog = test::readFile(bob.temp.dirPath() + "/logs/alice.txt");
    EXPECT_EQ(numbersOf(aliceLog, "carol", "relay"), upTo(sent));
    EXPECT_EQ(numbersOf(aliceLog, "carol", "direct"), upTo(sent));
    EXPECT_EQ(numbersOf(bobLog, "alice", "sealed"), upTo(sent));

    // The transcripts hold every line, so some growth is the conversation itself; anything
    // beyond a few kilobytes per line shown would be a leak.
    const qint64 growthKiB = endKiB - startKiB;
    const qint64 linesShown = 4LL * sent;
    if (!kSanitized) {
        EXPECT_LT(growthKiB, 16 * 1024 + linesShown * 2);
    }
    std::printf("soak: %lld s, %d lines of each kind (relayed, direct, encrypted), %d CTCP "
                "queries, %d presence changes; resident %lld KiB -> %lld KiB (%+lld KiB, %.2f "
                "KiB per line shown)\n",
                sendMs / 1000, sent, ctcpQueries, presenceChanges, startKiB, endKiB, growthKiB,
                linesShown ? double(growthKiB) / double(linesShown) : 0.0);
}

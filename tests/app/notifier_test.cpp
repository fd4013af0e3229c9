// Notices for what happens while the user looks elsewhere: through a real session bus with a
// notification service of the test's own, and from the whole program.
#include "app/notifier.h"
#include "tests/support/connected_program.h"
#include "tests/support/hostile_texts.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using test::waitFor;

namespace {

// The desktop's notification service, as far as a notice needs it.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList received;

public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int)
    {
        received << app + "|" + icon + "|" + summary + "|" + body;
        return uint(received.size());
    }
};

std::vector<app::Notifier::Notice> notices;

void record(app::Notifier& notifier, bool active = false)
{
    notices.clear();
    notifier.setSink([](const app::Notifier::Notice& notice) { notices.push_back(notice); });
    notifier.setActiveCheck([active] { return active; });
}

// A transfer that stopped short said so only in its window, which the user may have closed.
TEST(Notifier, SaysWhatHappenedOnlyWhileTheUserLooksElsewhere)
{
    app::Notifier notifier(nullptr);
    record(notifier);
    notifier.newChat("bob");
    notifier.offerWaiting();
    notifier.transferCompleted("carol", "notes.txt");
    notifier.transferStoppedShort("carol", "notes.txt", "/home/u/Downloads/notes.txt.part");
    notifier.transferStoppedShort("carol", "report.pdf", {});
    ASSERT_EQ(notices.size(), 5u);
    EXPECT_EQ(notices[0].title, "New chat");
    EXPECT_EQ(notices[0].text, "bob wrote to you.");
    EXPECT_EQ(notices[1].text, "An offer is waiting for your answer.");
    EXPECT_EQ(notices[2].text, "notes.txt (with carol) is done.");
    EXPECT_EQ(notices[3].title, "Transfer stopped");
    EXPECT_EQ(notices[3].text, "notes.txt (with carol) stopped before the end; what arrived is "
                               "kept in \"/home/u/Downloads/notes.txt.part\".");
    EXPECT_EQ(notices[4].text, "report.pdf (with carol) stopped before the end.");

    record(notifier, true);
    notifier.newChat("bob");
    EXPECT_TRUE(notices.empty()) << "a window of ours is active";

    record(notifier);
    notifier.setEnabled(false);
    notifier.newChat("bob");
    EXPECT_TRUE(notices.empty()) << "the setting is off";
    notifier.setEnabled(true);

    // A nick or a file name from the network is one line of the notice body, its break shown.
    for (const test::LineBreak& brk : test::kLineBreaks) {
        SCOPED_TRACE(brk.name);
        record(notifier);
        notifier.newChat("mal" + brk.bytes + "lory");
        notifier.transferCompleted("carol", QString::fromUtf8(test::forgedLine(brk)));
        ASSERT_EQ(notices.size(), 2u);
        EXPECT_EQ(notices[0].text, "mal" + QString::fromUtf8(brk.escaped) + "lory wrote to you.");
        EXPECT_EQ(notices[1].text, test::shownText(brk) + " (with carol) is done.");
    }
}

TEST(Notifier, ReachesTheDesktopsServiceOnTheSessionBus)
{
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    ASSERT_TRUE(daemon.waitForStarted(5000)) << "dbus-daemon (tools/test installs it)";
    ASSERT_TRUE(daemon.waitForReadyRead(5000));
    const QString address = QString::fromLatin1(daemon.readLine().trimmed());
    // Read by Qt when the program first asks for the session bus, which is here.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
    {
        QDBusConnection service = QDBusConnection::connectToBus(address, "service");
        ASSERT_TRUE(service.isConnected());
        NotificationService desktop;
        ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &desktop,
                                           QDBusConnection::ExportAllSlots));
        app::Notifier notifier(nullptr);
        notifier.setActiveCheck([] { return false; });
        notifier.newChat("bob");
        EXPECT_TRUE(waitFor([&] { return desktop.received.size() == 1; }));
        EXPECT_EQ(desktop.received.value(0), "Kivvo|org.kivvo.Kivvo|New chat|bob wrote to you.");
        // The service reads the body as markup: a nick or file name is escaped there, so that
        // it shows as written and never as a link or a picture. Quotes mean nothing there.
        notifier.newChat("<a href=\"https://x\">x</a>&<img src=/dev/zero>");
        EXPECT_TRUE(waitFor([&] { return desktop.received.size() == 2; }));
        EXPECT_EQ(desktop.received.value(1),
                  "Kivvo|org.kivvo.Kivvo|New chat|&lt;a href=\"https://x\"&gt;x&lt;/a&gt;&amp;"
                  "&lt;img src=/dev/zero&gt; wrote to you.");
        service.unregisterService("org.freedesktop.Notifications");
    }
    QDBusConnection::disconnectFromBus("service");
    daemon.kill();
    daemon.waitForFinished(5000);
}

class NotifyingProgramTest : public test::ConnectedProgramTest
{};

TEST_F(NotifyingProgramTest, AReceivedFileThatStopsShortAndANewChatAreNoticesOnce)
{
    connect();
    record(core->program->notifier());
    QTemporaryDir dir;
    const QString path = dir.filePath("short.bin");
    core->prompter->answers = {true};
    core->prompter->inputs = {path};
    QTcpServer bob;
    offerFromBob(bob, "SEND short.bin", " 100");
    ASSERT_TRUE(waitFor([&] { return bob.hasPendingConnections(); }));
    QTcpSocket* peerSide = bob.nextPendingConnection();
    peerSide->write("half");
    ASSERT_TRUE(waitFor([&] { return peerSide->bytesAvailable() >= 4; }));
    peerSide->disconnectFromHost();
    ASSERT_TRUE(
        waitFor([&] { return !notices.empty() && notices.back().title == "Transfer stopped"; }));
    EXPECT_EQ(notices.back().text, "short.bin (with bob) stopped before the end; what arrived is "
                                   "kept in \""
                                       + path + ".part\".");

    // A new chat from someone is a notice once.
    record(core->program->notifier());
    server.send(":bob!b@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
    server.send(":bob!b@h PRIVMSG alice :still there?\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0)->viewText().contains("still there"); }));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].text, "bob wrote to you.");

    // The Options box turns them off at once.
    config::Settings quiet = core->program->settings();
    quiet.notify = false;
    core->program->applySettings(quiet);
    server.send(":carol!c@h PRIVMSG alice :hello\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(1) != nullptr; }));
    EXPECT_EQ(notices.size(), 1u);
}

} // namespace

#include "notifier_test.moc"

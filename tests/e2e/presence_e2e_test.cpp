// Presence against a real InspIRCd that offers MONITOR: a contact goes online and offline
// through the server's notices, and contacts past its MONITOR limit are still found by ISON.
// A recording relay between the program and the server shows what the program asked.
#include "tests/support/inspircd_server.h"
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/recording_relay.h"
#include "tests/support/wait_for.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

class MonitorEndToEnd : public ::testing::Test
{
protected:
    void start(int monitorLimit, const QList<QByteArray>& contacts)
    {
        if (!test::haveInspircd())
            GTEST_SKIP() << "inspircd is not installed (tools/test installs it)";
        ASSERT_TRUE(server.start(monitorLimit)) << server.log().toStdString();
        ASSERT_TRUE(relay.listen(server.port()));
        test::CoreOptions options =
            test::ProgramCore::optionsFor(relay.port(), "alice", contacts, false);
        options.realname = "Alice"; // InspIRCd refuses a USER line whose real name is empty
        core = std::make_unique<test::ProgramCore>(options);
    }
    QStringList shown() const { return core->shownContacts(); }

    test::Inspircd server;
    test::RecordingRelay relay;
    std::unique_ptr<test::ProgramCore> core;
};

} // namespace

TEST_F(MonitorEndToEnd, AContactGoesOnlineAndOfflineThroughMonitor)
{
    start(100, {"bob", "carol"});
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] { return relay.sent().contains("MONITOR C\r\n"); }, 15000))
        << relay.sent().toStdString();
    ASSERT_TRUE(waitFor([&] { return shown() == QStringList{"No Contacts Online"}; }, 5000))
        << shown().join(',').toStdString();
    const QByteArray added = relay.sentAfter("MONITOR C\r\n");
    EXPECT_TRUE(added.startsWith("MONITOR + bob,carol\r\n")
                || added.startsWith("MONITOR + carol,bob\r\n"))
        << added.toStdString();

    // Well inside the ten-second poll: only the server's notice can have told the program.
    test::Watcher bob;
    ASSERT_TRUE(bob.connectTo(server.port(), "Bob"));
    ASSERT_TRUE(waitFor([&] { return shown() == QStringList{"Bob"}; }, 3000))
        << shown().join(',').toStdString();
    bob.send("QUIT :gone");
    ASSERT_TRUE(waitFor([&] { return shown() == QStringList{"No Contacts Online"}; }, 3000))
        << shown().join(',').toStdString();

    // InspIRCd folds nicks as RFC 1459 does: "CAROL" is the contact "carol".
    test::Watcher carol;
    ASSERT_TRUE(carol.connectTo(server.port(), "CAROL"));
    ASSERT_TRUE(waitFor([&] { return shown() == QStringList{"CAROL"}; }, 3000));
    ASSERT_TRUE(core->contacts()->selectContact("carol"));
    core->run(app::Command::RemoveSelectedContact);
    ASSERT_TRUE(waitFor([&] { return relay.sent().contains("MONITOR - carol\r\n"); }, 3000));
    EXPECT_EQ(shown(), QStringList{"No Contacts Online"});

    // Past the ten-second beat, still no ISON: every contact is watched.
    QTest::qWait(10500);
    EXPECT_FALSE(relay.sentAfter("MONITOR C\r\n").contains("ISON")) << relay.sent().toStdString();
}

TEST_F(MonitorEndToEnd, ContactsPastTheMonitorLimitAreFoundByIson)
{
    start(2, {"bob", "carol", "dave"});
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(waitFor([&] { return relay.sent().contains("MONITOR C\r\n"); }, 15000));
    ASSERT_TRUE(waitFor([&] { return relay.sentAfter("MONITOR C\r\n").contains("ISON "); }, 5000));
    const QByteArray after = relay.sentAfter("MONITOR C\r\n");
    // Two go on the server's list, the third is asked about.
    const qsizetype plus = after.indexOf("MONITOR + ");
    ASSERT_GE(plus, 0);
    const QByteArray watched = after.mid(plus + 10, after.indexOf("\r\n", plus) - plus - 10);
    EXPECT_EQ(watched.split(',').size(), 2) << after.toStdString();
    const qsizetype ison = after.indexOf("ISON ");
    const QByteArray asked = after.mid(ison + 5, after.indexOf("\r\n", ison) - ison - 5);
    EXPECT_EQ(asked.split(' ').size(), 1) << after.toStdString();
    EXPECT_FALSE(watched.split(',').contains(asked));

    // The asked-about contact shows within a poll, a watched one at once.
    test::Watcher polled;
    ASSERT_TRUE(polled.connectTo(server.port(), asked));
    ASSERT_TRUE(waitFor([&] { return shown() == QStringList{QString::fromUtf8(asked)}; }, 15000))
        << shown().join(',').toStdString();
    test::Watcher watchedOne;
    ASSERT_TRUE(watchedOne.connectTo(server.port(), watched.split(',').first()));
    ASSERT_TRUE(waitFor([&] { return shown().size() == 2; }, 3000))
        << shown().join(',').toStdString();
    // Each later poll asks about the overflow only.
    for (const QByteArray& line : relay.sentAfter("MONITOR C\r\n").split('\n')) {
        if (line.startsWith("ISON ")) {
            EXPECT_EQ(line, "ISON " + asked + "\r");
        }
    }
}

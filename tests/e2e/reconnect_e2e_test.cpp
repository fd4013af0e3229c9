// A real ngircd goes away and comes back: the link waits its back-off, starts a new pass by
// itself and registers again, on the wall clock's terms only where the server needs them.
#include "config/settings.h"
#include "irc/link_status.h"
#include "irc/server_link.h"
#include "tests/support/fake_retry_timer.h"
#include "tests/support/ngircd.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using test::waitFor;

using ReconnectEndToEnd = test::NgircdTest;

TEST_F(ReconnectEndToEnd, ComesBackAfterTheServerRestarts)
{
    const quint16 port = server.port();

    test::TempStore temp;
    temp.store().AddServer({"127.0.0.1", "Local", port});
    config::Settings settings;
    settings.nick = "comeback";
    settings.realname = "Come Back";
    irc::ServerLink link(temp.store(), settings);
    auto timer = std::make_unique<test::FakeRetryTimer>();
    test::FakeRetryTimer* clock = timer.get();
    link.setRetryTimer(std::move(timer));
    link.setJitterSource([] { return 0.0; });
    QStringList statuses;
    QObject::connect(&link, &irc::ServerLink::statusChanged, &link,
                     [&](const irc::LinkStatus& status) { statuses << irc::statusText(status); });
    QSignalSpy registered(&link, &irc::ServerLink::registered);
    int welcomes = 0;
    QObject::connect(&link, &irc::ServerLink::lineReceived, &link, [&](QByteArrayView line) {
        if (line.contains(" 001 "))
            ++welcomes;
    });

    link.connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return welcomes == 1; }, 10000));

    server.stop();
    ASSERT_TRUE(waitFor([&] { return clock->pending(); }, 10000))
        << statuses.join('\n').toStdString();
    EXPECT_EQ(clock->delays, (QList<qint64>{15000}));
    EXPECT_TRUE(statuses.last().startsWith("Can't connect to any servers! Trying again at "))
        << statuses.last().toStdString();

    // Still down at the first try: the wait doubles.
    clock->elapse();
    ASSERT_TRUE(waitFor([&] { return clock->delays.size() == 2; }, 10000));
    EXPECT_EQ(clock->delays.last(), 30000);

    ASSERT_TRUE(server.start(port));
    clock->elapse();
    ASSERT_TRUE(waitFor([&] { return welcomes == 2; }, 10000)) << statuses.join('\n').toStdString();
    EXPECT_EQ(registered.count(), 2);
    EXPECT_EQ(registered.last().value(0).toByteArray(), "comeback");

    // Welcomed again, the wait starts over from the beginning.
    server.stop();
    ASSERT_TRUE(waitFor([&] { return clock->delays.size() == 3; }, 10000));
    EXPECT_EQ(clock->delays.last(), 15000);
}

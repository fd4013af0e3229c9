// When the program tells libdbus that there is no session bus: only where none could be found
// by any of the ways libdbus looks, and never where an address was given.
#include "config/session_bus.h"
#include "tests/support/env_guard.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using config::SessionBusClues;

TEST(SessionBus, IsPossibleByAnyWayLibdbusWouldFindOneAndAGivenAddressIsLeftAlone)
{
    EXPECT_TRUE(config::sessionBusPossible({"unix:path=/run/user/1000/bus", false, false}));
    EXPECT_TRUE(config::sessionBusPossible({{}, true, false}));
    EXPECT_TRUE(config::sessionBusPossible({{}, false, true}));
    EXPECT_FALSE(config::sessionBusPossible({}));
    // The address of none, once given, is no bus.
    EXPECT_FALSE(config::sessionBusPossible({config::kNoSessionBusAddress, true, true}));

    // A given address is left alone and counts as a bus.
    test::EnvGuard address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
    EXPECT_FALSE(config::ruleOutSessionBus());
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/run/user/1000/bus");
    EXPECT_TRUE(config::hasSessionBusAddress());
}

TEST(SessionBus, ReadsTheAddressAndTheRuntimeFolderSocket)
{
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    test::EnvGuard address("DBUS_SESSION_BUS_ADDRESS");
    address.set(nullptr);
    test::EnvGuard folder("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_FALSE(config::sessionBusClues().runtimeSocket);
    EXPECT_TRUE(config::sessionBusClues().address.isEmpty());
    QFile bus(runtime.filePath("bus"));
    ASSERT_TRUE(bus.open(QIODevice::WriteOnly));
    bus.close();
    EXPECT_TRUE(config::sessionBusClues().runtimeSocket);
    address.set("unix:path=/elsewhere");
    EXPECT_EQ(config::sessionBusClues().address, "unix:path=/elsewhere");
}

TEST(SessionBus, WithoutAnyWayToABusLibdbusIsToldThereIsNone)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    test::EnvGuard address("DBUS_SESSION_BUS_ADDRESS");
    address.set(nullptr);
    test::EnvGuard folder("XDG_RUNTIME_DIR", empty.path().toLocal8Bit());
    test::EnvGuard path("PATH", empty.path().toLocal8Bit());
    if (config::sessionBusClues().launcher)
        GTEST_SKIP() << "dbus-launch is installed here, so a bus may be started";
    EXPECT_TRUE(config::ruleOutSessionBus());
    EXPECT_EQ(qgetenv("DBUS_SESSION_BUS_ADDRESS"), config::kNoSessionBusAddress);
    EXPECT_FALSE(config::hasSessionBusAddress()) << "so the secret service is not asked either";
    // Once ruled out, it stays so.
    EXPECT_FALSE(config::ruleOutSessionBus());
}

} // namespace

// The server passwords against a real secret service of the test's own (private_keyring.h).
// Without a session bus the store keeps everything, at once.
#include "config/registry.h"
#include "config/secret_store.h"
#include "config/settings_dialog.h"
#include "config/store.h"
#include "tests/support/env_guard.h"
#include "tests/support/private_keyring.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

namespace {

using config::SecretStore;
using config::ServerEntry;

constexpr int kServiceWaitMs = test::kKeyringWaitMs;

// The store's own copy, as the file holds it.
std::optional<QByteArray> storedValue(test::TempStore& temp, const ServerEntry& server)
{
    return temp.registry().readValue(config::kKeyServerPasswords, config::serverValueName(server));
}

// What a later run of the program reads: a fresh keeper over the same store.
QByteArray readByNextRun(config::Store& store, const ServerEntry& server)
{
    SecretStore next(store);
    next.load();
    EXPECT_TRUE(test::waitFor([&] { return next.isLoaded(); }, kServiceWaitMs));
    return next.serverPassword(server);
}

class SecretServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!test::privateKeyring().missing.isEmpty())
            GTEST_SKIP() << test::privateKeyring().missing.toStdString();
        ASSERT_TRUE(SecretStore::serviceExpected());
    }

    test::TempStore temp;
};

TEST_F(SecretServiceTest, APasswordSavedInOptionsEndsInTheServiceAndNotInTheStore)
{
    const ServerEntry server{"options.example.net", "Example", 6697, true};
    ASSERT_TRUE(temp.store().AddServer(server));
    SecretStore secrets(temp.store());
    secrets.load();
    ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded(); }, kServiceWaitMs));

    config::Settings settings;
    settings.nick = "alice";
    settings.altnick = "alice_";
    settings.realname = "Alice";
    settings.email = "alice@example.net";
    ASSERT_TRUE(temp.store().SaveSettings(settings));

    test::ScriptedPrompter prompter;
    config::SettingsDialog dialog(temp.store(), prompter, 0, nullptr, &secrets);
    dialog.serverpassEdit()->setText("alice:hunter2");
    dialog.okButton()->click();
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    // Counts at once, for the next connection attempt of this run.
    EXPECT_EQ(secrets.serverPassword(server), "alice:hunter2");
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));

    EXPECT_EQ(storedValue(temp, server), std::nullopt);
    EXPECT_EQ(temp.store().serverPassword(server), "");
    EXPECT_EQ(readByNextRun(temp.store(), server), "alice:hunter2");

    // Cleared in Options, it is gone from the service too.
    config::SettingsDialog again(temp.store(), prompter, 0, nullptr, &secrets);
    EXPECT_EQ(again.serverpassEdit()->text(), "alice:hunter2");
    again.serverpassEdit()->clear();
    again.okButton()->click();
    ASSERT_EQ(again.result(), QDialog::Accepted);
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));
    EXPECT_EQ(readByNextRun(temp.store(), server), "");
}

TEST_F(SecretServiceTest, AnOlderStoresPasswordMovesIntoTheServiceAtLoad)
{
    struct Case
    {
        const char* name;
        ServerEntry server;
        bool legacy; // the one password of stores older than per-entry passwords
    };
    const Case cases[] = {
        {"own value", {"moved.example.net", "Example", 6667}, false},
        {"legacy value", {"legacy.example.net", "Example", 6667}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempStore store;
        ASSERT_TRUE(store.store().AddServer(c.server));
        if (c.legacy) {
            ASSERT_TRUE(store.registry().writeValue(config::kKeyRoot, config::kLegacyServerPass,
                                                    "old secret"));
        } else {
            ASSERT_TRUE(store.store().setServerPassword(c.server, "old secret"));
        }
        ASSERT_EQ(store.store().serverPassword(c.server), "old secret");

        SecretStore secrets(store.store());
        secrets.load();
        ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded(); }, kServiceWaitMs));
        EXPECT_EQ(secrets.serverPassword(c.server), "old secret");
        EXPECT_EQ(storedValue(store, c.server), std::nullopt);
        EXPECT_EQ(store.registry().readValue(config::kKeyRoot, config::kLegacyServerPass),
                  std::nullopt);
        EXPECT_EQ(readByNextRun(store.store(), c.server), "old secret");
    }
}

TEST_F(SecretServiceTest, ARemovedEntrysPasswordLeavesTheServiceToo)
{
    const ServerEntry server{"removed.example.net", "Example", 6667};
    ASSERT_TRUE(temp.store().AddServer(server));
    SecretStore secrets(temp.store());
    secrets.load();
    ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded(); }, kServiceWaitMs));
    ASSERT_TRUE(secrets.setServerPassword(server, "gone soon"));
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));

    const std::vector<ServerEntry> before = temp.store().EnumServers();
    ASSERT_TRUE(temp.store().RemoveServer(server));
    secrets.forgetRemoved(before);
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));
    ASSERT_TRUE(temp.store().AddServer(server));
    EXPECT_EQ(secrets.serverPassword(server), "");
    EXPECT_EQ(readByNextRun(temp.store(), server), "");
}

TEST(SecretStoreWithoutService, TheStoreKeepsThePasswordAndNothingWaits)
{
    struct Case
    {
        const char* name;
        const char* bus;
        const char* optOut;
    };
    const Case cases[] = {
        {"no session bus", nullptr, nullptr},
        {"KIVVO_NO_KEYCHAIN=1", "unix:path=/nonexistent/kivvo-test-bus", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::EnvGuard bus("DBUS_SESSION_BUS_ADDRESS"), optOut("KIVVO_NO_KEYCHAIN");
        bus.set(c.bus);
        optOut.set(c.optOut);
        test::TempStore temp;
        const ServerEntry server{"plain.example.net", "Example", 6667};
        ASSERT_TRUE(temp.store().AddServer(server));

        SecretStore secrets(temp.store());
        EXPECT_FALSE(secrets.isActive());
        QSignalSpy loaded(&secrets, &SecretStore::loaded);
        secrets.load();
        EXPECT_EQ(loaded.count(), 1); // before any event loop ran
        EXPECT_TRUE(secrets.setServerPassword(server, "kept here"));
        EXPECT_EQ(secrets.pendingJobs(), 0);
        EXPECT_EQ(storedValue(temp, server), QByteArray("kept here"));
        EXPECT_EQ(secrets.serverPassword(server), "kept here");
    }
}

} // namespace

// The server passwords and the keys of relayed chats against a real secret service of the test's
// own (private_keyring.h). Without a session bus the store keeps everything, at once.
#include "app/chat_keys.h"
#include "config/registry.h"
#include "config/secret_store.h"
#include "config/settings_dialog.h"
#include "config/store.h"
#include "tests/support/env_guard.h"
#include "tests/support/file_bytes.h"
#include "tests/support/private_keyring.h"
#include "tests/support/scripted_prompter.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace peer {

// Found by gtest through the type's namespace: a failed comparison then shows the keys.
void PrintTo(const StoredFishKey& key, std::ostream* out)
{
    *out << encodeStoredFishKey(key).constData();
}

} // namespace peer

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

const peer::StoredFishKey kExchanged{"k3y with blanks", peer::FishMode::Cbc, QByteArray(32, 'Z'),
                                     true};
const peer::StoredFishKey kTyped{"typedfishkey", peer::FishMode::Ecb, {}, false};

std::optional<QByteArray> storedChatValue(test::TempStore& temp, const QByteArray& nick)
{
    return temp.registry().readValue(config::kKeyChatKeys, nick);
}

std::optional<peer::StoredFishKey> findByNextRun(config::Store& store, const QByteArray& nick)
{
    SecretStore next(store);
    app::ChatKeys keys(store, next);
    next.load();
    EXPECT_TRUE(test::waitFor([&] { return next.isLoaded(); }, kServiceWaitMs));
    return keys.find(nick);
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

TEST_F(SecretServiceTest, APasswordSavedInOptionsEndsInTheServiceAndLeavesWithItsEntry)
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

    // A removed entry's password leaves the service too.
    const ServerEntry removed{"removed.example.net", "Example", 6667};
    ASSERT_TRUE(temp.store().AddServer(removed));
    ASSERT_TRUE(secrets.setServerPassword(removed, "gone soon"));
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));
    const std::vector<ServerEntry> before = temp.store().EnumServers();
    ASSERT_TRUE(temp.store().RemoveServer(removed));
    secrets.forgetRemoved(before);
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));
    ASSERT_TRUE(temp.store().AddServer(removed));
    EXPECT_EQ(secrets.serverPassword(removed), "");
    EXPECT_EQ(readByNextRun(temp.store(), removed), "");
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

// The keyring lives as long as the test binary: each test keeps its keys under nicks of its own.
TEST_F(SecretServiceTest, AChatKeySavedWithTheServiceStaysOutOfTheStoreFile)
{
    SecretStore secrets(temp.store());
    app::ChatKeys keys(temp.store(), secrets);
    secrets.load();
    ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded(); }, kServiceWaitMs));
    ASSERT_TRUE(keys.save("bob", kExchanged));
    EXPECT_EQ(keys.find("bob"), kExchanged); // at once, before the service answered
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));

    EXPECT_EQ(storedChatValue(temp, "bob"), peer::encodeFishKeyRecord(kExchanged));
    EXPECT_FALSE(test::readFile(temp.path()).contains(kExchanged.key));
    EXPECT_EQ(findByNextRun(temp.store(), "bob"), kExchanged);

    ASSERT_TRUE(keys.forget("bob"));
    EXPECT_EQ(keys.find("bob"), std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, kServiceWaitMs));
    EXPECT_EQ(storedChatValue(temp, "bob"), std::nullopt);
    // The record back without its key text: only a copy left in the service could fill it, and
    // none is, so it is found without its key (still encrypted, nothing to encrypt with).
    ASSERT_TRUE(temp.store().setChatKey("bob", peer::encodeFishKeyRecord(kExchanged)));
    peer::StoredFishKey keyless = kExchanged;
    keyless.key.clear();
    EXPECT_EQ(findByNextRun(temp.store(), "bob"), keyless);
}

TEST_F(SecretServiceTest, AnOlderStoresChatKeyMovesIntoTheServiceAtLoad)
{
    struct Case
    {
        const char* name;
        QByteArray nick;
        peer::StoredFishKey key;
    };
    const Case cases[] = {
        {"exchanged", "carol", kExchanged},
        {"typed", "dave", kTyped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempStore store;
        // As the store kept it before the service did.
        ASSERT_TRUE(store.store().setChatKey(c.nick, peer::encodeStoredFishKey(c.key)));

        SecretStore secrets(store.store());
        app::ChatKeys keys(store.store(), secrets);
        secrets.load();
        ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded(); }, kServiceWaitMs));
        EXPECT_EQ(keys.find(c.nick), c.key);
        EXPECT_EQ(storedChatValue(store, c.nick), peer::encodeFishKeyRecord(c.key));
        EXPECT_EQ(findByNextRun(store.store(), c.nick), c.key);
    }
}

TEST_F(SecretServiceTest, AChatKeySavedBeforeTheStartUpReadAnsweredIsKept)
{
    struct Case
    {
        const char* name;
        QByteArray nick;
        bool inService; // the older key: read from the service, or moved there from the store
    };
    const Case cases[] = {
        {"read", "erin", true},
        {"moved", "frank", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempStore store;
        if (c.inService) {
            SecretStore first(store.store());
            app::ChatKeys keys(store.store(), first);
            first.load();
            ASSERT_TRUE(test::waitFor([&] { return first.isLoaded(); }, kServiceWaitMs));
            ASSERT_TRUE(keys.save(c.nick, kExchanged));
            ASSERT_TRUE(test::waitFor([&] { return first.pendingJobs() == 0; }, kServiceWaitMs));
        } else {
            ASSERT_TRUE(store.store().setChatKey(c.nick, peer::encodeStoredFishKey(kExchanged)));
        }

        SecretStore secrets(store.store());
        app::ChatKeys keys(store.store(), secrets);
        secrets.load();
        ASSERT_TRUE(keys.save(c.nick, kTyped));
        ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded() && secrets.pendingJobs() == 0; },
                                  kServiceWaitMs));
        EXPECT_EQ(keys.find(c.nick), kTyped);
        EXPECT_EQ(storedChatValue(store, c.nick), peer::encodeFishKeyRecord(kTyped));
        EXPECT_EQ(findByNextRun(store.store(), c.nick), kTyped);
    }
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

        ASSERT_TRUE(temp.store().setChatKey("older", peer::encodeStoredFishKey(kTyped)));

        SecretStore secrets(temp.store());
        app::ChatKeys keys(temp.store(), secrets);
        EXPECT_FALSE(secrets.isActive());
        QSignalSpy loaded(&secrets, &SecretStore::loaded);
        secrets.load();
        EXPECT_EQ(loaded.count(), 1); // before any event loop ran
        EXPECT_TRUE(secrets.setServerPassword(server, "kept here"));
        EXPECT_EQ(secrets.pendingJobs(), 0);
        EXPECT_EQ(storedValue(temp, server), QByteArray("kept here"));
        EXPECT_EQ(secrets.serverPassword(server), "kept here");

        // The chat keys as the store has always kept them, to the byte.
        EXPECT_EQ(keys.find("older"), kTyped);
        EXPECT_EQ(storedChatValue(temp, "older"), peer::encodeStoredFishKey(kTyped));
        EXPECT_TRUE(keys.save("bob", kExchanged));
        EXPECT_EQ(secrets.pendingJobs(), 0);
        EXPECT_EQ(storedChatValue(temp, "bob"), peer::encodeStoredFishKey(kExchanged));
        EXPECT_EQ(keys.find("bob"), kExchanged);
        EXPECT_TRUE(keys.forget("bob"));
        EXPECT_EQ(storedChatValue(temp, "bob"), std::nullopt);
        EXPECT_EQ(keys.find("bob"), std::nullopt);
    }
}

} // namespace

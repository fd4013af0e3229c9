// A session bus with no secret service on it (private_keyring.h): every call to the service
// fails, and the store keeps the passwords and chat keys as it did before there was a keychain.
#include "app/chat_keys.h"
#include "config/registry.h"
#include "config/secret_store.h"
#include "config/store.h"
#include "diag/debug_log.h"
#include "tests/support/private_keyring.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <gtest/gtest.h>

namespace {

using config::SecretStore;
using config::ServerEntry;

TEST(SecretStoreFallback, WhatTheServiceRefusesStaysInTheStoreAndIsNotedOnce)
{
    if (!test::privateBusWithoutService().missing.isEmpty())
        GTEST_SKIP() << test::privateBusWithoutService().missing.toStdString();
    diag::DebugPanes::instance().clear();
    test::TempStore temp;
    const ServerEntry old{"old.example.net", "Example", 6667};
    const ServerEntry fresh{"fresh.example.net", "Example", 6697, true};
    ASSERT_TRUE(temp.store().AddServer(old));
    ASSERT_TRUE(temp.store().AddServer(fresh));
    ASSERT_TRUE(temp.store().setServerPassword(old, "old pw"));
    const peer::StoredFishKey oldKey{"old fishkey", peer::FishMode::Ecb, {}, false};
    const peer::StoredFishKey newKey{"new fishkey", peer::FishMode::Cbc, QByteArray(32, 'Z'), true};
    ASSERT_TRUE(temp.store().setChatKey("olive", peer::encodeStoredFishKey(oldKey)));

    SecretStore secrets(temp.store());
    app::ChatKeys keys(temp.store(), secrets);
    ASSERT_TRUE(secrets.isActive());
    secrets.load();
    ASSERT_TRUE(test::waitFor([&] { return secrets.isLoaded(); }, test::kKeyringWaitMs));
    EXPECT_EQ(secrets.serverPassword(old), "old pw");
    EXPECT_EQ(temp.store().serverPassword(old), "old pw"); // not moved anywhere
    EXPECT_EQ(keys.find("olive"), oldKey);
    EXPECT_EQ(temp.store().chatKey("olive"), peer::encodeStoredFishKey(oldKey));

    EXPECT_TRUE(secrets.setServerPassword(fresh, "new pw"));
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, test::kKeyringWaitMs));
    EXPECT_EQ(temp.store().serverPassword(fresh), "new pw");
    EXPECT_EQ(secrets.serverPassword(fresh), "new pw");

    EXPECT_TRUE(keys.save("fred", newKey));
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, test::kKeyringWaitMs));
    EXPECT_EQ(temp.store().chatKey("fred"), peer::encodeStoredFishKey(newKey));
    EXPECT_EQ(keys.find("fred"), newKey);
    EXPECT_TRUE(keys.forget("olive"));
    ASSERT_TRUE(test::waitFor([&] { return secrets.pendingJobs() == 0; }, test::kKeyringWaitMs));
    EXPECT_EQ(temp.store().chatKey("olive"), std::nullopt);
    EXPECT_EQ(keys.find("olive"), std::nullopt);

    // A record whose key text an earlier run moved into a service that now fails: the chats
    // with her are encrypted still, only without a key to encrypt with.
    peer::StoredFishKey keyless = newKey;
    keyless.key.clear();
    ASSERT_TRUE(temp.store().setChatKey("gina", peer::encodeFishKeyRecord(newKey)));
    EXPECT_EQ(keys.find("gina"), keyless);
    ASSERT_TRUE(temp.store().setChatKey("hank", "cbc 1 damaged"));
    EXPECT_EQ(keys.find("hank"), peer::StoredFishKey{});

    const QString status = diag::DebugPanes::instance().text(diag::Pane::Status);
    EXPECT_EQ(status.count("secret service failed"), 1) << status.toStdString();
    EXPECT_FALSE(status.contains("old pw"));
    EXPECT_FALSE(status.contains("new pw"));
    EXPECT_FALSE(status.contains("fishkey"));
}

} // namespace

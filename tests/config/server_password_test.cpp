// Server passwords belong to server entries; an older store's single password finds its entry.
#include "config/registry.h"
#include "config/store.h"
#include "tests/config/raw_store.h"
#include "tests/support/temp_store.h"

#include <gtest/gtest.h>

namespace {

using config::kKeyRoot;
using config::kKeyServerPasswords;
using config::ServerEntry;

const ServerEntry kFirst{"irc.example.net", "Net", 6667};
const ServerEntry kSecond{"backup.example.net", "Net", 6667};

// A store as older versions left it: one password for the whole list.
void writeOlderStore(test::TempStore& temp, const QByteArray& password)
{
    ASSERT_TRUE(temp.store().AddServer(kFirst));
    ASSERT_TRUE(temp.store().AddServer(kSecond));
    ASSERT_TRUE(temp.registry().writeValue(kKeyRoot, "serverpass", password));
}

} // namespace

TEST(ServerPassword, AnOlderStoresPasswordBelongsToTheFirstEntryOnly)
{
    test::TempStore temp;
    writeOlderStore(temp, "s3cret");
    // Before anything moved it, as a read-only store stays.
    EXPECT_EQ(temp.store().serverPassword(kFirst), "s3cret");
    EXPECT_EQ(temp.store().serverPassword(kSecond), QByteArray());

    ASSERT_TRUE(temp.store().migrateServerPass());
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "serverpass"), std::nullopt);
    EXPECT_EQ(temp.registry().readValue(kKeyServerPasswords, "irc.example.net:6667"), "s3cret");
    EXPECT_EQ(test::names(temp.registry(), kKeyServerPasswords),
              std::vector<QByteArray>{"irc.example.net:6667"});
    EXPECT_EQ(temp.store().serverPassword(kFirst), "s3cret");
    EXPECT_EQ(temp.store().serverPassword(kSecond), QByteArray());
    // Moved once: the list changing later takes it nowhere else.
    ASSERT_TRUE(temp.store().RemoveServer(kFirst));
    EXPECT_EQ(temp.store().serverPassword(kSecond), QByteArray());
    EXPECT_TRUE(temp.registry().values(kKeyServerPasswords).empty());
}

TEST(ServerPassword, MigrationKeepsWhatIsThereAndWaitsForAnEntry)
{
    {
        test::TempStore temp;
        writeOlderStore(temp, "old");
        ASSERT_TRUE(temp.registry().createKey(kKeyServerPasswords));
        ASSERT_TRUE(temp.registry().writeValue(kKeyServerPasswords, "irc.example.net:6667", "new"));
        ASSERT_TRUE(temp.store().migrateServerPass());
        EXPECT_EQ(temp.store().serverPassword(kFirst), "new");
        EXPECT_EQ(temp.registry().readValue(kKeyRoot, "serverpass"), std::nullopt);
    }
    {
        test::TempStore temp;
        ASSERT_TRUE(temp.registry().writeValue(kKeyRoot, "serverpass", "old"));
        ASSERT_TRUE(temp.store().migrateServerPass());
        EXPECT_EQ(temp.registry().readValue(kKeyRoot, "serverpass"), "old");
        ASSERT_TRUE(temp.store().AddServer(kSecond));
        ASSERT_TRUE(temp.store().migrateServerPass());
        EXPECT_EQ(temp.store().serverPassword(kSecond), "old");
        EXPECT_EQ(temp.registry().readValue(kKeyRoot, "serverpass"), std::nullopt);
    }
    {
        // A value too long ever to count is dropped, not moved.
        test::TempStore temp;
        writeOlderStore(temp, QByteArray(256, 'p'));
        ASSERT_TRUE(temp.store().migrateServerPass());
        EXPECT_EQ(temp.store().serverPassword(kFirst), QByteArray());
        EXPECT_EQ(temp.registry().readValue(kKeyRoot, "serverpass"), std::nullopt);
    }
}

TEST(ServerPassword, EachEntryHasItsOwn)
{
    test::TempStore temp;
    ServerEntry secure = kFirst;
    secure.tls = true;
    for (const ServerEntry& entry : {kFirst, kSecond, secure})
        ASSERT_TRUE(temp.store().AddServer(entry));
    // Writing one moves an older password first, so that it keeps its entry.
    ASSERT_TRUE(temp.registry().writeValue(kKeyRoot, "serverpass", "old"));
    ASSERT_TRUE(temp.store().setServerPassword(kSecond, "alice:pw"));
    ASSERT_TRUE(temp.store().setServerPassword(secure, "tls pass"));
    EXPECT_EQ(temp.store().serverPassword(kFirst), "old");
    EXPECT_EQ(temp.store().serverPassword(kSecond), "alice:pw");
    EXPECT_EQ(temp.store().serverPassword(secure), "tls pass");
    EXPECT_EQ(temp.store().serverPassword({"IRC.example.net", "Other", 6667}), "old");
    EXPECT_EQ(temp.registry().readValue(kKeyServerPasswords, "irc.example.net:+6667"), "tls pass");

    // Empty removes it; one that does not fit the field is refused.
    ASSERT_TRUE(temp.store().setServerPassword(kSecond, ""));
    EXPECT_EQ(temp.registry().readValue(kKeyServerPasswords, "backup.example.net:6667"),
              std::nullopt);
    EXPECT_FALSE(temp.store().setServerPassword(kFirst, QByteArray(256, 'p')));
    EXPECT_TRUE(temp.store().setServerPassword(kFirst, QByteArray(255, 'p')));
    EXPECT_FALSE(temp.store().setServerPassword({}, "pw"));

    // The settings are saved apart from them.
    config::Settings settings;
    settings.nick = "alice";
    ASSERT_TRUE(temp.store().SaveSettings(settings));
    EXPECT_EQ(temp.store().serverPassword(secure), "tls pass");
    EXPECT_EQ(temp.registry().readValue(kKeyRoot, "serverpass"), std::nullopt);
}

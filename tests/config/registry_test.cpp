#include "config/installation.h"
#include "config/paths.h"
#include "config/registry.h"
#include "config/store.h"
#include "tests/config/raw_store.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_store.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using config::Registry;
using test::EnvGuard;
using test::names;
using test::rawQuery;
using test::Rows;

const QByteArray kKey = config::kKeyRoot;

TEST(Registry, SchemaIsExactlyTheStoredLayoutWithTextNamesAndBlobDataEvenWhenEmpty)
{
    test::TempStore temp;
    const Rows expected = {
        {"reg_key", "CREATE TABLE reg_key (path TEXT PRIMARY KEY COLLATE NOCASE)"},
        {"reg_value",
         "CREATE TABLE reg_value (key TEXT NOT NULL COLLATE NOCASE REFERENCES reg_key(path), "
         "name TEXT NOT NULL COLLATE NOCASE, data BLOB NOT NULL, PRIMARY KEY (key, name))"},
    };
    EXPECT_EQ(rawQuery(temp.path(), "SELECT name, sql FROM sqlite_master WHERE type = 'table' "
                                    "ORDER BY name"),
              expected);
    EXPECT_EQ(rawQuery(temp.path(), "PRAGMA journal_mode"), Rows{{"wal"}});

    ASSERT_TRUE(temp.registry().writeValue(kKey, "empty", QByteArray()));
    ASSERT_TRUE(temp.registry().writeValue(kKey, "bytes", QByteArray::fromHex("00ff0a")));
    EXPECT_EQ(rawQuery(temp.path(), "SELECT typeof(key), typeof(name), typeof(data), "
                                    "length(data) FROM reg_value ORDER BY rowid"),
              (Rows{{"text", "text", "blob", "0"}, {"text", "text", "blob", "3"}}));
    EXPECT_EQ(temp.registry().readValue(kKey, "empty"), QByteArray());
    EXPECT_EQ(temp.registry().readValue(kKey, "bytes"), QByteArray::fromHex("00ff0a"));
    EXPECT_EQ(temp.registry().readValue(kKey, "absent"), std::nullopt);
}

// The fuzz target's store: making the store's folder private first read ":memory:" as a path
// (one of Qt's resources, at that) and left it unopened.
TEST(Registry, OpensSqlitesInMemoryDatabaseWithoutMakingAFile)
{
    Registry registry(QStringLiteral(":memory:"));
    ASSERT_TRUE(registry.isOpen());
    ASSERT_TRUE(registry.createKey(kKey));
    EXPECT_TRUE(registry.writeValue(kKey, "nick", "x"));
    EXPECT_EQ(registry.readValue(kKey, "nick"), QByteArray("x"));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral(":memory:")));
    EXPECT_FALSE(QFileInfo::exists(QDir::current().filePath(QStringLiteral(":memory:"))));
}

TEST(Registry, WritesOnlyIntoExistingKeys)
{
    test::TempStore temp(false);
    Registry& registry = temp.registry();
    EXPECT_FALSE(registry.hasKey(kKey));
    EXPECT_FALSE(registry.writeValue(kKey, "nick", "x"));
    EXPECT_TRUE(registry.values(kKey).empty());
    ASSERT_TRUE(registry.createKey(kKey));
    EXPECT_TRUE(registry.createKey(kKey)); // a second create is harmless
    EXPECT_TRUE(registry.hasKey("software\\KIVVO"));
    EXPECT_TRUE(registry.writeValue("software\\kivvo", "nick", "x"));
    EXPECT_EQ(registry.readValue(kKey, "NICK"), QByteArray("x"));
}

TEST(Registry, RewriteKeepsPlaceNamesIgnoreCaseAndASecondHandleSeesWritesBothWays)
{
    test::TempStore temp;
    Registry& registry = temp.registry();
    for (const char* name : {"one", "two", "three"})
        ASSERT_TRUE(registry.writeValue(kKey, name, name));
    ASSERT_TRUE(registry.writeValue(kKey, "ONE", "again"));
    ASSERT_TRUE(registry.deleteValue(kKey, "Two"));
    ASSERT_TRUE(registry.writeValue(kKey, "two", "back"));

    const auto values = registry.values(kKey);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "one"); // the first spelling stays
    EXPECT_EQ(values[0].data, "again");
    EXPECT_EQ(values[1].name, "three");
    EXPECT_EQ(values[2].name, "two"); // deleted and rewritten: a new value at the end

    // A second handle sees the writes, both ways.
    Registry other(temp.path());
    ASSERT_TRUE(other.isOpen());
    ASSERT_TRUE(temp.registry().writeValue(kKey, "nick", "first"));
    EXPECT_EQ(other.readValue(kKey, "nick"), QByteArray("first"));
    ASSERT_TRUE(other.writeValue(kKey, "nick", "second"));
    ASSERT_TRUE(other.writeValue(kKey, "away", "gone"));
    EXPECT_EQ(temp.registry().readValue(kKey, "nick"), QByteArray("second"));
    EXPECT_EQ(names(temp.registry(), kKey),
              (std::vector<QByteArray>{"one", "three", "two", "nick", "away"}));
}

TEST(Registry, UnopenableFileReadsEmptyAndIgnoresWrites)
{
    QTemporaryDir dir;
    QFile junk(dir.filePath("junk.db"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();

    for (const QString& path : {dir.path(), junk.fileName()}) {
        SCOPED_TRACE(path.toStdString());
        Registry registry(path);
        EXPECT_FALSE(registry.isOpen());
        EXPECT_FALSE(registry.createKey(kKey));
        EXPECT_FALSE(registry.hasKey(kKey));
        EXPECT_FALSE(registry.writeValue(kKey, "nick", "x"));
        EXPECT_EQ(registry.readValue(kKey, "nick"), std::nullopt);
        EXPECT_TRUE(registry.values(kKey).empty());
    }
    // A store that could not be read is never replaced by an empty one.
    ASSERT_TRUE(junk.open(QIODevice::ReadOnly));
    EXPECT_EQ(junk.readAll(), QByteArray(4096, 'x'));
}

TEST(Paths, FollowXdgVariablesWhenAbsolute)
{
    EnvGuard home("HOME"), config("XDG_CONFIG_HOME"), data("XDG_DATA_HOME");
    home.set("/home/tester");
    const struct
    {
        const char* value;
        QString configDir;
        QString installDir;
    } cases[] = {
        {nullptr, "/home/tester/.config/kivvo", "/home/tester/.local/share/kivvo"},
        {"", "/home/tester/.config/kivvo", "/home/tester/.local/share/kivvo"},
        {"relative/dir", "/home/tester/.config/kivvo", "/home/tester/.local/share/kivvo"},
        {"/xdg/base/", "/xdg/base/kivvo", "/xdg/base/kivvo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "<unset>");
        config.set(c.value);
        data.set(c.value);
        EXPECT_EQ(config::configDir(), c.configDir);
        EXPECT_EQ(config::registryPath(), c.configDir + "/registry.db");
        EXPECT_EQ(config::defaultInstallDir(), c.installDir);
    }
}

TEST(Paths, IdentPortFromEnvironment)
{
    EnvGuard port("KIVVO_IDENT_PORT");
    const struct
    {
        const char* value;
        quint16 expected;
    } cases[] = {
        {nullptr, 113}, {"", 113},   {"1", 1},       {"6113", 6113}, {"65535", 65535},
        {"0", 113},     {"-1", 113}, {"65536", 113}, {"abc", 113},   {"12x", 113},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "<unset>");
        port.set(c.value);
        EXPECT_EQ(config::identPort(), c.expected);
    }
}

TEST(Installation, NickFromLoginName)
{
    const struct
    {
        QString login;
        QByteArray nick;
    } cases[] = {
        {"alice", "alice"},
        {"john.doe", "johndoe"},
        {"1st-user", "st-user"},
        {"--9x", "x"},
        {"averyverylongname", "averyvery"},
        {"a[]\\`_^{|}-", "a[]\\`_^{|"},
        {QString::fromUtf8("j\xc3\xb6rg"), "jrg"},
        {QString::fromUtf8("\xc3\xa9\xc3\xa9"), "kivvo"},
        {"123-", "kivvo"},
        {"", "kivvo"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(config::nickFromLoginName(c.login), c.nick) << c.login.toStdString();
}

constexpr int kEachWriter = 100; // two writers stay below the 256 contacts a list holds

// Run by the next test in processes of its own; disabled so that a plain run skips it.
TEST(StoreSharingWriter, DISABLED_AddsContactsAndServers)
{
    const QByteArray path = qgetenv("KIVVO_WRITER_STORE");
    const QByteArray id = qgetenv("KIVVO_WRITER_ID");
    ASSERT_FALSE(path.isEmpty());
    Registry registry(QString::fromLocal8Bit(path));
    ASSERT_TRUE(registry.isOpen());
    config::Store store(registry);
    for (int i = 0; i < kEachWriter; ++i) {
        const QByteArray tag = id + "." + QByteArray::number(i);
        store.AddContact("nick" + tag);
        ASSERT_TRUE(store.AddServer({"10.0." + tag, "net", 6667})) << i;
        ASSERT_TRUE(store.EnumContacts().contains("nick" + tag)) << i;
    }
}

TEST(StoreSharing, TwoProcessesWritingOneStoreLoseNothing)
{
    // Two program instances on one store, each a process with its own connection and locks,
    // adding contacts and servers at the same time as fast as they can.
    test::TempStore temp;
    QProcess writers[2];
    for (int p = 0; p < 2; ++p) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KIVVO_WRITER_STORE", temp.path());
        env.insert("KIVVO_WRITER_ID", QString::number(p));
        writers[p].setProcessEnvironment(env);
        writers[p].start(QFileInfo("/proc/self/exe").symLinkTarget(),
                         {"--gtest_also_run_disabled_tests",
                          "--gtest_filter=StoreSharingWriter.DISABLED_AddsContactsAndServers"});
    }
    for (QProcess& writer : writers) {
        ASSERT_TRUE(writer.waitForFinished(60000));
        EXPECT_EQ(writer.exitCode(), 0) << writer.readAll().toStdString();
    }
    config::Store store(temp.registry());
    EXPECT_EQ(store.EnumContacts().size(), 2 * kEachWriter);
    EXPECT_EQ(store.EnumServers().size(), size_t(2 * kEachWriter));
}

} // namespace

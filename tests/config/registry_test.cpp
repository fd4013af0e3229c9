#include "config/paths.h"
#include "config/registry.h"
#include "config/store.h"
#include "tests/config/unwritable_store.h"
#include "tests/support/temp_store.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <vector>

namespace {

using config::Registry;
using Rows = std::vector<std::vector<std::string>>;

const QByteArray kKey = "SOFTWARE\\Kivvo";

// Reads the file behind the registry's back, to check what actually lands on disk.
Rows rawQuery(const QString& path, const char* sql)
{
    Rows rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                std::vector<std::string> row;
                for (int i = 0; i < sqlite3_column_count(st); ++i) {
                    const auto* text = sqlite3_column_text(st, i);
                    row.emplace_back(text ? reinterpret_cast<const char*>(text) : "<null>");
                }
                rows.push_back(row);
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return rows;
}

std::vector<QByteArray> names(const Registry& registry, const QByteArray& key)
{
    std::vector<QByteArray> result;
    for (const auto& value : registry.values(key))
        result.push_back(value.name);
    return result;
}

// Sets or clears an environment variable for one test and puts the old state back afterwards.
class EnvGuard
{
public:
    explicit EnvGuard(const char* name)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
        , m_old(qgetenv(name))
    {}
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    void set(const char* value)
    {
        if (value)
            qputenv(m_name, value);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(Registry, SchemaIsExactlyTheStoredLayout)
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
}

TEST(Registry, NamesAreTextAndDataIsBlobEvenWhenEmpty)
{
    test::TempStore temp;
    ASSERT_TRUE(temp.registry().writeValue(kKey, "empty", QByteArray()));
    ASSERT_TRUE(temp.registry().writeValue(kKey, "bytes", QByteArray::fromHex("00ff0a")));
    EXPECT_EQ(rawQuery(temp.path(), "SELECT typeof(key), typeof(name), typeof(data), "
                                    "length(data) FROM reg_value ORDER BY rowid"),
              (Rows{{"text", "text", "blob", "0"}, {"text", "text", "blob", "3"}}));
    EXPECT_EQ(temp.registry().readValue(kKey, "empty"), QByteArray());
    EXPECT_EQ(temp.registry().readValue(kKey, "bytes"), QByteArray::fromHex("00ff0a"));
    EXPECT_EQ(temp.registry().readValue(kKey, "absent"), std::nullopt);
}

TEST(Registry, CreatesMissingParentFolders)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a/b/registry.db");
    Registry registry(path);
    EXPECT_TRUE(registry.isOpen());
    EXPECT_TRUE(registry.createKey(kKey));
    EXPECT_TRUE(QFileInfo::exists(path));
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

TEST(Registry, RewriteKeepsPlaceAndNamesIgnoreCase)
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
}

TEST(Registry, SecondHandleSeesWritesBothWays)
{
    test::TempStore temp;
    Registry other(temp.path());
    ASSERT_TRUE(other.isOpen());
    ASSERT_TRUE(temp.registry().writeValue(kKey, "nick", "first"));
    EXPECT_EQ(other.readValue(kKey, "nick"), QByteArray("first"));
    ASSERT_TRUE(other.writeValue(kKey, "nick", "second"));
    ASSERT_TRUE(other.writeValue(kKey, "away", "gone"));
    EXPECT_EQ(temp.registry().readValue(kKey, "nick"), QByteArray("second"));
    EXPECT_EQ(names(temp.registry(), kKey), (std::vector<QByteArray>{"nick", "away"}));
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

TEST(Registry, TransactionStoresAllOrNothing)
{
    test::TempStore temp;
    Registry& registry = temp.registry();
    EXPECT_FALSE(registry.transact([&] {
        return registry.writeValue(kKey, "nick", "kept out")
               && registry.writeValue("SOFTWARE\\Missing", "nick", "x");
    }));
    EXPECT_EQ(registry.readValue(kKey, "nick"), std::nullopt);
    EXPECT_TRUE(registry.transact([&] {
        return registry.writeValue(kKey, "nick", "a") && registry.writeValue(kKey, "away", "b");
    }));
    EXPECT_EQ(names(registry, kKey), (std::vector<QByteArray>{"nick", "away"}));
}

// Everything the program writes, each of which has to fail on a store that cannot be written.
void expectEveryWriteFails(Registry& registry)
{
    config::Store store(registry);
    EXPECT_FALSE(registry.createKey("SOFTWARE\\Other"));
    EXPECT_FALSE(registry.writeValue(kKey, "nick", "changed"));
    EXPECT_FALSE(registry.deleteValue(config::kKeyContacts, "alice"));
    EXPECT_FALSE(registry.transact([] { return true; }));
    config::Settings settings = store.LoadSettings();
    settings.nick = "changed";
    EXPECT_FALSE(store.SaveSettings(settings));
    EXPECT_FALSE(store.AddServer({"new.example.org", "New", 6667}));
    EXPECT_FALSE(store.RemoveServer(test::seed().servers.front()));
    EXPECT_FALSE(store.AddContact("dave"));
    EXPECT_FALSE(store.RemoveContact("alice"));
}

// The store as a crashed copy of the program leaves it: the data still in the WAL journal, with
// or without the journal's index (-shm) beside it.
void seedWithJournalLeftOver(const QString& path, bool withIndex)
{
    QTemporaryDir scratch;
    const QString source = scratch.filePath("registry.db");
    Registry writer(source);
    test::seedStore(writer);
    QStringList suffixes = {"", "-wal"};
    if (withIndex)
        suffixes << "-shm";
    for (const QString& suffix : suffixes)
        ASSERT_TRUE(QFile::copy(source + suffix, path + suffix)) << suffix.toStdString();
    ASSERT_GT(QFileInfo(path + "-wal").size(), 0);
}

TEST(Registry, UnwritableStoreIsReadInsteadOfRunningOnDefaults)
{
    const struct
    {
        const char* condition;
        std::function<void(const QString& folder, const QString& path)> make;
    } cases[] = {
        {"read-only file",
         [](const QString&, const QString& path) {
             test::seedStore(path);
             ASSERT_TRUE(test::makeReadOnly(path));
         }},
        {"read-only folder",
         [](const QString& folder, const QString& path) {
             test::seedStore(path);
             ASSERT_TRUE(test::makeReadOnly(folder));
         }},
        {"read-only folder, rollback journal",
         [](const QString& folder, const QString& path) {
             test::seedStore(path);
             ASSERT_EQ(rawQuery(path, "PRAGMA journal_mode"), Rows{{"wal"}});
             sqlite3* db = nullptr;
             sqlite3_open(QFile::encodeName(path).constData(), &db);
             sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
             sqlite3_close(db);
             ASSERT_EQ(rawQuery(path, "PRAGMA journal_mode"), Rows{{"delete"}});
             ASSERT_TRUE(test::makeReadOnly(folder));
         }},
        {"read-only folder and WAL journal left over",
         [](const QString& folder, const QString& path) {
             seedWithJournalLeftOver(path, true);
             for (const char* suffix : {"", "-wal", "-shm"})
                 ASSERT_TRUE(test::makeReadOnly(path + suffix));
             ASSERT_TRUE(test::makeReadOnly(folder));
         }},
        {"read-only folder, WAL journal left over without its index",
         [](const QString& folder, const QString& path) {
             seedWithJournalLeftOver(path, false);
             ASSERT_TRUE(test::makeReadOnly(folder));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.condition);
        QTemporaryDir dir;
        // Characters that mean something in a URI, where SQLite takes some of its options.
        const QString folder = dir.filePath(QString::fromUtf8("kivvo ?#%\xc3\xa9"));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = folder + "/registry.db";
        test::WritableAgain writableAgain(folder);
        c.make(folder, path);
        const auto before = test::folderBytes(folder);
        {
            test::PermissionBitsApply permissionBits;
            Registry registry(path);
            ASSERT_TRUE(registry.isOpen());
            EXPECT_TRUE(registry.isReadOnly());
            test::expectSeed(config::Store(registry));
            expectEveryWriteFails(registry);
            test::expectSeed(config::Store(registry));
        }
        auto after = test::folderBytes(folder);
        // A reader may make the journal files a read-only file beside a writable folder lacks.
        for (auto it = after.begin(); it != after.end();)
            it = before.contains(it.key()) ? std::next(it) : after.erase(it);
        EXPECT_EQ(after, before);
    }
}

TEST(Registry, ReadOnlyFolderWithWritableJournalFilesStaysWritable)
{
    // SQLite needs to create nothing when the journal files are there and writable.
    QTemporaryDir dir;
    const QString path = dir.filePath("registry.db");
    test::WritableAgain writableAgain(dir.path());
    seedWithJournalLeftOver(path, true);
    ASSERT_TRUE(test::makeReadOnly(dir.path()));
    test::PermissionBitsApply permissionBits;
    Registry registry(path);
    EXPECT_FALSE(registry.isReadOnly());
    config::Store store(registry);
    test::expectSeed(store);
    EXPECT_TRUE(store.AddContact("dave"));
    EXPECT_EQ(store.EnumContacts().back(), "dave");
}

TEST(Registry, FullDatabaseRefusesWritesAndKeepsEveryValue)
{
    test::TempStore temp;
    test::seedStore(temp.registry());
    test::FullDatabases full;
    Registry registry(temp.path());
    ASSERT_TRUE(registry.isOpen());
    config::Store store(registry);
    QList<QByteArray> contacts = test::seed().contacts;
    for (int i = 0;; ++i) {
        ASSERT_LT(i, 1000) << "the database never filled up";
        const QByteArray nick = "f" + QByteArray::number(i);
        if (!store.AddContact(nick))
            break;
        contacts.append(nick);
    }
    EXPECT_EQ(names(registry, config::kKeyContacts),
              std::vector<QByteArray>(contacts.begin(), contacts.end()));
    // The first value fits where the old one was; the long one does not, and takes the first
    // one back with it.
    config::Settings settings = test::seed().settings;
    settings.nick = "x";
    settings.email = QByteArray(255, 'e');
    EXPECT_FALSE(store.SaveSettings(settings));
    EXPECT_EQ(store.LoadSettings(), test::seed().settings);
    EXPECT_EQ(store.EnumServers(), test::seed().servers);
}

// Run by the next test inside a mount namespace of its own, where it may mount a small tmpfs and
// make it read-only or fill it up; disabled so that a plain run skips it.
TEST(FileSystemConditions, DISABLED_ReadOnlyAndFull)
{
    const QByteArray folder = qgetenv("KIVVO_TMPFS_FOLDER");
    ASSERT_FALSE(folder.isEmpty());
    if (mount("tmpfs", folder.constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    const QString path = QString::fromLocal8Bit(folder) + "/registry.db";
    test::seedStore(path);
    {
        SCOPED_TRACE("read-only file system");
        ASSERT_EQ(mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        Registry registry(path);
        EXPECT_TRUE(registry.isReadOnly());
        test::expectSeed(config::Store(registry));
        expectEveryWriteFails(registry);
        ASSERT_EQ(mount(nullptr, folder.constData(), nullptr, MS_REMOUNT, nullptr), 0);
    }
    QFile filler(QString::fromLocal8Bit(folder) + "/filler");
    const auto fill = [&filler] {
        ASSERT_TRUE(filler.open(QIODevice::Append));
        while (filler.write(QByteArray(512, 'f')) > 0 && filler.flush()) {
        }
        filler.close();
    };
    {
        SCOPED_TRACE("full disk at start");
        fill();
        Registry registry(path);
        EXPECT_TRUE(registry.isReadOnly());
        test::expectSeed(config::Store(registry));
        expectEveryWriteFails(registry);
    }
    ASSERT_TRUE(filler.remove());
    {
        SCOPED_TRACE("writable store on a disk that fills up");
        Registry registry(path);
        ASSERT_FALSE(registry.isReadOnly());
        fill();
        EXPECT_FALSE(config::Store(registry).AddContact("dave"));
        EXPECT_FALSE(config::Store(registry).SaveSettings(config::Settings{}));
        test::expectSeed(config::Store(registry));
    }
}

TEST(Registry, ReadOnlyFileSystemAndFullDiskStillRead)
{
    // Mounting needs a mount namespace: root gets one from unshare, anyone else one inside a
    // user namespace.
    QTemporaryDir folder;
    QStringList arguments = {"--mount", "--propagation", "private"};
    if (geteuid() != 0)
        arguments = QStringList{"--user", "--map-root-user"} + arguments;
    arguments << QFileInfo("/proc/self/exe").symLinkTarget() << "--gtest_also_run_disabled_tests"
              << "--gtest_filter=FileSystemConditions.DISABLED_ReadOnlyAndFull";
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KIVVO_TMPFS_FOLDER", folder.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("unshare", arguments);
    if (!child.waitForStarted())
        GTEST_SKIP() << "unshare is not installed";
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    if (!output.contains("[==========]"))
        GTEST_SKIP() << "no mount namespace here: " << output.trimmed().toStdString();
    if (output.contains("[  SKIPPED ]"))
        GTEST_SKIP() << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
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

} // namespace

namespace {
constexpr int kEachWriter = 100; // two writers stay below the 256 contacts a list holds
}

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

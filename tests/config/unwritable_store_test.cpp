// Stores that cannot be written, in part or at all: read-only files, folders and file systems,
// full disks, and writes that fail halfway.
#include "config/installation.h"
#include "config/registry.h"
#include "config/store.h"
#include "tests/config/raw_store.h"
#include "tests/config/unwritable_store.h"
#include "tests/support/temp_store.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

using config::kKeyContacts;
using config::kKeyRoot;
using config::Registry;
using test::names;
using test::rawQuery;
using test::Rows;

TEST(Registry, TransactionStoresAllOrNothing)
{
    test::TempStore temp;
    Registry& registry = temp.registry();
    EXPECT_FALSE(registry.transact([&] {
        return registry.writeValue(kKeyRoot, "nick", "kept out")
               && registry.writeValue("SOFTWARE\\Missing", "nick", "x");
    }));
    EXPECT_EQ(registry.readValue(kKeyRoot, "nick"), std::nullopt);
    EXPECT_TRUE(registry.transact([&] {
        return registry.writeValue(kKeyRoot, "nick", "a")
               && registry.writeValue(kKeyRoot, "away", "b");
    }));
    EXPECT_EQ(names(registry, kKeyRoot), (std::vector<QByteArray>{"nick", "away"}));
}

// Opens the seeded store at `path`, which cannot be written: it reads in full, and everything
// the program writes fails and changes nothing.
void expectSeedReadButNeverWritten(const QString& path)
{
    Registry registry(path);
    ASSERT_TRUE(registry.isOpen());
    EXPECT_TRUE(registry.isReadOnly());
    config::Store store(registry);
    test::expectSeed(store);
    EXPECT_FALSE(registry.createKey("SOFTWARE\\Other"));
    EXPECT_FALSE(registry.writeValue(kKeyRoot, "nick", "changed"));
    EXPECT_FALSE(registry.deleteValue(kKeyContacts, "alice"));
    EXPECT_FALSE(registry.transact([] { return true; }));
    config::Settings settings = store.LoadSettings();
    settings.nick = "changed";
    EXPECT_FALSE(store.SaveSettings(settings));
    EXPECT_FALSE(store.AddServer({"new.example.org", "New", 6667}));
    EXPECT_FALSE(store.RemoveServer(test::seed().servers.front()));
    EXPECT_FALSE(store.AddContact("dave"));
    EXPECT_FALSE(store.RemoveContact("alice"));
    test::expectSeed(store);
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
        test::StoreFolder store;
        c.make(store.folder(), store.path());
        const auto before = test::folderBytes(store.folder());
        {
            test::PermissionBitsApply permissionBits;
            expectSeedReadButNeverWritten(store.path());
        }
        auto after = test::folderBytes(store.folder());
        // A reader may make the journal files a read-only file beside a writable folder lacks.
        for (auto it = after.begin(); it != after.end();)
            it = before.contains(it.key()) ? std::next(it) : after.erase(it);
        EXPECT_EQ(after, before);
    }
}

TEST(Registry, ReadOnlyFolderWithWritableJournalFilesStaysWritable)
{
    // SQLite needs to create nothing when the journal files are there and writable.
    test::StoreFolder folder;
    seedWithJournalLeftOver(folder.path(), true);
    ASSERT_TRUE(test::makeReadOnly(folder.folder()));
    test::PermissionBitsApply permissionBits;
    Registry registry(folder.path());
    EXPECT_FALSE(registry.isReadOnly());
    config::Store store(registry);
    test::expectSeed(store);
    EXPECT_TRUE(store.AddContact("dave"));
    EXPECT_EQ(store.EnumContacts().back(), "dave");
}

TEST(Installation, ReadOnlyStoreIsNotReportedAsInstalled)
{
    test::StoreFolder folder;
    ASSERT_TRUE(Registry(folder.path()).isOpen()); // the schema, but no keys yet
    ASSERT_TRUE(test::makeReadOnly(folder.path()));
    test::PermissionBitsApply permissionBits;
    Registry registry(folder.path());
    ASSERT_TRUE(registry.isReadOnly());
    config::FirstRunDefaults defaults;
    defaults.installDir = folder.folder() + "/data";
    EXPECT_FALSE(config::installIfMissing(registry, defaults));
    EXPECT_FALSE(registry.hasKey(kKeyRoot));
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
    EXPECT_EQ(names(registry, kKeyContacts),
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
        expectSeedReadButNeverWritten(path);
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
        expectSeedReadButNeverWritten(path);
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

} // namespace

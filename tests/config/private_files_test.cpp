// What the program creates for passwords and conversations is its owner's alone, whatever the
// umask: checked under the most permissive one, where every file would otherwise be world-
// readable.
#include "config/installation.h"
#include "config/paths.h"
#include "config/registry.h"
#include "config/store.h"
#include "diag/received_dump.h"
#include "peer/chat/chat_log.h"
#include "tests/support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using test::modeOf;

namespace {

class PrivateFilesTest : public ::testing::Test
{
protected:
    PrivateFilesTest()
        : m_umask(::umask(0))
    {}
    ~PrivateFilesTest() override { ::umask(m_umask); }

    QString under(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;

private:
    mode_t m_umask;
};

} // namespace

TEST_F(PrivateFilesTest, StoreItsJournalAndTheFoldersMadeForIt)
{
    const QString path = under(QStringLiteral("config/kivvo/registry.db"));
    {
        config::Registry registry(path);
        ASSERT_TRUE(registry.isOpen());
        ASSERT_FALSE(registry.isReadOnly());
        ASSERT_TRUE(registry.createKey(config::kKeyRoot));
        ASSERT_TRUE(registry.writeValue(config::kKeyRoot, "serverpass", "s3cret"));
        // While the store is open its journal and index are there.
        EXPECT_EQ(modeOf(path + QStringLiteral("-wal")), 0600);
        EXPECT_EQ(modeOf(path + QStringLiteral("-shm")), 0600);
    }
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(under(QStringLiteral("config/kivvo"))), 0700);
    EXPECT_EQ(modeOf(under(QStringLiteral("config"))), 0700);
}

// A store restored from a backup, or left by an older version, readable by all: private again
// from its first open, with its journal and index.
TEST_F(PrivateFilesTest, AStoreReadableByAllIsPrivateAgainOnOpen)
{
    const QString path = under(QStringLiteral("registry.db"));
    {
        config::Registry registry(path);
        ASSERT_TRUE(registry.createKey(config::kKeyRoot));
        ASSERT_TRUE(registry.writeValue(config::kKeyRoot, "serverpass", "s3cret"));
    }
    const QStringList files = {path, path + QStringLiteral("-wal"), path + QStringLiteral("-shm")};
    for (const QString& file : files) {
        QFile touched(file);
        ASSERT_TRUE(touched.open(QIODevice::Append)) << file.toStdString();
        touched.close();
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    config::Registry registry(path);
    ASSERT_TRUE(registry.isOpen());
    EXPECT_EQ(registry.readValue(config::kKeyRoot, "serverpass"), QByteArray("s3cret"));
    for (const QString& file : files)
        EXPECT_EQ(modeOf(file), 0600) << file.toStdString();
}

TEST_F(PrivateFilesTest, FoldersThatExistKeepTheirMode)
{
    const QString shared = under(QStringLiteral("shared"));
    ASSERT_EQ(::mkdir(QFile::encodeName(shared).constData(), 0755), 0);
    ASSERT_TRUE(config::makePrivateFolder(shared + QStringLiteral("/mine")));
    EXPECT_EQ(modeOf(shared), 0755);
    EXPECT_EQ(modeOf(shared + QStringLiteral("/mine")), 0700);
    EXPECT_TRUE(config::makePrivateFolder(shared));
    EXPECT_EQ(modeOf(shared), 0755);
}

TEST_F(PrivateFilesTest, ChatLogsAndTheirFolder)
{
    const QString installDir = under(QStringLiteral("data/kivvo"));
    config::Registry registry(under(QStringLiteral("registry.db")));
    config::FirstRunDefaults defaults;
    defaults.installDir = installDir;
    ASSERT_TRUE(config::installIfMissing(registry, defaults));
    EXPECT_EQ(modeOf(installDir), 0700);
    EXPECT_EQ(modeOf(installDir + QStringLiteral("/logs")), 0700);

    // The logs folder made again by the first line of a chat after it was removed.
    ASSERT_TRUE(QDir(installDir + QStringLiteral("/logs")).removeRecursively());
    const std::optional<QString> log = peer::ChatLog::logFilePath(installDir, "bob");
    ASSERT_TRUE(log);
    ASSERT_TRUE(peer::ChatLog::append(*log, "hello\r\n"));
    ASSERT_TRUE(peer::ChatLog::append(*log, "again\r\n"));
    EXPECT_EQ(modeOf(*log), 0600);
    EXPECT_EQ(modeOf(installDir + QStringLiteral("/logs")), 0700);
    QFile file(*log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "hello\r\nagain\r\n");
}

// The dump is private with and without DEBUG, and never written through a link.
TEST_F(PrivateFilesTest, ReceivedDumpIsPrivateAndDoesNotFollowASymlink)
{
    const QString target = under(QStringLiteral("victim"));
    {
        QFile victim(target);
        ASSERT_TRUE(victim.open(QIODevice::WriteOnly));
        victim.write("untouched\n");
    }
    const QString path = under(QStringLiteral("out.txt"));
    ASSERT_TRUE(QFile::link(target, path));
    const QString dangling = under(QStringLiteral("dangling.txt"));
    ASSERT_TRUE(QFile::link(under(QStringLiteral("made-through-link")), dangling));
    for (bool enabled : {false, true}) {
        SCOPED_TRACE(enabled ? "DEBUG" : "without DEBUG");
        const QString fresh = under(enabled ? QStringLiteral("on.txt") : QStringLiteral("off.txt"));
        diag::ReceivedDump(fresh, enabled).DumpReceivedLines({"PING :x"});
        EXPECT_EQ(modeOf(fresh), 0600);
        diag::ReceivedDump(path, enabled).DumpReceivedLines({":irc NOTICE * :hi"});
        diag::ReceivedDump(dangling, enabled).DumpReceivedLines({":irc NOTICE * :hi"});
    }
    QFile victim(target);
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), "untouched\n");
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(under(QStringLiteral("made-through-link"))));
}

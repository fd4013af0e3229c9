#pragma once

// Stores that can be read but not written, made under real conditions so that the tests mean
// the same when they run as root.
#include "config/errors.h"
#include "config/registry.h"
#include "config/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace test {

// Root ignores permission bits through CAP_DAC_OVERRIDE and its kin, so a chmod would not stop
// it. While an instance lives the calling thread goes without them, and a read-only file or
// folder is read-only for root too. Capabilities belong to a thread, and SQLite opens its files
// in the calling one. For anyone but root this changes nothing.
class PermissionBitsApply
{
public:
    PermissionBitsApply()
    {
        m_saved = syscall(SYS_capget, &m_header, m_caps) == 0;
        if (!m_saved)
            return;
        __user_cap_data_struct lowered[2] = {m_caps[0], m_caps[1]};
        lowered[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        EXPECT_EQ(syscall(SYS_capset, &m_header, lowered), 0);
    }
    ~PermissionBitsApply()
    {
        if (m_saved)
            syscall(SYS_capset, &m_header, m_caps);
    }
    PermissionBitsApply(const PermissionBitsApply&) = delete;
    PermissionBitsApply& operator=(const PermissionBitsApply&) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_caps[2]{};
    bool m_saved = false;
};

// A fresh folder for a store file, made writable again on the way out so that it can be removed.
// Its name holds characters that mean something in a URI, where SQLite takes some of its options.
class StoreFolder
{
public:
    StoreFolder() { EXPECT_TRUE(QDir().mkpath(m_folder)); }
    ~StoreFolder()
    {
        const auto rw = QFile::ReadOwner | QFile::WriteOwner;
        QFile::setPermissions(m_folder, rw | QFile::ExeOwner);
        for (const QString& name : QDir(m_folder).entryList(QDir::Files))
            QFile::setPermissions(m_folder + '/' + name, rw);
    }
    StoreFolder(const StoreFolder&) = delete;
    StoreFolder& operator=(const StoreFolder&) = delete;

    const QString& folder() const { return m_folder; }
    QString path() const { return m_folder + "/registry.db"; }

private:
    QTemporaryDir m_dir;
    QString m_folder = m_dir.filePath(QString::fromUtf8("kivvo ?#%\xc3\xa9"));
};

// r-x for a folder, r-- for a file.
inline bool makeReadOnly(const QString& path)
{
    const auto read = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto search = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    return QFile::setPermissions(path, QFileInfo(path).isDir() ? read | search : read);
}

// What seedStore() writes.
struct Seed
{
    config::Settings settings;
    std::vector<config::ServerEntry> servers;
    QList<QByteArray> contacts;
};

inline Seed seed()
{
    Seed seed;
    seed.settings.nick = "seeded";
    seed.settings.altnick = "seeded_";
    seed.settings.realname = "Seed User";
    seed.settings.autoconnect = true;
    seed.servers = {{"irc.example.org", "Example", 6697}, {"10.0.0.2", "Backup", 6667}};
    seed.contacts = {"alice", "bob", "carol"};
    return seed;
}

inline void expectSeed(const config::Store& store)
{
    const Seed s = seed();
    EXPECT_EQ(store.LoadSettings(), s.settings);
    EXPECT_EQ(store.EnumServers(), s.servers);
    EXPECT_EQ(store.EnumContacts(), s.contacts);
}

// Writes seed() into the store of `registry`, which has to be writable.
inline void seedStore(config::Registry& registry)
{
    for (const char* key : {config::kKeyRoot, config::kKeyServers, config::kKeyContacts})
        ASSERT_TRUE(registry.createKey(key));
    config::Store store(registry);
    const Seed s = seed();
    ASSERT_TRUE(store.SaveSettings(s.settings));
    for (const config::ServerEntry& server : s.servers)
        ASSERT_TRUE(store.AddServer(server));
    for (const QByteArray& contact : s.contacts)
        ASSERT_TRUE(store.AddContact(contact));
}

inline void seedStore(const QString& path)
{
    config::Registry registry(path);
    ASSERT_TRUE(registry.isOpen());
    seedStore(registry);
}

// A seeded store made read-only and opened as the program opens it, the permission bits applying
// while it lives.
struct ReadOnlyStore
{
    StoreFolder folder;
    QString path = folder.path();
    bool madeReadOnly = (seedStore(path), makeReadOnly(path));
    PermissionBitsApply permissionBits;
    config::Registry registry{path};
    config::Store store{registry};

    // What the box that says why nothing was saved says.
    QString saveFailed() const { return config::errorText(config::Error::SaveFailed, path); }
};

// The bytes of every file in a folder, to show that nothing stored was touched.
inline QMap<QString, QByteArray> folderBytes(const QString& folder)
{
    QMap<QString, QByteArray> bytes;
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        QFile file(folder + '/' + name);
        bytes[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unread>");
    }
    return bytes;
}

// While an instance lives, every SQLite connection opened in this process finds its file full:
// max_page_count keeps it at the size it had when opened, and SQLite answers a write that needs
// one page more with SQLITE_FULL, as on a full disk.
class FullDatabases
{
public:
    FullDatabases() { sqlite3_auto_extension(entryPoint()); }
    ~FullDatabases() { sqlite3_cancel_auto_extension(entryPoint()); }
    FullDatabases(const FullDatabases&) = delete;
    FullDatabases& operator=(const FullDatabases&) = delete;

private:
    static int capAtCurrentSize(sqlite3* db, char**, const sqlite3_api_routines*)
    {
        // A maximum below the current size is raised to it.
        sqlite3_exec(db, "PRAGMA max_page_count = 1", nullptr, nullptr, nullptr);
        return SQLITE_OK;
    }
    // SQLite calls the entry point back with the signature above.
    static void (*entryPoint())() { return reinterpret_cast<void (*)()>(&capAtCurrentSize); }
};

} // namespace test

#include "config/registry.h"

#include "config/paths.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <sqlite3.h>

namespace config {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// IF NOT EXISTS because a second copy of the program may be creating the same schema right now.
constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS reg_key (path TEXT PRIMARY KEY COLLATE NOCASE)",
    "CREATE TABLE IF NOT EXISTS reg_value (key TEXT NOT NULL COLLATE NOCASE REFERENCES "
    "reg_key(path), name TEXT NOT NULL COLLATE NOCASE, data BLOB NOT NULL, PRIMARY KEY (key, "
    "name))",
};

// A prepared statement that is finalized however the caller leaves. Binding a null pointer would
// store SQL NULL, which the NOT NULL columns refuse, so empty texts and blobs bind as zero-length
// values instead.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (db && sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }

    bool bindText(int index, const QByteArray& text)
    {
        return m_stmt
               && sqlite3_bind_text(m_stmt, index, text.isEmpty() ? "" : text.constData(),
                                    int(text.size()), SQLITE_TRANSIENT)
                      == SQLITE_OK;
    }

    bool bindBlob(int index, const QByteArray& blob)
    {
        if (!m_stmt)
            return false;
        const int rc = blob.isEmpty() ? sqlite3_bind_zeroblob(m_stmt, index, 0)
                                      : sqlite3_bind_blob(m_stmt, index, blob.constData(),
                                                          int(blob.size()), SQLITE_TRANSIENT);
        return rc == SQLITE_OK;
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_MISUSE; }

    QByteArray columnBytes(int column) const
    {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt, column));
        const int size = sqlite3_column_bytes(m_stmt, column);
        return bytes && size > 0 ? QByteArray(bytes, size) : QByteArray();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

bool execAll(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool prepareDatabase(sqlite3* db)
{
    // Switching to WAL and creating the schema both need locks that another copy of the program
    // may hold for a moment; the busy timeout is set by openConnection().
    if (!execAll(db, "PRAGMA journal_mode=WAL") || !execAll(db, "PRAGMA foreign_keys=ON"))
        return false;
    if (!execAll(db, "BEGIN IMMEDIATE"))
        return false;
    for (const char* statement : kSchema) {
        if (!execAll(db, statement)) {
            execAll(db, "ROLLBACK");
            return false;
        }
    }
    return execAll(db, "COMMIT");
}

struct CloseConnection
{
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

Connection openConnection(const QByteArray& name, int flags)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.constData(), &db, flags, nullptr);
    Connection connection(db); // SQLite hands out a handle to close even when the open fails
    if (rc != SQLITE_OK || sqlite3_busy_timeout(db, kBusyTimeoutMs) != SQLITE_OK)
        return {};
    return connection;
}

// Reading the schema touches the file header and the journal, which opening alone does not.
Connection readable(Connection db)
{
    if (db && execAll(db.get(), "SELECT count(*) FROM sqlite_master"))
        return db;
    return {};
}

Connection openReadWrite(const QString& path)
{
    Connection db =
        openConnection(QFile::encodeName(path), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // SQLite quietly opens a file it may not write read-only; such a connection only fails later.
    if (!db || sqlite3_db_readonly(db.get(), "main") != 0 || !prepareDatabase(db.get()))
        return {};
    return db;
}

QByteArray immutableUri(const QString& path)
{
    QUrl uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    uri.setQuery(QStringLiteral("immutable=1"));
    return uri.toEncoded();
}

// Reads a copy of the file and its journal from a folder of our own, where SQLite can build the
// journal's index that it cannot build next to the file.
Connection openSnapshot(const QString& path, std::unique_ptr<QTemporaryDir>& holder)
{
    auto folder = std::make_unique<QTemporaryDir>();
    const QString copy = folder->filePath(QStringLiteral("registry.db"));
    if (!folder->isValid())
        return {};
    for (const QString& suffix : {QString(), QStringLiteral("-wal")}) {
        if (!QFile::copy(path + suffix, copy + suffix)
            || !QFile::setPermissions(copy + suffix, QFile::ReadOwner | QFile::WriteOwner))
            return {};
    }
    Connection db = readable(openConnection(QFile::encodeName(copy), SQLITE_OPEN_READONLY));
    if (db)
        holder = std::move(folder);
    return db;
}

Connection openReadOnly(const QString& path, std::unique_ptr<QTemporaryDir>& snapshot)
{
    // Works wherever the WAL index (the -shm file) exists or can be made.
    if (Connection db = readable(openConnection(QFile::encodeName(path), SQLITE_OPEN_READONLY)))
        return db;
    // A read-only folder or file system leaves no room for the index. With no journal to replay
    // the file alone holds everything, and "immutable" reads it without index or locks; nobody
    // else can write it either while the folder stays read-only.
    if (QFileInfo(path + QStringLiteral("-wal")).size() == 0)
        return readable(openConnection(immutableUri(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI));
    // "immutable" would skip the changes still in the journal.
    return openSnapshot(path, snapshot);
}

} // namespace

Registry::Registry(const QString& path)
    : m_path(path)
{
    // SQLite's in-memory database has no folder or file (and Qt reads a leading ':' as one of
    // its resources).
    const bool inMemory = path == QLatin1String(":memory:");
    if (!inMemory && !makePrivateFolder(QFileInfo(path).absolutePath()))
        return;
    const bool existed = !inMemory && QFileInfo(path).isFile();
    // Made by us first, 0600: SQLite gives its journal and index files the mode of the store,
    // so they hold the passwords no more openly than the store does.
    if (!existed && !inMemory)
        createPrivateFile(path);
    // What exists already is made private before SQLite reads it, and its journal and index
    // with it, since SQLite gives new ones the store's mode.
    if (!inMemory) {
        for (const char* suffix : {"", "-wal", "-shm"})
            keepPrivate(path + QLatin1String(suffix));
    }
    Connection db = openReadWrite(path);
    // Running on an empty configuration would connect to the wrong server and lose the contacts,
    // so a file that cannot be written is still read.
    if (!db && existed) {
        db = openReadOnly(path, m_snapshot);
        m_readOnly = db != nullptr;
    }
    m_db = db.release();
}

Registry::~Registry()
{
    sqlite3_close(m_db);
}

bool Registry::transact(const std::function<bool()>& writes)
{
    if (!m_db || m_readOnly)
        return false;
    if (!sqlite3_get_autocommit(m_db))
        return writes();
    if (!execAll(m_db, "BEGIN IMMEDIATE"))
        return false;
    if (writes() && execAll(m_db, "COMMIT"))
        return true;
    // After a full disk SQLite may have rolled back by itself already.
    if (!sqlite3_get_autocommit(m_db))
        execAll(m_db, "ROLLBACK");
    return false;
}

bool Registry::createKey(const QByteArray& key)
{
    if (m_readOnly)
        return false;
    Statement st(m_db, "INSERT OR IGNORE INTO reg_key (path) VALUES (?1)");
    return st.bindText(1, key) && st.step() == SQLITE_DONE;
}

bool Registry::hasKey(const QByteArray& key) const
{
    Statement st(m_db, "SELECT 1 FROM reg_key WHERE path = ?1");
    return st.bindText(1, key) && st.step() == SQLITE_ROW;
}

std::optional<QByteArray> Registry::readValue(const QByteArray& key, const QByteArray& name) const
{
    Statement st(m_db, "SELECT data FROM reg_value WHERE key = ?1 AND name = ?2");
    if (!st.bindText(1, key) || !st.bindText(2, name) || st.step() != SQLITE_ROW)
        return std::nullopt;
    return st.columnBytes(0);
}

bool Registry::writeValue(const QByteArray& key, const QByteArray& name, const QByteArray& data)
{
    if (m_readOnly)
        return false;
    // The upsert updates the row in place, so the value keeps its rowid and with it its place in
    // the enumeration; INSERT OR REPLACE would move it to the end. A missing key is refused by the
    // foreign key.
    Statement st(m_db, "INSERT INTO reg_value (key, name, data) VALUES (?1, ?2, ?3) "
                       "ON CONFLICT (key, name) DO UPDATE SET data = excluded.data");
    return st.bindText(1, key) && st.bindText(2, name) && st.bindBlob(3, data)
           && st.step() == SQLITE_DONE;
}

bool Registry::deleteValue(const QByteArray& key, const QByteArray& name)
{
    if (m_readOnly)
        return false;
    Statement st(m_db, "DELETE FROM reg_value WHERE key = ?1 AND name = ?2");
    return st.bindText(1, key) && st.bindText(2, name) && st.step() == SQLITE_DONE;
}

std::vector<Registry::Value> Registry::values(const QByteArray& key) const
{
    std::vector<Value> result;
    Statement st(m_db, "SELECT name, data FROM reg_value WHERE key = ?1 ORDER BY rowid");
    if (!st.bindText(1, key))
        return result;
    while (st.step() == SQLITE_ROW)
        result.push_back({st.columnBytes(0), st.columnBytes(1)});
    return result;
}

} // namespace config

#include "config/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    // The busy timeout goes first: switching to WAL and creating the schema both need locks that
    // another copy of the program may hold for a moment.
    if (sqlite3_busy_timeout(db, kBusyTimeoutMs) != SQLITE_OK
        || !execAll(db, "PRAGMA journal_mode=WAL") || !execAll(db, "PRAGMA foreign_keys=ON"))
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

} // namespace

Registry::Registry(const QString& path)
    : m_path(path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK || !prepareDatabase(db)) {
        sqlite3_close(db);
        return;
    }
    m_db = db;
}

Registry::~Registry()
{
    sqlite3_close(m_db);
}

bool Registry::createKey(const QByteArray& key)
{
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

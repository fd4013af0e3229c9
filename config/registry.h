#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTemporaryDir;
struct sqlite3;

namespace config {

// A registry-like key/value store in one SQLite file. Keys are paths such as "SOFTWARE\Kivvo";
// a key holds named values (blobs). Names compare without case; values enumerate in the order
// they were created, and rewriting a value keeps its place. Several handles, in this process or
// in other copies of the program, may share the file (WAL journal, busy timeout).
class Registry
{
public:
    struct Value
    {
        QByteArray name;
        QByteArray data;
    };

    // Opens the file, creating it and the schema when missing. A file that exists but cannot be
    // written (read-only file, folder or file system, full disk) is opened read-only, so that
    // what it holds is still used: isReadOnly() tells, and every write then fails. A file that
    // cannot be read at all leaves the registry closed; a closed registry reads as empty and
    // ignores writes. isOpen() tells whether anything could be opened.
    explicit Registry(const QString& path);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    bool isReadOnly() const { return m_readOnly; }
    const QString& path() const { return m_path; }

    bool createKey(const QByteArray& key);
    bool hasKey(const QByteArray& key) const;

    std::optional<QByteArray> readValue(const QByteArray& key, const QByteArray& name) const;
    // Fails (returns false) when the key does not exist: the program never creates keys itself.
    bool writeValue(const QByteArray& key, const QByteArray& name, const QByteArray& data);
    bool deleteValue(const QByteArray& key, const QByteArray& name);
    std::vector<Value> values(const QByteArray& key) const;

    // Runs `writes` as one transaction: when it returns false, or the commit fails (a full
    // disk), nothing of it is stored. Inside a transaction already, it simply runs `writes`.
    bool transact(const std::function<bool()>& writes);

private:
    QString m_path;
    // A private copy of the file that is read when the file itself cannot be (see registry.cpp).
    std::unique_ptr<QTemporaryDir> m_snapshot;
    sqlite3* m_db = nullptr;
    bool m_readOnly = false;
};

} // namespace config

#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

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

    // Opens the file, creating it and the schema when missing. isOpen() tells whether it worked;
    // a closed registry reads as empty and ignores writes.
    explicit Registry(const QString& path);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    bool isOpen() const { return m_db != nullptr; }
    const QString& path() const { return m_path; }

    bool createKey(const QByteArray& key);
    bool hasKey(const QByteArray& key) const;

    std::optional<QByteArray> readValue(const QByteArray& key, const QByteArray& name) const;
    // Fails (returns false) when the key does not exist: the program never creates keys itself.
    bool writeValue(const QByteArray& key, const QByteArray& name, const QByteArray& data);
    bool deleteValue(const QByteArray& key, const QByteArray& name);
    std::vector<Value> values(const QByteArray& key) const;

private:
    QString m_path;
    sqlite3* m_db = nullptr;
};

} // namespace config

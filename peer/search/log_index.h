#pragma once

#include "peer/search/search_text.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

struct sqlite3;

namespace peer {

// One line of a chat log that a search found.
struct LogHit
{
    QString log; // the log's file name, "<nick>.txt"
    qint64 offset = 0;
    QDateTime at; // UTC
    QString text; // the line as shown, formatting codes removed
};

// A full-text index of the chat logs in one SQLite file (FTS5), kept private. The logs are the
// record and the index only a way into them: each log's entry says how much of the file it
// holds and a digest of those bytes, so a log edited, cut or replaced behind its back is indexed
// anew, and an index file that is damaged, of another version or of another logs folder is made
// anew. Several programs may share the file. One thread uses one LogIndex.
class LogIndex
{
public:
    explicit LogIndex(QString path);
    ~LogIndex();
    LogIndex(const LogIndex&) = delete;
    LogIndex& operator=(const LogIndex&) = delete;

    // Opens the index of the logs in `folder`, or makes it anew; false when no index can be had
    // (error() says why).
    bool open(const QString& folder);
    bool isOpen() const { return m_db != nullptr; }
    const QString& error() const { return m_error; }

    // The names of the logs in the folder and of those the index holds, each once.
    std::vector<QString> logNames() const;
    // Brings the index of log `name` up to date with its file, reading at most about `budget`
    // bytes of it in one transaction; the bytes left to read (0: up to date), or nothing when
    // the index could not be written.
    std::optional<qint64> catchUp(const QString& name, qint64 budget);
    // Bytes the logs hold, and bytes of them the index holds.
    std::pair<qint64, qint64> extent() const;

    // The newest lines that hold `search`, in the log `log` alone when given.
    std::vector<LogHit> find(const SearchText& search, const std::optional<QString>& log,
                             int limit) const;

    // The digest of a log's bytes, continued from `state` (which starts at kDigestStart).
    static constexpr quint64 kDigestStart = 14695981039346656037ULL;
    static quint64 digest(quint64 state, QByteArrayView bytes);

private:
    bool makeSchema();
    void close();
    bool exec(const char* sql) const;
    std::optional<qint64> logId(const QString& name, qint64& indexed, quint64& digest);
    bool forget(qint64 id);
    bool insertLines(qint64 id, QByteArrayView bytes, qint64 base, qint64& end);
    bool digestMatches(const QString& path, qint64 indexed, quint64 digest) const;
    QString nameOf(qint64 id) const;

    QString m_path;
    QString m_folder;
    QString m_error;
    sqlite3* m_db = nullptr;
    // What this run already checked against the files: a log's entry that still says the same
    // needs no second reading of what it holds.
    QHash<QString, std::pair<qint64, quint64>> m_checked;
    mutable QHash<qint64, QString> m_names;
};

} // namespace peer
